// SPDX-License-Identifier: MIT
// The in-memory workbook: its sheets in tab order, the formats and the string store they share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/sheet.h"
#include "workbook/string_store.h"

namespace workbook {

// BuiltinDocumentProperties: what the saved file says about itself. The file's dates are fixed by
// the saver, so that equal input gives equal files.
struct DocumentProperties {
    std::string title;
    std::string subject;
    std::string application;  // the program that made the file, with its version
};

class Workbook {
public:
    Workbook();
    // Sheets.Add: a new sheet in front of the active one, selected.
    Sheet& add_sheet();
    // Sheets.Item(n), 1-based in tab order; Sheets.Item(name). Throw WorkbookError when missing.
    Sheet& sheet(int index);
    Sheet& sheet(std::string_view name);
    Sheet* find_sheet(std::string_view name);
    const Sheet* find_sheet(std::string_view name) const;
    int count() const { return static_cast<int>(m_sheets.size()); }
    // Sheets(name).Delete; the application asks first unless alerts are off: we record that.
    void delete_sheet(std::string_view name);
    Sheet* active() { return m_active; }
    const Sheet* active() const { return m_active; }
    void activate(Sheet& sheet) { m_active = &sheet; }
    std::vector<Sheet*> sheets_in_tab_order() const;

    uint32_t intern_format(const CellFormat& f);
    const CellFormat& format(uint32_t id) const { return m_formats[id]; }
    StringStore& strings() { return m_strings; }
    const StringStore& strings() const { return m_strings; }

    DocumentProperties& properties() { return m_properties; }
    const DocumentProperties& properties() const { return m_properties; }

    bool display_alerts = true;
    int deletions_with_alerts_on = 0;  // deletions that would have asked the user

private:
    std::vector<std::unique_ptr<Sheet>> m_sheets;  // tab order
    Sheet* m_active = nullptr;
    std::vector<CellFormat> m_formats;  // id 0 = no explicit format
    StringStore m_strings;
    DocumentProperties m_properties;
    int m_next_sheet_number = 1;
};

}  // namespace workbook
