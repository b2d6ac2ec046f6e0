// SPDX-License-Identifier: MIT
// What the window asks of the desktop: message boxes, the open dialog, opening files and
// addresses in their default applications, the documents folder, ending the program. Tests
// derive from it to answer message boxes and to keep spreadsheet applications from starting.
#pragma once

#include <QString>
#include <QUrl>

class QWidget;

namespace app::window {

class Desktop {
public:
    enum class Box { Message, Error, Question };

    virtual ~Desktop() = default;

    // A modal box with the program's title; `text` uses "\n" line breaks. For a question the
    // result is true for "Ja"; otherwise it is true.
    virtual bool show_box(QWidget* parent, Box kind, const QString& text);
    // The open dialog, starting in `folder` (the working folder when empty); empty when the user
    // cancels.
    virtual QString choose_file(QWidget* parent, const QString& caption, const QString& filter,
                                const QString& folder);
    // Opens a file or an address in the desktop's default application; false when that failed.
    virtual bool open_url(const QUrl& url);
    // Where a workbook goes when the input's folder is not writable; created when missing.
    virtual QString documents_folder();
    // The message loop ends once the running handler has returned.
    virtual void end_program();
};

}  // namespace app::window
