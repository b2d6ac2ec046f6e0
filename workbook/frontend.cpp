// SPDX-License-Identifier: MIT
#include "workbook/frontend.h"

#include <fmt/format.h>

namespace workbook {

std::string elapsed_text(std::chrono::milliseconds elapsed) {
    const long long seconds = elapsed.count() / 1000;
    return fmt::format("{} Min : {} Sek", seconds / 60, seconds % 60);
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
    events.push_back(fmt::format("progress: {} {}", kind == ProgressKind::Bar ? "bar" : "marquee", maximum));
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
