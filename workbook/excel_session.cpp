// SPDX-License-Identifier: MIT
#include "workbook/excel_session.h"

#include <fmt/format.h>

namespace workbook {

void ExcelSession::Connect() {
    m_connected = true;
}
void ExcelSession::release() {
    m_connected = false;
}

void ExcelSession::require() const {
    if (!m_connected) throw BremoraError("EOleError", "Keine Verbindung zur Tabellenkalkulation.");
}

void ExcelSession::set_window_state(int state) {
    require();
    m_window_state = state;
}
void ExcelSession::set_visible(bool v) {
    require();
    m_visible = v;
}
void ExcelSession::set_screen_updating(bool v) {
    require();
    m_screen_updating = v;
}
void ExcelSession::set_display_alerts(bool v) {
    require();
    m_display_alerts = v;
    for (auto& wb : m_workbooks) wb->display_alerts = v;
}
void ExcelSession::set_sheets_in_new_workbook(int n) {
    require();
    if (n < 1 || n > 255) throw WorkbookError("Ungültige Anzahl von Tabellenblättern");
    m_sheets_in_new = n;
}

void ExcelSession::add_workbook() {
    require();
    auto wb = std::make_unique<Workbook>();
    wb->display_alerts = m_display_alerts;
    wb->properties().application = m_application_name;
    for (int i = 0; i < m_sheets_in_new; ++i) wb->add_sheet();
    // New workbooks number their sheets from the left.
    auto sheets = wb->sheets_in_tab_order();
    for (size_t i = 0; i < sheets.size(); ++i) sheets[i]->set_name(fmt::format("~{}", i + 1));
    for (size_t i = 0; i < sheets.size(); ++i) sheets[i]->set_name(fmt::format("Tabelle{}", i + 1));
    wb->activate(*sheets.front());
    m_workbooks.push_back(std::move(wb));
    m_active = m_workbooks.back().get();
}

void ExcelSession::activate_workbook(int index) {
    require();
    if (index < 1 || index > workbooks_count()) throw WorkbookError("Index außerhalb des gültigen Bereichs");
    m_active = m_workbooks[static_cast<size_t>(index - 1)].get();
}

Workbook& ExcelSession::workbook() {
    require();
    if (!m_active) throw WorkbookError("Es ist keine Arbeitsmappe geöffnet.");
    return *m_active;
}

void ExcelSession::set_locale_number_formats(std::string money_local, std::string quantity_local) {
    m_money_local = std::move(money_local);
    m_quantity_local = std::move(quantity_local);
}

std::string ExcelSession::invariant_number_format(std::string_view local) const {
    if (!m_money_local.empty() && local == m_money_local) return "#,###,##0.00";
    if (!m_quantity_local.empty() && local == m_quantity_local) return "#######0.000";
    return std::string(local);
}

}  // namespace workbook
