// SPDX-License-Identifier: MIT
#include "app/report.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/output_file.h"
#include "app/version.h"
#include "workbook/errors.h"
#include "workbook/finish.h"
#include "workbook/formula.h"
#include "workbook/output_file.h"
#include "workbook/rows.h"

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

// A path field, and beside it its exact bytes where the text cannot carry them.
void add_path(Json& object, const char* key, const std::optional<std::string>& path) {
    object[key] = or_null(path);
    if (path && !valid_utf8(*path)) object[std::string(key) + "_bytes"] = percent_bytes(*path);
}

Json entry_json(const ReportEntry& e) {
    Json messages = Json::array();
    for (const ShownMessage& m : e.messages)
        messages.push_back({{"art", kind_word(m.kind)}, {"text", m.text}});
    Json entry = Json::object();
    add_path(entry, "eingabe", e.input);
    entry["format"] = or_null(e.format);
    entry["austauschphase"] = or_null(e.exchange_phase);
    entry["positionen"] = or_null(e.items);
    entry["gesamtsumme"] = or_null(e.total);
    entry["angegebene_gesamtsumme"] = or_null(e.declared_total);
    entry["fehlerhafte_zeilen"] = or_null(e.faulty_lines);
    entry["meldungen"] = std::move(messages);
    add_path(entry, "arbeitsmappe", e.workbook);
    entry["rueckgabewert"] = e.status;
    entry["status"] = status_word(e.status);
    return entry;
}

// A path field as add_path wrote it: the exact bytes where they are given.
std::optional<std::string> path_field(const Json& object, const char* key) {
    const auto bytes = object.find(std::string(key) + "_bytes");
    if (bytes != object.end() && bytes->is_string())
        if (auto exact = from_percent_bytes(bytes->get<std::string>())) return exact;
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    return it->get<std::string>();
}

template <class T>
std::optional<T> optional_field(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    return it->template get<T>();
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

std::string report_json(const std::vector<ReportEntry>& entries, int status, bool batch,
                        const std::vector<SkippedFile>& skipped) {
    Json files = Json::array();
    for (const ReportEntry& e : entries) files.push_back(entry_json(e));
    Json report = {{"programm", "bremora-cli"},
                   {"version", kVersion},
                   {"rueckgabewert", status},
                   {"dateien", std::move(files)}};
    if (batch) {
        Json passed_over = Json::array();
        for (const SkippedFile& file : skipped) {
            Json item = Json::object();
            add_path(item, "pfad", file.path);
            item["grund"] = file.reason;
            passed_over.push_back(std::move(item));
        }
        report["uebersprungen"] = std::move(passed_over);
    }
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
        e.input = path_field(f, "eingabe").value();
        e.format = optional_field<std::string>(f, "format");
        e.exchange_phase = optional_field<std::string>(f, "austauschphase");
        e.items = optional_field<int64_t>(f, "positionen");
        e.total = optional_field<double>(f, "gesamtsumme");
        e.declared_total = optional_field<double>(f, "angegebene_gesamtsumme");
        e.faulty_lines = optional_field<int64_t>(f, "fehlerhafte_zeilen");
        for (const Json& m : f.at("meldungen"))
            e.messages.push_back(
                {kind_from_word(m.at("art").get<std::string>()), m.at("text").get<std::string>()});
        e.workbook = path_field(f, "arbeitsmappe");
        e.status = f.at("rueckgabewert").get<int>();
        return e;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    } catch (const std::bad_optional_access&) {
        return std::nullopt;
    }
}

bool valid_utf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
        const unsigned lead = byte(i);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t length = 0;
        unsigned low = 0x80, high = 0xBF;  // the range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;   // overlong
            if (lead == 0xED) high = 0x9F;  // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;   // overlong
            if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
        } else {
            return false;
        }
        if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return false;
        for (size_t k = 2; k < length; ++k)
            if ((byte(i + k) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

std::string percent_bytes(std::string_view text) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x20 && byte <= 0x7E && ch != '%') {
            out += ch;
        } else {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 0xF];
        }
    }
    return out;
}

std::optional<std::string> from_percent_bytes(std::string_view text) {
    const auto hex = [](char ch) {
        return ch >= '0' && ch <= '9'   ? ch - '0'
               : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
               : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                                        : -1;
    };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = hex(text[i + 1]), low = hex(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::optional<std::string> refuse_report(const std::filesystem::path& path,
                                         const std::vector<std::filesystem::path>& inputs,
                                         const std::vector<std::filesystem::path>& workbooks,
                                         bool overwrite) {
    if (path == "-") return std::nullopt;
    const std::string name = "Die Berichtsdatei " + path.string();
    // A workbook that does not exist yet is known only by its name.
    std::error_code ec;
    const std::filesystem::path wanted = std::filesystem::weakly_canonical(path, ec);
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    for (const std::filesystem::path& workbook : workbooks) {
        struct stat wb {};
        const bool same_file =
            exists && ::stat(workbook.c_str(), &wb) == 0 && wb.st_dev == st.st_dev && wb.st_ino == st.st_ino;
        std::error_code ignored;
        if (same_file || (!ec && std::filesystem::weakly_canonical(workbook, ignored) == wanted))
            return name +
                   " ist eine Arbeitsmappe dieses Aufrufs. Bitte einen anderen Namen für den Bericht "
                   "angeben.";
    }
    if (const auto refusal = refuse_output(path, inputs, overwrite, "Die Berichtsdatei")) return refusal;
    if (!workbook::folder_writable(path))
        return "In den Ordner der Berichtsdatei " + path.string() + " kann nicht geschrieben werden.";
    return std::nullopt;
}

std::optional<std::string> write_report(const std::filesystem::path& path, std::string_view text,
                                        const std::vector<std::filesystem::path>& keep, bool overwrite) {
    if (path == "-") {
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
            return fmt::format("Der Bericht kann nicht auf die Standardausgabe geschrieben werden: {}.",
                               workbook::errno_text(errno));
        return std::nullopt;
    }
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
    try {
        workbook::OutputFile file(path, overwrite ? workbook::Existing::Replace : workbook::Existing::Keep);
        file.write(text);
        file.commit();
    } catch (const workbook::OutputFileError& e) {
        return fmt::format("Der Bericht {} kann nicht geschrieben werden: {}.", path.string(), e.what());
    }
    return std::nullopt;
}

}  // namespace app
