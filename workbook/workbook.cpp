// SPDX-License-Identifier: MIT
#include "workbook/workbook.h"

#include <fmt/format.h>

#include <algorithm>

#include "workbook/errors.h"
#include "workbook/text.h"

namespace workbook {

Workbook::Workbook() {
    m_formats.emplace_back();
}

uint32_t Workbook::intern_format(const CellFormat& f) {
    if (f == CellFormat{}) return 0;
    // Few distinct formats exist; a linear scan from the newest is quick and keeps ids stable.
    for (size_t i = m_formats.size(); i-- > 1;)
        if (m_formats[i] == f) return static_cast<uint32_t>(i);
    m_formats.push_back(f);
    return static_cast<uint32_t>(m_formats.size() - 1);
}

Sheet& Workbook::add_sheet() {
    std::string name;
    do {
        name = fmt::format("Tabelle{}", m_next_sheet_number++);
    } while (find_sheet(name));
    auto sheet = std::unique_ptr<Sheet>(new Sheet(this, name));
    Sheet* raw = sheet.get();
    size_t pos = 0;
    if (m_active) {
        for (size_t i = 0; i < m_sheets.size(); ++i)
            if (m_sheets[i].get() == m_active) pos = i;
    }
    m_sheets.insert(m_sheets.begin() + static_cast<std::ptrdiff_t>(pos), std::move(sheet));
    m_active = raw;
    return *raw;
}

Sheet& Workbook::sheet(int index) {
    if (index < 1 || index > count())
        throw WorkbookError(fmt::format("Index außerhalb des gültigen Bereichs: {}", index));
    return *m_sheets[static_cast<size_t>(index - 1)];
}

Sheet& Workbook::sheet(std::string_view name) {
    if (Sheet* s = find_sheet(name)) return *s;
    throw WorkbookError(fmt::format("Die Tabelle \"{}\" existiert nicht.", name));
}

Sheet* Workbook::find_sheet(std::string_view name) {
    for (auto& s : m_sheets)
        if (equals_ci(s->name(), name)) return s.get();
    return nullptr;
}

const Sheet* Workbook::find_sheet(std::string_view name) const {
    for (const auto& s : m_sheets)
        if (equals_ci(s->name(), name)) return s.get();
    return nullptr;
}

void Workbook::delete_sheet(std::string_view name) {
    for (size_t i = 0; i < m_sheets.size(); ++i) {
        if (!equals_ci(m_sheets[i]->name(), name)) continue;
        if (m_sheets.size() == 1)
            throw WorkbookError("Eine Arbeitsmappe muss mindestens ein sichtbares Tabellenblatt enthalten.");
        if (display_alerts) ++deletions_with_alerts_on;
        const bool was_active = m_sheets[i].get() == m_active;
        m_sheets.erase(m_sheets.begin() + static_cast<std::ptrdiff_t>(i));
        if (was_active) m_active = m_sheets[std::min(i, m_sheets.size() - 1)].get();
        return;
    }
    throw WorkbookError(fmt::format("Die Tabelle \"{}\" existiert nicht.", name));
}

std::vector<Sheet*> Workbook::sheets_in_tab_order() const {
    std::vector<Sheet*> out;
    out.reserve(m_sheets.size());
    for (const auto& s : m_sheets) out.push_back(s.get());
    return out;
}

}  // namespace workbook
