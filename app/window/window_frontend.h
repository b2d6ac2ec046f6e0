// SPDX-License-Identifier: MIT
// The window's side of a conversion: message boxes, the status line Label4, the progress bar or
// the marquee, the elapsed time, the window lock, the busy cursor and the wait window.
#pragma once

#include <QElapsedTimer>
#include <string>

#include "workbook/frontend.h"

namespace app::window {

class TForm1;

class WindowFrontend : public workbook::Frontend {
public:
    explicit WindowFrontend(TForm1& form) : m_form(form) {}

    void message(std::string_view text) override;
    void error_dialog(std::string_view text) override;
    bool ask_yes_no(std::string_view text) override;
    void status(std::string_view text) override;
    void beep() override;

    void progress_start(workbook::ProgressKind kind, int64_t maximum) override;
    void progress_maximum(int64_t maximum) override;
    void progress_step(int64_t steps = 1) override;
    void progress_position(int64_t position) override;
    void progress_finish() override;

    void elapsed_restart() override;
    void elapsed_pause() override;
    void elapsed_resume() override;
    void elapsed_stop() override;

    void lock_controls() override;
    void unlock_controls() override;
    void busy_cursor(bool on) override;
    void wait_window(bool on) override;
    void process_events() override;

    // While a run is on, the completion message of the finishing pass is held back: the window
    // shows it after saving, with the saved file's name added.
    void begin_run();
    std::string end_run();
    bool busy() const { return m_busy; }

private:
    TForm1& m_form;
    workbook::ProgressKind m_kind = workbook::ProgressKind::Bar;
    workbook::ProgressKind m_kind_before_save = workbook::ProgressKind::Bar;
    bool m_in_run = false;
    bool m_busy = false;
    bool m_elapsed_stopped = false;
    std::string m_completion;
    QElapsedTimer m_since_events;
};

// Whether `text` is one of the finishing pass's completion messages.
bool is_completion_message(std::string_view text);

}  // namespace app::window
