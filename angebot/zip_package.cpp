// SPDX-License-Identifier: MIT
#include "angebot/zip_package.h"

#include <fmt/format.h>
#include <zip.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <new>
#include <unordered_map>

#include "angebot/model.h"

namespace angebot {

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;

// A password-protected .xlsx, and an old .xls, is an OLE compound file, not a zip archive.
constexpr std::string_view kCompoundFileMagic = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

[[noreturn]] void fail(const std::string& text) {
    throw AngebotError(text);
}

std::string open_failure(const std::string& what, int code, std::string_view head) {
    if (head.substr(0, kCompoundFileMagic.size()) == kCompoundFileMagic)
        return fmt::format(
            "{} kann nicht gelesen werden: sie ist verschlüsselt (mit Kennwort gespeichert) oder im alten "
            "Excel-Format (.xls). Bitte ohne Kennwort als .xlsx speichern.",
            what);
    switch (code) {
        case ZIP_ER_NOZIP:
            return fmt::format(
                "{} ist keine .xlsx-Arbeitsmappe: die Datei ist kein ZIP-Archiv. Bitte die Arbeitsmappe in "
                "der Tabellenkalkulation als .xlsx speichern (Dateityp „Excel 2007-365“).",
                what);
        case ZIP_ER_NOENT:
            return fmt::format("{} wurde nicht gefunden.", what);
        case ZIP_ER_OPEN:
        case ZIP_ER_READ:
            return fmt::format("{} kann nicht geöffnet werden.", what);
        case ZIP_ER_MEMORY:
            throw std::bad_alloc();
        default: {
            zip_error_t error;
            zip_error_init_with_code(&error, code);
            std::string text =
                fmt::format("{} ist beschädigt: das ZIP-Archiv kann nicht gelesen werden ({}).", what,
                            zip_error_strerror(&error));
            zip_error_fini(&error);
            return text;
        }
    }
}

std::string read_failure(const std::string& what, std::string_view name, int code) {
    switch (code) {
        case ZIP_ER_COMPNOTSUPP:
            return fmt::format(
                "{} kann nicht gelesen werden: \"{}\" ist mit einem nicht unterstützten Verfahren "
                "komprimiert.",
                what, name);
        case ZIP_ER_ENCRNOTSUPP:
        case ZIP_ER_NOPASSWD:
        case ZIP_ER_WRONGPASSWD:
            return fmt::format("{} kann nicht gelesen werden: \"{}\" ist verschlüsselt.", what, name);
        case ZIP_ER_MEMORY:
            throw std::bad_alloc();
        default: {
            zip_error_t error;
            zip_error_init_with_code(&error, code);
            std::string text = fmt::format("{} ist beschädigt: \"{}\" kann nicht entpackt werden ({}).", what,
                                           name, zip_error_strerror(&error));
            zip_error_fini(&error);
            return text;
        }
    }
}

struct ZipFile {
    zip_file_t* file = nullptr;
    ~ZipFile() {
        if (file) zip_fclose(file);
    }
};

}  // namespace

ZipPackage::ZipPackage(const std::filesystem::path& path, std::string what, const ReadLimits& limits)
    : m_what(std::move(what)), m_limits(limits) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) fail(fmt::format("{} wurde nicht gefunden.", m_what));
    if (std::filesystem::is_directory(path, ec)) fail(fmt::format("{} ist ein Ordner, keine Datei.", m_what));
    // A pipe or a device would be read without end.
    if (!std::filesystem::is_regular_file(path, ec))
        fail(fmt::format("{} ist keine gewöhnliche Datei.", m_what));
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > m_limits.file_bytes)
        fail(fmt::format("{} ist zu groß: mehr als {} MiB.", m_what, m_limits.file_bytes / kMiB));
    if (!ec && size == 0) fail(fmt::format("{} ist keine .xlsx-Arbeitsmappe: die Datei ist leer.", m_what));
    char head[8] = {};
    {
        std::ifstream in(path, std::ios::binary);
        if (!in) fail(fmt::format("{} kann nicht geöffnet werden.", m_what));
        in.read(head, sizeof head);
    }
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_file_create(path.c_str(), 0, -1, &error);
    if (source == nullptr) {
        const int code = zip_error_code_zip(&error);
        zip_error_fini(&error);
        fail(open_failure(m_what, code, std::string_view(head, sizeof head)));
    }
    zip_error_fini(&error);
    m_head.assign(head, sizeof head);
    open_source(source);
}

ZipPackage::ZipPackage(std::string_view bytes, std::string what, const ReadLimits& limits)
    : m_what(std::move(what)), m_limits(limits) {
    if (bytes.size() > m_limits.file_bytes)
        fail(fmt::format("{} ist zu groß: mehr als {} MiB.", m_what, m_limits.file_bytes / kMiB));
    if (bytes.empty()) fail(fmt::format("{} ist keine .xlsx-Arbeitsmappe: die Datei ist leer.", m_what));
    zip_error_t error;
    zip_error_init(&error);
    // libzip keeps a pointer to the bytes; the caller's view outlives the package.
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    zip_error_fini(&error);
    if (source == nullptr) throw std::bad_alloc();
    m_head.assign(bytes.substr(0, 8));
    open_source(source);
}

void ZipPackage::open_source(void* raw) {
    auto* source = static_cast<zip_source_t*>(raw);
    zip_error_t error;
    zip_error_init(&error);
    m_zip = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (m_zip == nullptr) {
        const int code = zip_error_code_zip(&error);
        zip_error_fini(&error);
        zip_source_free(source);
        fail(open_failure(m_what, code, m_head));
    }
    zip_error_fini(&error);
    // Thrown from a constructor: the destructor will not close the archive.
    try {
        refuse_duplicates();
    } catch (...) {
        zip_discard(m_zip);
        m_zip = nullptr;
        throw;
    }
}

// Part names are compared without letter case. A package that has a name twice is damaged: the
// spreadsheet programs show the last copy, a lookup by name finds the first, and the bid could
// carry other prices than the estimator saw.
void ZipPackage::refuse_duplicates() {
    const zip_int64_t count = zip_get_num_entries(m_zip, 0);
    std::unordered_map<std::string, std::string> seen;
    seen.reserve(static_cast<size_t>(std::max<zip_int64_t>(count, 0)));
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(m_zip, static_cast<zip_uint64_t>(i), 0);
        if (name == nullptr) {
            if (zip_error_code_zip(zip_get_error(m_zip)) == ZIP_ER_MEMORY) throw std::bad_alloc();
            continue;
        }
        std::string folded(name);
        for (char& c : folded)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        const auto [it, inserted] = seen.emplace(std::move(folded), name);
        if (inserted) continue;
        const std::string_view first = it->second, second = name;
        fail(first == second
                 ? fmt::format("{} ist beschädigt: das ZIP-Archiv enthält den Teil \"{}\" zweimal. Bitte die "
                               "Arbeitsmappe in der Tabellenkalkulation öffnen, prüfen und neu speichern.",
                               m_what, first)
                 : fmt::format(
                       "{} ist beschädigt: das ZIP-Archiv enthält die Teile \"{}\" und \"{}\", die sich "
                       "nur in Groß- und Kleinschreibung unterscheiden. Bitte die Arbeitsmappe in der "
                       "Tabellenkalkulation öffnen, prüfen und neu speichern.",
                       m_what, first, second));
    }
}

ZipPackage::~ZipPackage() {
    if (m_zip) zip_discard(m_zip);
}

std::optional<std::string> ZipPackage::read(std::string_view name) {
    const std::string wanted(name);
    zip_int64_t index = zip_name_locate(m_zip, wanted.c_str(), 0);
    if (index < 0) index = zip_name_locate(m_zip, wanted.c_str(), ZIP_FL_NOCASE);
    if (index < 0) return std::nullopt;

    const auto at = static_cast<zip_uint64_t>(index);
    zip_stat_t stat;
    zip_stat_init(&stat);
    // The size an entry claims is only a first check: the loop below counts what it really gives.
    if (zip_stat_index(m_zip, at, 0, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE) &&
        stat.size > m_limits.part_bytes)
        fail(fmt::format("{} ist zu groß: \"{}\" hätte entpackt mehr als {} MiB.", m_what, name,
                         m_limits.part_bytes / kMiB));

    ZipFile file;
    file.file = zip_fopen_index(m_zip, at, 0);
    if (file.file == nullptr) fail(read_failure(m_what, name, zip_error_code_zip(zip_get_error(m_zip))));

    std::string bytes;
    if (stat.valid & ZIP_STAT_SIZE)
        bytes.reserve(static_cast<size_t>(std::min<uint64_t>(stat.size, 64 * kMiB)));
    char buffer[1 << 16];
    while (true) {
        const zip_int64_t n = zip_fread(file.file, buffer, sizeof buffer);
        if (n < 0) fail(read_failure(m_what, name, zip_error_code_zip(zip_file_get_error(file.file))));
        if (n == 0) break;
        const auto got = static_cast<uint64_t>(n);
        if (bytes.size() + got > m_limits.part_bytes)
            fail(fmt::format("{} ist zu groß: \"{}\" hätte entpackt mehr als {} MiB.", m_what, name,
                             m_limits.part_bytes / kMiB));
        if (m_total + got > m_limits.total_bytes)
            fail(fmt::format("{} ist zu groß: entpackt mehr als {} MiB.", m_what,
                             m_limits.total_bytes / kMiB));
        m_total += got;
        bytes.append(buffer, static_cast<size_t>(got));
    }
    return bytes;
}

}  // namespace angebot
