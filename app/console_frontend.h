// SPDX-License-Identifier: MIT
// The console's front end: messages to stderr, the rules question answered by the command line
// or at the terminal, and a progress line that only a terminal sees.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "workbook/frontend.h"

namespace app {

// A message as the console showed it, kept for the run's report.
struct ShownMessage {
    enum class Kind { Message, Error, Usage, Question, Closing };
    Kind kind = Kind::Message;
    std::string text;      // without "Fehler: " or "bremora-cli: " before it; line breaks as "\n"
    bool printed = false;  // already on the console
};

class ConsoleFrontend : public workbook::Frontend {
public:
    // `answer`: the preset answer to yes/no questions (--regelungen); without it the terminal is
    // asked, and "nein" is taken when standard input is no terminal.
    ConsoleFrontend(std::FILE* out, std::optional<bool> answer, bool interactive, bool progress_line);

    // Once memory has run out (see memory.h) the run's own messages are left out: whatever a step
    // reports then is a consequence, and the program's closing message says what happened.
    // The finishing pass's "Konvertierung abgeschlossen." comes without its "Das Programm wird
    // jetzt beendet.": on the console the workbook is saved after it, and the last line of a run
    // is its result.
    void message(std::string_view text) override;
    void error_dialog(std::string_view text) override;
    // The program's closing message, always shown.
    void closing_message(std::string_view text);
    // A usage error: "bremora-cli: " + text.
    void usage_error(std::string_view text);
    // An error after the run ("Fehler: " + text), shown also once memory has run out.
    void closing_error(std::string_view text);
    bool ask_yes_no(std::string_view text) override;
    // The command-line options: "--hinweistext", "--angebot".
    std::string feature_name(workbook::Feature feature) const override;
    void status(std::string_view text) override;
    void beep() override;
    void progress_start(workbook::ProgressKind kind, int64_t maximum) override;
    void progress_maximum(int64_t maximum) override;
    void progress_step(int64_t steps) override;
    void progress_position(int64_t position) override;
    void progress_finish() override;
    void elapsed_restart() override;
    void elapsed_pause() override;
    void elapsed_resume() override;
    void elapsed_stop() override;

    // "\n" and "\r" become line breaks (a CR LF pair one break).
    static std::string console_text(std::string_view text);

    // Every message shown so far, in order, kept only when asked for (a run may show millions).
    void keep_messages(bool keep) { m_keep = keep; }
    const std::vector<ShownMessage>& shown() const { return m_shown; }
    // --leise: messages are only kept (keep_messages), no progress line is drawn, and show_quiet() prints at
    // the end what is due: every message of a run that failed, else only the errors. A question at the
    // terminal is still asked.
    void set_quiet(bool quiet) { m_quiet = quiet; }
    void show_quiet(bool failed);

private:
    void show(ShownMessage::Kind kind, std::string_view text);
    void print_block(const ShownMessage& message);
    void draw(bool force);
    void clear_line();

    std::FILE* m_out;
    std::optional<bool> m_answer;
    bool m_interactive;
    bool m_progress_line;
    bool m_quiet = false;
    bool m_keep = false;
    std::vector<ShownMessage> m_shown;
    bool m_line_shown = false;
    bool m_active = false;
    workbook::ProgressKind m_kind = workbook::ProgressKind::Bar;
    int64_t m_max = 0, m_pos = 0;
    std::string m_status;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_last_draw{};
    std::chrono::milliseconds m_paused_total{0};
    std::optional<std::chrono::steady_clock::time_point> m_paused_at;
    std::optional<std::chrono::milliseconds> m_stopped_at;
};

}  // namespace app
