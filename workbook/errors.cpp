// SPDX-License-Identifier: MIT
#include "workbook/errors.h"

#include <cxxabi.h>
#include <fmt/format.h>

#include <cerrno>
#include <cstring>

#include <cstdlib>
#include <memory>
#include <new>
#include <typeinfo>

namespace workbook {

std::string error_class_name(const std::exception& e) {
    if (const auto* own = dynamic_cast<const BremoraError*>(&e)) return own->class_name();
    if (dynamic_cast<const std::bad_alloc*>(&e)) return "EOutOfMemory";
    if (dynamic_cast<const std::out_of_range*>(&e)) return "ERangeError";
    if (dynamic_cast<const std::invalid_argument*>(&e)) return "EConvertError";
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status), std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(typeid(e).name());
}

std::string step_report(const std::exception& e) {
    return error_class_name(e) + " : " + e.what();
}

std::string errno_text(int error) {
    switch (error) {
        case ENOSPC:
            return "Kein Speicherplatz mehr auf dem Gerät";
        case EDQUOT:
            return "Das Speicherkontingent ist erschöpft";
        case EACCES:
        case EPERM:
            return "Keine Schreibberechtigung";
        case EROFS:
            return "Der Datenträger ist schreibgeschützt";
        case ENOENT:
            return "Der Ordner existiert nicht";
        case ENOTDIR:
            return "Ein Teil des Pfads ist kein Ordner";
        case EISDIR:
            return "Das Ziel ist ein Ordner";
        case EEXIST:
            return "Eine Datei dieses Namens ist inzwischen angelegt worden";
        case ENAMETOOLONG:
            return "Der Dateiname ist zu lang";
        case EFBIG:
            return "Die Datei ist zu groß für das Dateisystem";
        case EIO:
            return "Ein-/Ausgabefehler des Datenträgers";
        case EMFILE:
        case ENFILE:
            return "Zu viele offene Dateien";
        case ENOMEM:
            return "Nicht genügend Arbeitsspeicher";
        case EXDEV:
            return "Das Ziel liegt auf einem anderen Datenträger";
        default: {
            const char* name = ::strerrorname_np(error);
            return fmt::format("Fehler des Betriebssystems {}", name ? name : std::to_string(error));
        }
    }
}

}  // namespace workbook
