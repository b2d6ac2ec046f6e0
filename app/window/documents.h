// SPDX-License-Identifier: MIT
// Where the window finds the manual and the README: next to the program in the build folder, or
// in the documentation folder of an installed program (../share/doc/bremora beside bin/).
#pragma once

#include <QString>

namespace app::window {

// The first existing of program_folder/name and the documentation folder's name; when neither
// exists, the documentation folder's path, so that the desktop's complaint names where the file
// belongs.
QString document_path(const QString& program_folder, const QString& name);

// document_path for the running program.
QString program_document(const QString& name);

}  // namespace app::window
