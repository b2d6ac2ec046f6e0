// SPDX-License-Identifier: MIT
// TFormCheck: the wait window shown during the GAEB 90 detection run.
#pragma once

#include <QWidget>

class QLabel;

namespace app::window {

class TFormCheck : public QWidget {
    Q_OBJECT
public:
    explicit TFormCheck(QWidget* owner);

    // Shows the window centred on the screen and paints it at once, without blocking.
    void show_now();

private:
    QLabel* m_label;
};

}  // namespace app::window
