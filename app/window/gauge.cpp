// SPDX-License-Identifier: MIT
#include "app/window/gauge.h"

#include <QPainter>
#include <algorithm>

namespace app::window {

Gauge::Gauge(QWidget* parent, int maximum, QColor fore, QColor back)
    : QWidget(parent), m_maximum(std::max(maximum, 1)), m_fore(fore), m_back(back) {}

void Gauge::set_progress(int progress) {
    progress = std::clamp(progress, 0, m_maximum);
    if (progress == m_progress) return;
    m_progress = progress;
    update();
}

void Gauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), m_back);
    const int filled = static_cast<int>(static_cast<long long>(width()) * m_progress / m_maximum);
    p.fillRect(QRect(0, 0, filled, height()), m_fore);
}

}  // namespace app::window
