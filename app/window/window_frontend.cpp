// SPDX-License-Identifier: MIT
#include "app/window/window_frontend.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <climits>

#include "app/window/gauge.h"
#include "app/window/main_window.h"
#include "app/window/wait_window.h"

namespace app::window {

namespace {

int bar_value(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, 0, INT_MAX));
}

// Pending events run at most this often: readers ask after every row, and a timer tick or a
// repaint needs far less.
constexpr int kEventsIntervalMs = 20;

}  // namespace

bool is_completion_message(std::string_view text) {
    return text.starts_with("Konvertierung abgeschlossen.");
}

void WindowFrontend::begin_run() {
    m_in_run = true;
    m_completion.clear();
    m_elapsed_stopped = false;
}

std::string WindowFrontend::end_run() {
    m_in_run = false;
    return std::exchange(m_completion, {});
}

void WindowFrontend::message(std::string_view text) {
    if (m_in_run && is_completion_message(text)) {
        m_completion = std::string(text);
        return;
    }
    m_form.box(Desktop::Box::Message, text);
}

void WindowFrontend::error_dialog(std::string_view text) {
    m_form.box(Desktop::Box::Error, text);
}

bool WindowFrontend::ask_yes_no(std::string_view text) {
    return m_form.box(Desktop::Box::Question, text);
}

void WindowFrontend::status(std::string_view text) {
    m_form.Label4->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    m_form.centre_status();
}

void WindowFrontend::beep() {
    QApplication::beep();
}

void WindowFrontend::progress_start(workbook::ProgressKind kind, int64_t maximum) {
    // The save follows the conversion's display, which it gives back when it is over.
    m_kind_before_save = kind == workbook::ProgressKind::Percent ? m_kind : kind;
    m_kind = kind;
    if (kind != workbook::ProgressKind::Marquee) {
        // A maximum of 0 (GAEB 2000 before its line count is known) shows a busy bar.
        m_form.ProgressBar1->setRange(0, bar_value(maximum));
        m_form.ProgressBar1->setValue(0);
        m_form.ProgressBar1->show();
        m_form.Gauge1->hide();
    } else {
        m_form.ProgressBar1->hide();
        m_form.Gauge1->set_progress(0);
        m_form.Gauge2->set_progress(m_form.Gauge2->maximum());
        m_form.Gauge1->show();
        m_form.Gauge2->show();
        m_form.Timer2->start();
    }
    m_elapsed_stopped = false;
    m_form.Timer1->start();
}

void WindowFrontend::progress_maximum(int64_t maximum) {
    m_form.ProgressBar1->setMaximum(bar_value(maximum));
}

void WindowFrontend::progress_step(int64_t steps) {
    QProgressBar* bar = m_form.ProgressBar1;
    bar->setValue(std::min(bar->maximum(), bar_value(int64_t{bar->value()} + steps)));
}

void WindowFrontend::progress_position(int64_t position) {
    QProgressBar* bar = m_form.ProgressBar1;
    bar->setValue(std::min(bar->maximum(), bar_value(position)));
}

void WindowFrontend::progress_finish() {
    // After the save the strip of a GAEB DA XML run shows its finished state again.
    if (m_kind == workbook::ProgressKind::Percent && m_kind_before_save == workbook::ProgressKind::Marquee)
        m_form.Gauge1->show();
    if (m_kind == workbook::ProgressKind::Marquee) {
        m_form.Timer1->stop();
        m_form.Timer2->stop();
        // Both halves of the strip purple.
        m_form.Gauge1->set_progress(m_form.Gauge1->maximum());
        m_form.Gauge2->set_progress(0);
    }
    m_form.ProgressBar1->hide();
}

void WindowFrontend::elapsed_restart() {
    m_form.m_start_tick = m_form.m_clock();
}

void WindowFrontend::elapsed_pause() {
    m_form.Timer1->stop();
}

void WindowFrontend::elapsed_resume() {
    if (!m_elapsed_stopped && !m_form.Timer1->isActive()) m_form.Timer1->start();
}

void WindowFrontend::elapsed_stop() {
    m_form.Timer1->stop();
    m_elapsed_stopped = true;
    m_form.Dauer();
}

void WindowFrontend::lock_controls() {
    m_form.Label4->setText(QStringLiteral("Konvertierung läuft. Bitte warten.."));
    m_form.Label4->show();
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_form.Button1, m_form.Button2, m_form.Button3, m_form.Edit1,
                                         m_form.Textoptionen, m_form.ExcelFunktionen})
        w->setEnabled(false);
    busy_cursor(true);
}

void WindowFrontend::unlock_controls() {
    m_form.Hilfe1->setEnabled(true);
    m_form.Info1->setEnabled(true);
    for (QWidget* w : std::initializer_list<QWidget*>{m_form.Button1, m_form.Button2, m_form.Button3,
                                                      m_form.DateiBox, m_form.Edit1, m_form.Label5,
                                                      m_form.Textoptionen, m_form.ExcelFunktionen})
        w->setEnabled(true);
}

void WindowFrontend::busy_cursor(bool on) {
    if (on == m_busy) return;
    m_busy = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void WindowFrontend::wait_window(bool on) {
    if (on)
        m_form.m_check->show_now();
    else
        m_form.m_check->hide();
}

void WindowFrontend::process_events() {
    if (m_since_events.isValid() && m_since_events.elapsed() < kEventsIntervalMs) return;
    QCoreApplication::processEvents();
    m_since_events.start();
}

}  // namespace app::window
