// SPDX-License-Identifier: MIT
// The spreadsheet session: the application object the readers drive, with its in-memory
// workbooks, saved as a real .xlsx file by workbook/xlsx.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "workbook/errors.h"
#include "workbook/workbook.h"

namespace workbook {

inline constexpr int kWindowMinimized = -4140;
inline constexpr int kWindowMaximized = -4137;

// The application object. Without a connection every call throws.
class ExcelSession {
public:
    // Connect: attaches to our in-memory application; never fails here.
    void Connect();
    void release();  // the connection is released; the workbook stays for saving
    bool connected() const { return m_connected; }

    void set_window_state(int state);
    int window_state() const { return m_window_state; }
    void set_visible(bool v);
    bool visible() const { return m_visible; }
    void set_screen_updating(bool v);
    bool screen_updating() const { return m_screen_updating; }
    void set_display_alerts(bool v);
    void set_sheets_in_new_workbook(int n);
    double InchesToPoints(double inches) const { return inches * 72.0; }
    // Application.Name and .Version as one text ("Bremora 2.20.05"): the creating application of
    // every workbook added from now on.
    void set_application_name(std::string name) { m_application_name = std::move(name); }
    const std::string& application_name() const { return m_application_name; }

    void add_workbook();  // Workbooks.Add with SheetsInNewWorkBook sheets
    int workbooks_count() const { return static_cast<int>(m_workbooks.size()); }
    void activate_workbook(int index);  // 1-based

    // The active workbook; throws without connection or without workbook.
    Workbook& workbook();
    // The workbook even after the connection was released (for saving); null when none.
    Workbook* result() { return m_active; }

    // Number formats as the locale writes them, and their invariant forms for the file.
    void set_locale_number_formats(std::string money_local, std::string quantity_local);
    std::string invariant_number_format(std::string_view local) const;

private:
    void require() const;
    bool m_connected = false;
    int m_window_state = -4143;
    bool m_visible = false;
    bool m_screen_updating = true;
    bool m_display_alerts = true;
    int m_sheets_in_new = 3;
    std::vector<std::unique_ptr<Workbook>> m_workbooks;
    Workbook* m_active = nullptr;
    std::string m_money_local, m_quantity_local;
    std::string m_application_name = "Bremora";
};

}  // namespace workbook
