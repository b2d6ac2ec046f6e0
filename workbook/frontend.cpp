// SPDX-License-Identifier: MIT
#include "workbook/frontend.h"

#include <fmt/format.h>

namespace workbook {

bool FrontendRun::ask_yes_no(std::string_view question) {
    m_ui.elapsed_pause();
    const bool yes = m_ui.ask_yes_no(question);
    m_ui.elapsed_restart();
    m_ui.elapsed_resume();
    return yes;
}

SaveDisplay::~SaveDisplay() {
    if (m_started) m_ui.progress_finish();
}

void SaveDisplay::operator()(int64_t done, int64_t total) {
    if (!m_started) {
        m_started = true;
        m_ui.status("Arbeitsmappe wird gespeichert");
        m_ui.progress_start(ProgressKind::Percent, total);
    }
    m_ui.progress_position(done);
    m_ui.process_events();
}

std::string elapsed_text(std::chrono::milliseconds elapsed) {
    const long long seconds = elapsed.count() / 1000;
    return fmt::format("{} Min : {} Sek", seconds / 60, seconds % 60);
}

std::string Frontend::feature_name(Feature feature) const {
    switch (feature) {
        case Feature::ExportNotesText:
            return "„den Hinweistext exportieren“";
        case Feature::Bid:
            return "„Angebot erstellen (X84)…“ im Menü „Angebot“";
    }
    return {};
}

void RecordingFrontend::message(std::string_view text) {
    events.push_back("message: " + std::string(text));
    messages.emplace_back(text);
}
void RecordingFrontend::error_dialog(std::string_view text) {
    events.push_back("error: " + std::string(text));
    messages.emplace_back(text);
}
bool RecordingFrontend::ask_yes_no(std::string_view text) {
    events.push_back("ask: " + std::string(text));
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.erase(answers.begin());
    return answer;
}
void RecordingFrontend::status(std::string_view text) {
    events.push_back("status: " + std::string(text));
}
void RecordingFrontend::beep() {
    events.emplace_back("beep");
}
void RecordingFrontend::progress_start(ProgressKind kind, int64_t maximum) {
    const char* name = kind == ProgressKind::Bar       ? "bar"
                       : kind == ProgressKind::Marquee ? "marquee"
                                                       : "percent";
    events.push_back(fmt::format("progress: {} {}", name, maximum));
    progress_max = maximum;
    progress_pos = 0;
}
void RecordingFrontend::progress_maximum(int64_t maximum) {
    progress_max = maximum;
}
void RecordingFrontend::progress_step(int64_t steps) {
    progress_pos += steps;
}
void RecordingFrontend::progress_position(int64_t position) {
    progress_pos = position;
}
void RecordingFrontend::progress_finish() {
    events.emplace_back("progress: finish");
}
void RecordingFrontend::elapsed_restart() {
    events.emplace_back("elapsed: restart");
}
void RecordingFrontend::elapsed_stop() {
    events.emplace_back("elapsed: stop");
}
void RecordingFrontend::lock_controls() {
    locked = true;
    events.emplace_back("lock");
}
void RecordingFrontend::unlock_controls() {
    locked = false;
    events.emplace_back("unlock");
}

}  // namespace workbook
