// SPDX-License-Identifier: MIT
#include "app/report.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/temp_file.h"
#include "app/version.h"
#include "workbook/errors.h"
#include "workbook/finish.h"
#include "workbook/formula.h"
#include "workbook/rows.h"
#include "workbook/temp_files.h"

namespace app {

namespace {

using Json = nlohmann::ordered_json;

// Rows from here on in "Positionsteil" are the bill's; above them the header block and captions.
constexpr int32_t kFirstBodyRow = 8;
constexpr int32_t kColumnOz = 1;
constexpr int32_t kColumnTotal = 6;

const char* kind_word(ShownMessage::Kind kind) {
    switch (kind) {
        case ShownMessage::Kind::Message:
            return "meldung";
        case ShownMessage::Kind::Error:
            return "fehler";
        case ShownMessage::Kind::Usage:
            return "aufruffehler";
        case ShownMessage::Kind::Question:
            return "frage";
        case ShownMessage::Kind::Closing:
            return "abschluss";
    }
    return "meldung";
}

ShownMessage::Kind kind_from_word(const std::string& word) {
    for (auto kind : {ShownMessage::Kind::Message, ShownMessage::Kind::Error, ShownMessage::Kind::Usage,
                      ShownMessage::Kind::Question, ShownMessage::Kind::Closing})
        if (word == kind_word(kind)) return kind;
    return ShownMessage::Kind::Message;
}

template <class T>
Json or_null(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json entry_json(const ReportEntry& e) {
    Json messages = Json::array();
    for (const ShownMessage& m : e.messages)
        messages.push_back({{"art", kind_word(m.kind)}, {"text", m.text}});
    return {{"eingabe", e.input},
            {"format", or_null(e.format)},
            {"austauschphase", or_null(e.exchange_phase)},
            {"positionen", or_null(e.items)},
            {"gesamtsumme", or_null(e.total)},
            {"angegebene_gesamtsumme", or_null(e.declared_total)},
            {"fehlerhafte_zeilen", or_null(e.faulty_lines)},
            {"meldungen", std::move(messages)},
            {"arbeitsmappe", or_null(e.workbook)},
            {"rueckgabewert", e.status},
            {"status", status_word(e.status)}};
}

template <class T>
std::optional<T> optional_field(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    return it->template get<T>();
}

bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

WorkbookFigures workbook_figures(const workbook::Workbook& book) {
    WorkbookFigures figures;
    // One row for each faulty line, also for an empty one.
    if (const workbook::Sheet* faulty = book.find_sheet(workbook::kFehlerhafteZeilen)) {
        figures.faulty_lines = faulty->last_row();
        // The note of a file cut off stands below the faulty lines and is none of them.
        if (figures.faulty_lines > 0 &&
            faulty->text(figures.faulty_lines, 1).starts_with(workbook::kCutOffNoteStart))
            --figures.faulty_lines;
    }
    const workbook::Sheet* positions = book.find_sheet(workbook::kPositionsteil);
    if (!positions) return figures;
    workbook::FormulaEvaluator evaluator(book);
    double sum = 0;
    bool error = false;
    for (int32_t row = kFirstBodyRow; row <= positions->last_row(); ++row) {
        if (positions->text(row, kColumnOz).empty()) continue;
        ++figures.items;
        const workbook::FormulaResult total = evaluator.evaluate(*positions, row, kColumnTotal);
        if (total.is_error)
            error = true;
        else
            sum += total.value;
    }
    if (!error) figures.total = std::round(sum * 100) / 100;
    return figures;
}

std::optional<std::string> format_name(workbook::GaebFormat format) {
    switch (format) {
        case workbook::GaebFormat::Gaeb90:
            return "GAEB 90";
        case workbook::GaebFormat::Gaeb2000:
            return "GAEB 2000";
        case workbook::GaebFormat::Xml:
            return "GAEB DA XML";
        case workbook::GaebFormat::None:
            break;
    }
    return std::nullopt;
}

std::string status_word(int status) {
    switch (status) {
        case 0:
            return "abgeschlossen";
        case 1:
            return "abgewiesen";
        case 2:
            return "Aufruffehler";
        case 3:
            return "abgebrochen";
        case 4:
            return "nicht gespeichert";
        default:
            return "unerwartet beendet";
    }
}

std::string report_json(const std::vector<ReportEntry>& entries, int status) {
    Json files = Json::array();
    for (const ReportEntry& e : entries) files.push_back(entry_json(e));
    const Json report = {{"programm", "bremora-cli"},
                         {"version", kVersion},
                         {"rueckgabewert", status},
                         {"dateien", std::move(files)}};
    return report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<ReportEntry> parse_report_entry(std::string_view json) {
    const Json report = Json::parse(json.begin(), json.end(), nullptr, false);
    if (report.is_discarded() || !report.is_object()) return std::nullopt;
    const auto files = report.find("dateien");
    if (files == report.end() || !files->is_array() || files->empty() || !files->front().is_object())
        return std::nullopt;
    const Json& f = files->front();
    try {
        ReportEntry e;
        e.input = f.at("eingabe").get<std::string>();
        e.format = optional_field<std::string>(f, "format");
        e.exchange_phase = optional_field<std::string>(f, "austauschphase");
        e.items = optional_field<int64_t>(f, "positionen");
        e.total = optional_field<double>(f, "gesamtsumme");
        e.declared_total = optional_field<double>(f, "angegebene_gesamtsumme");
        e.faulty_lines = optional_field<int64_t>(f, "fehlerhafte_zeilen");
        for (const Json& m : f.at("meldungen"))
            e.messages.push_back(
                {kind_from_word(m.at("art").get<std::string>()), m.at("text").get<std::string>()});
        e.workbook = optional_field<std::string>(f, "arbeitsmappe");
        e.status = f.at("rueckgabewert").get<int>();
        return e;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

std::optional<std::string> refuse_report(const std::filesystem::path& path,
                                         const std::vector<std::filesystem::path>& inputs) {
    if (path == "-") return std::nullopt;
    const std::string name = path.string();
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return "Der Bericht " + name + " ist ein Verzeichnis.";
        if (!S_ISREG(st.st_mode))
            return "Der Bericht " + name + " ist " + file_kind_text(st.st_mode) + " und wird nicht ersetzt.";
        for (const std::filesystem::path& input : inputs) {
            struct stat in {};
            if (input != "-" && ::stat(input.c_str(), &in) == 0 && in.st_dev == st.st_dev &&
                in.st_ino == st.st_ino)
                return "Der Bericht " + name + " ist eine der Eingabedateien; sie wird nicht überschrieben.";
        }
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0)
            return "Der Bericht " + name + " ist schreibgeschützt und wird nicht ersetzt.";
    }
    std::filesystem::path folder = path.parent_path();
    if (folder.empty()) folder = ".";
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec) || ::access(folder.c_str(), W_OK | X_OK) != 0)
        return "In den Ordner des Berichts " + name + " kann nicht geschrieben werden.";
    return std::nullopt;
}

std::optional<std::string> write_report(const std::filesystem::path& path, std::string_view text,
                                        const std::vector<std::filesystem::path>& keep) {
    if (path == "-") {
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
            return fmt::format("Der Bericht kann nicht auf die Standardausgabe geschrieben werden: {}.",
                               workbook::errno_text(errno));
        return std::nullopt;
    }
    const auto failed = [&](int error) {
        return fmt::format("Der Bericht {} kann nicht geschrieben werden: {}.", path.string(),
                           workbook::errno_text(error));
    };
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0)
        for (const std::filesystem::path& file : keep) {
            struct stat st {};
            if (file != "-" && ::stat(file.c_str(), &st) == 0 && st.st_dev == target.st_dev &&
                st.st_ino == target.st_ino)
                return fmt::format(
                    "Der Bericht {} wird nicht geschrieben: Unter diesem Namen steht eine "
                    "Eingabe oder Arbeitsmappe dieses Aufrufs.",
                    path.string());
        }
    std::filesystem::path folder = path.parent_path();
    if (folder.empty()) folder = ".";
    workbook::TempFile temp;
    const int fd = temp.create(folder, ".bremora-bericht-", ".tmp");
    if (fd < 0) return failed(errno);
    // A new file gets the usual permissions, not the temporary file's 0600.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok = write_all(fd, text) && ::fchmod(fd, 0666 & ~mask) == 0 && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.path().c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) return failed(error);
    temp.release();
    return std::nullopt;
}

}  // namespace app
