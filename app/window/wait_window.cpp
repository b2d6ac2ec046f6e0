// SPDX-License-Identifier: MIT
#include "app/window/wait_window.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QThread>
#include <QWindow>

namespace app::window {

TFormCheck::TFormCheck(QWidget* owner)
    : QWidget(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint), m_label(new QLabel(this)) {
    setObjectName(QStringLiteral("TFormCheck"));
    setWindowTitle(QStringLiteral("Bremora Kasimo"));
    setFixedSize(240, 58);
    setCursor(Qt::WaitCursor);
    m_label->setObjectName(QStringLiteral("Label1"));
    m_label->setText(QStringLiteral("Prüflauf. Bitte warten.."));
    m_label->adjustSize();
    m_label->move(48, 24);
    m_label->setMinimumWidth(137);
}

void TFormCheck::show_now() {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    raise();
    // The detection run blocks the window thread right after this: the window has to be mapped
    // and painted now, not at the next turn of the message loop. The display server may expose
    // it in several steps, so events run for a short while even once it is exposed.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 500 &&
           (waited.elapsed() < 100 || !windowHandle() || !windowHandle()->isExposed())) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(5);
    }
}

}  // namespace app::window
