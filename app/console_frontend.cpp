// SPDX-License-Identifier: MIT
#include "app/console_frontend.h"

#include <fmt/format.h>

#include <algorithm>
#include <iostream>

#include "app/memory.h"

namespace app {

using Clock = std::chrono::steady_clock;

ConsoleFrontend::ConsoleFrontend(std::FILE* out, std::optional<bool> answer, bool interactive,
                                 bool progress_line)
    : m_out(out), m_answer(answer), m_interactive(interactive), m_progress_line(progress_line) {}

std::string ConsoleFrontend::console_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out.push_back('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

void ConsoleFrontend::clear_line() {
    if (m_line_shown) {
        std::fputs("\r\033[K", m_out);
        m_line_shown = false;
    }
}

void ConsoleFrontend::print_block(const ShownMessage& message) {
    clear_line();
    std::string body = message.kind == ShownMessage::Kind::Error   ? "Fehler: " + message.text
                       : message.kind == ShownMessage::Kind::Usage ? "bremora-cli: " + message.text
                                                                   : message.text;
    std::fputs(body.c_str(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

void ConsoleFrontend::show(ShownMessage::Kind kind, std::string_view text) {
    ShownMessage message{kind, console_text(text)};
    while (!message.text.empty() && message.text.back() == '\n') message.text.pop_back();
    if (!m_quiet) {
        print_block(message);
        message.printed = true;
    }
    if (m_keep || m_quiet) m_shown.push_back(std::move(message));
}

void ConsoleFrontend::show_quiet(bool failed) {
    for (ShownMessage& message : m_shown) {
        const bool error =
            message.kind == ShownMessage::Kind::Error || message.kind == ShownMessage::Kind::Usage;
        if (!message.printed && (failed || error)) {
            print_block(message);
            message.printed = true;
        }
    }
}

void ConsoleFrontend::message(std::string_view text) {
    if (memory_exhausted()) return;
    constexpr std::string_view completed = "Konvertierung abgeschlossen.",
                               ends = "Das Programm wird jetzt beendet.";
    if (text.starts_with(completed) && text.ends_with(ends) &&
        text.substr(completed.size(), text.size() - completed.size() - ends.size())
                .find_first_not_of("\r\n") == std::string_view::npos)
        text = completed;
    show(ShownMessage::Kind::Message, text);
}

std::string ConsoleFrontend::feature_name(workbook::Feature feature) const {
    switch (feature) {
        case workbook::Feature::ExportNotesText:
            return "--hinweistext";
        case workbook::Feature::Bid:
            return "--angebot";
    }
    return {};
}

void ConsoleFrontend::error_dialog(std::string_view text) {
    if (!memory_exhausted()) show(ShownMessage::Kind::Error, text);
}

void ConsoleFrontend::closing_message(std::string_view text) {
    show(ShownMessage::Kind::Closing, text);
}

void ConsoleFrontend::closing_error(std::string_view text) {
    show(ShownMessage::Kind::Error, text);
}

void ConsoleFrontend::usage_error(std::string_view text) {
    show(ShownMessage::Kind::Usage, text);
}

bool ConsoleFrontend::ask_yes_no(std::string_view text) {
    if (m_answer) {
        show(ShownMessage::Kind::Question,
             std::string(text) + (*m_answer ? "\n-> ja (--regelungen=ja)" : "\n-> nein (--regelungen=nein)"));
        return *m_answer;
    }
    if (!m_interactive) {
        show(ShownMessage::Kind::Question,
             std::string(text) + "\n-> nein (keine Eingabe möglich; mit --regelungen=ja|nein vorgeben)");
        return false;
    }
    while (true) {
        clear_line();
        std::fputs(console_text(text).c_str(), m_out);
        std::fputs(" [j/n] ", m_out);
        std::fflush(m_out);
        std::string reply;
        bool answer = false;
        if (!std::getline(std::cin, reply)) {
            std::fputc('\n', m_out);
        } else if (reply == "j" || reply == "J" || reply == "ja" || reply == "Ja") {
            answer = true;
        } else if (!(reply == "n" || reply == "N" || reply == "nein" || reply == "Nein")) {
            continue;
        }
        if (m_keep || m_quiet)
            m_shown.push_back({ShownMessage::Kind::Question,
                               console_text(text) + (answer ? "\n-> ja" : "\n-> nein"), true});
        return answer;
    }
}

void ConsoleFrontend::status(std::string_view text) {
    m_status = std::string(text);
    draw(true);
}

void ConsoleFrontend::beep() {
    if (m_progress_line && !m_quiet) {
        std::fputc('\a', m_out);
        std::fflush(m_out);
    }
}

void ConsoleFrontend::progress_start(workbook::ProgressKind kind, int64_t maximum) {
    // The save after the conversion: the clock goes on, so that the line is seen to be alive.
    if (kind == workbook::ProgressKind::Percent) m_stopped_at.reset();
    m_kind = kind;
    m_max = maximum;
    m_pos = 0;
    m_active = true;
    draw(true);
}
void ConsoleFrontend::progress_maximum(int64_t maximum) {
    m_max = maximum;
}
void ConsoleFrontend::progress_step(int64_t steps) {
    m_pos += steps;
    draw(false);
}
void ConsoleFrontend::progress_position(int64_t position) {
    m_pos = position;
    draw(false);
}
void ConsoleFrontend::progress_finish() {
    m_active = false;
    clear_line();
}

void ConsoleFrontend::elapsed_restart() {
    m_start = Clock::now();
    m_paused_total = {};
    m_paused_at.reset();
    m_stopped_at.reset();
}
void ConsoleFrontend::elapsed_pause() {
    if (!m_paused_at) m_paused_at = Clock::now();
}
void ConsoleFrontend::elapsed_resume() {
    if (m_paused_at) {
        m_paused_total += std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *m_paused_at);
        m_paused_at.reset();
    }
}
void ConsoleFrontend::elapsed_stop() {
    m_stopped_at =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start) - m_paused_total;
}

void ConsoleFrontend::draw(bool force) {
    if (!m_progress_line || !m_active || m_quiet) return;
    const auto now = Clock::now();
    if (!force && now - m_last_draw < std::chrono::milliseconds(200)) return;
    m_last_draw = now;
    const auto elapsed =
        m_stopped_at ? *m_stopped_at
                     : std::chrono::duration_cast<std::chrono::milliseconds>(now - m_start) - m_paused_total;
    std::string what;
    if (m_kind == workbook::ProgressKind::Percent) {
        what = fmt::format("… {} %", m_max > 0 ? std::clamp<int64_t>(m_pos, 0, m_max) * 100 / m_max : 0);
    } else if (m_kind == workbook::ProgressKind::Bar && m_max > 0) {
        const int64_t pos = std::min(m_pos, m_max);
        what = fmt::format("{} von {} Zeilen ({} %)", pos, m_max, pos * 100 / m_max);
    } else if (m_kind == workbook::ProgressKind::Bar) {
        what = fmt::format("{} Zeilen", m_pos);
    } else {
        static const char* spinner = "|/-\\";
        what = fmt::format("läuft {}", spinner[(elapsed.count() / 200) % 4]);
    }
    std::string line = fmt::format("\r\033[K{}{}{} – {}", m_status.empty() ? "" : m_status,
                                   m_status.empty() ? "" : " ", what, workbook::elapsed_text(elapsed));
    std::fputs(line.c_str(), m_out);
    std::fflush(m_out);
    m_line_shown = true;
}

}  // namespace app
