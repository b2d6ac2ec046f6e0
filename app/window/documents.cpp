// SPDX-License-Identifier: MIT
#include "app/window/documents.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace app::window {

QString document_path(const QString& program_folder, const QString& name) {
    const QDir folder(program_folder);
    const QString beside = folder.filePath(name);
    if (QFileInfo(beside).isFile()) return beside;
    // BREMORA_DOC_FROM_BIN is the documentation folder relative to the installed programs.
    return QDir::cleanPath(folder.filePath(QStringLiteral(BREMORA_DOC_FROM_BIN "/") + name));
}

QString program_document(const QString& name) {
    return document_path(QCoreApplication::applicationDirPath(), name);
}

}  // namespace app::window
