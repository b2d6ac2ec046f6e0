// SPDX-License-Identifier: MIT
// What a conversion tells the user and asks them, whatever shows it: the console, the window,
// or a recording for tests. Every text is the system's own; "\n" and "\r" both break lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bill/sink.h"

namespace workbook {

// Percent: a bar whose position is shown as a share of its maximum (the save of the workbook).
enum class ProgressKind { Bar, Marquee, Percent };

// What a message may point the user to: an option of the conversion, or another command.
enum class Feature { ExportNotesText, Bid };

class Frontend {
public:
    virtual ~Frontend() = default;

    virtual void message(std::string_view text) = 0;       // plain message box, OK
    virtual void error_dialog(std::string_view text) = 0;  // error icon, OK
    virtual bool ask_yes_no(std::string_view text) = 0;    // confirmation, Yes and No
    virtual void status(std::string_view text) = 0;        // status line of the progress panel
    virtual void beep() = 0;

    // Progress: a bar (GAEB 90, GAEB 2000) or a marquee (GAEB DA XML).
    virtual void progress_start(ProgressKind kind, int64_t maximum) = 0;
    virtual void progress_maximum(int64_t maximum) = 0;
    virtual void progress_step(int64_t steps = 1) = 0;
    virtual void progress_position(int64_t position) = 0;
    virtual void progress_finish() = 0;  // bar hidden and removed / marquee full

    // Elapsed time: restarted from zero (the GAEB 90 rules question restarts it), paused while
    // a GAEB 90 run waits between records, running otherwise.
    virtual void elapsed_restart() = 0;
    virtual void elapsed_pause() {}
    virtual void elapsed_resume() {}
    virtual void elapsed_stop() = 0;

    // Window lock: controls disabled during the run; re-enabled by refusals and at the end.
    virtual void lock_controls() {}
    virtual void unlock_controls() {}
    virtual void busy_cursor(bool) {}
    // The wait window of the GAEB 90 detection run.
    virtual void wait_window(bool) {}

    // Let pending window messages run; cheap, called after every row.
    virtual void process_events() {}

    // How the user reaches `feature`, for a hint in a message: the window's control in „…“ (this
    // default), the console's option.
    virtual std::string feature_name(Feature feature) const;
};

// A reader's progress and questions on a front end. A question pauses the elapsed time and
// restarts it from zero when answered (the GAEB 90 rules question comes before the real work).
class FrontendRun : public bill::Run {
public:
    explicit FrontendRun(Frontend& ui) : m_ui(ui) {}
    void progress_maximum(int64_t maximum) override { m_ui.progress_maximum(maximum); }
    void progress_step(int64_t steps) override { m_ui.progress_step(steps); }
    void progress_position(int64_t position) override { m_ui.progress_position(position); }
    bool ask_yes_no(std::string_view question) override;
    void busy(bool on) override { m_ui.busy_cursor(on); }
    void process_events() override { m_ui.process_events(); }

private:
    Frontend& m_ui;
};

// The save of the workbook as a phase of its own in the progress display: on the save's first
// report the status "Arbeitsmappe wird gespeichert" and a bar in percent, moved by every report
// (pending window messages run), removed again when the object goes. Pass it to the save as its
// progress callback.
class SaveDisplay {
public:
    explicit SaveDisplay(Frontend& ui) : m_ui(ui) {}
    ~SaveDisplay();
    SaveDisplay(const SaveDisplay&) = delete;
    SaveDisplay& operator=(const SaveDisplay&) = delete;

    void operator()(int64_t done, int64_t total);

private:
    Frontend& m_ui;
    bool m_started = false;
};

// "2 Min : 5 Sek" for 125 seconds; whole seconds, truncated.
std::string elapsed_text(std::chrono::milliseconds elapsed);

// Records every call as a line, answers questions from a queue (default: No). For tests.
class RecordingFrontend : public Frontend {
public:
    std::vector<std::string> events;    // "message: ...", "error: ...", "ask: ...", "status: ..."
    std::vector<std::string> messages;  // message and error texts only, in order
    std::vector<bool> answers;          // answers to ask_yes_no, taken from the front
    int64_t progress_max = 0, progress_pos = 0;
    bool locked = false;

    void message(std::string_view text) override;
    void error_dialog(std::string_view text) override;
    bool ask_yes_no(std::string_view text) override;
    void status(std::string_view text) override;
    void beep() override;
    void progress_start(ProgressKind kind, int64_t maximum) override;
    void progress_maximum(int64_t maximum) override;
    void progress_step(int64_t steps) override;
    void progress_position(int64_t position) override;
    void progress_finish() override;
    void elapsed_restart() override;
    void elapsed_stop() override;
    void lock_controls() override;
    void unlock_controls() override;
};

}  // namespace workbook
