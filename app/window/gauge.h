// SPDX-License-Identifier: MIT
// A bar gauge without text or border: the share progress/maximum is drawn in the fore colour
// from the left, the rest in the back colour.
#pragma once

#include <QColor>
#include <QWidget>

namespace app::window {

class Gauge : public QWidget {
    Q_OBJECT
public:
    Gauge(QWidget* parent, int maximum, QColor fore, QColor back);

    int maximum() const { return m_maximum; }
    int progress() const { return m_progress; }
    // Clamped to 0..maximum.
    void set_progress(int progress);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_maximum;
    int m_progress = 0;
    QColor m_fore, m_back;
};

}  // namespace app::window
