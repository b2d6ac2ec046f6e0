// SPDX-License-Identifier: MIT
#include "app/window/desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

namespace app::window {

bool Desktop::show_box(QWidget* parent, Box kind, const QString& text) {
    QMessageBox box(parent);
    box.setWindowTitle(QStringLiteral("Bremora Kasimo"));
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    if (kind == Box::Question) {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.button(QMessageBox::Yes)->setText(QStringLiteral("&Ja"));
        box.button(QMessageBox::No)->setText(QStringLiteral("&Nein"));
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    }
    box.setIcon(kind == Box::Error ? QMessageBox::Critical : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
    return true;
}

QString Desktop::choose_file(QWidget* parent, const QString& caption, const QString& filter,
                             const QString& folder) {
    return QFileDialog::getOpenFileName(parent, caption, folder, filter);
}

bool Desktop::open_url(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

QString Desktop::documents_folder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty()) folder = QDir::homePath();
    QDir().mkpath(folder);
    return folder;
}

void Desktop::end_program() {
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

}  // namespace app::window
