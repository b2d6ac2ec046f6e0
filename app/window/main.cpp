// SPDX-License-Identifier: MIT
// bremora: the desktop window over the conversion core.
#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QTranslator>
#include <clocale>

#include "app/controller.h"
#include "app/temp_file.h"
#include "app/window/desktop.h"
#include "app/window/main_window.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The locale's separators are read once for the number formats; numbers inside the
    // program are written and parsed in the "C" notation.
    std::setlocale(LC_ALL, "");
    const workbook::StartupValues values = app::startup_values();
    std::setlocale(LC_NUMERIC, "C");

    QApplication::setApplicationName(QStringLiteral("bremora"));
    // The desktop entry and the icon installed with the program.
    QGuiApplication::setDesktopFileName(QStringLiteral("de.bremora.Bremora"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("bremora")));
    // Qt's own dialogs (the open dialog, standard buttons) speak German like the rest.
    QTranslator qt_texts;
    if (qt_texts.load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qt_texts);

    app::install_temp_cleanup_handlers();
    app::window::Desktop desktop;
    app::window::TForm1 form(desktop, values);
    if (const QScreen* screen = form.screen())
        form.move(screen->availableGeometry().center() - form.frameGeometry().center());
    form.show();
    form.Kommando(QApplication::arguments());
    return QApplication::exec();
}
