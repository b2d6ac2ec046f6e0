// SPDX-License-Identifier: MIT
#include "app/controller.h"

#include <fmt/format.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>

#include "app/memory.h"
#include "app/temp_file.h"
#include "bill/sink.h"
#include "gaeb2000/gaeb2000.h"
#include "gaeb90/gaeb90.h"
#include "gaebxml/gaebxml.h"
#include "workbook/bill_layout.h"
#include "workbook/errors.h"
#include "workbook/finish.h"
#include "workbook/guarded.h"
#include "workbook/numbers.h"
#include "workbook/text.h"

namespace app {

using workbook::GaebFormat;
using workbook::RunEnd;

namespace {

// Reads lines of any length from a file, keeping at most `keep` characters of each; a line ends
// at LF or CR LF, a CR not followed by LF is dropped.
class LineReader {
public:
    explicit LineReader(std::FILE* f) : m_file(f) {}

    // False at the end of the input. A line ends at LF or CR LF, and a lone CR is dropped; a file
    // whose first block holds no LF at all (classic Mac line ends) has its lines ended by CR, or
    // the whole bill would be one line.
    bool next(std::string& line, size_t keep) {
        line.clear();
        bool any = false;
        while (true) {
            if (m_pos == m_len) {
                m_len = std::fread(m_buf, 1, sizeof m_buf, m_file);
                m_pos = 0;
                if (m_len == 0) return any;
                if (m_first_block) {
                    m_first_block = false;
                    m_cr_ends_line = std::memchr(m_buf, '\n', m_len) == nullptr;
                }
            }
            any = true;
            const char ch = m_buf[m_pos++];
            if (ch == '\n') return true;
            if (ch == '\r') {
                if (m_cr_ends_line) return true;
                continue;
            }
            if (line.size() < keep) line.push_back(ch);
        }
    }
    bool failed() const { return std::ferror(m_file) != 0; }

private:
    std::FILE* m_file;
    char m_buf[1 << 16];
    size_t m_pos = 0, m_len = 0;
    bool m_first_block = true;
    bool m_cr_ends_line = false;
};

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The first line as text for the tag tests: a UTF-16 file (byte-order mark) is decoded first.
std::string first_line_for_detection(std::FILE* f) {
    std::string head(1 << 20, '\0');
    head.resize(std::fread(head.data(), 1, head.size(), f));
    const bool le = head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0xFF &&
                    static_cast<unsigned char>(head[1]) == 0xFE;
    const bool be = head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0xFE &&
                    static_cast<unsigned char>(head[1]) == 0xFF;
    if (le || be) {
        std::string ascii;
        for (size_t i = 2; i + 1 < head.size(); i += 2) {
            const unsigned lo = static_cast<unsigned char>(head[le ? i : i + 1]);
            const unsigned hi = static_cast<unsigned char>(head[le ? i + 1 : i]);
            const unsigned unit = (hi << 8) | lo;
            if (unit == '\n') break;
            ascii.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
        }
        return ascii;
    }
    const size_t lf = head.find('\n');
    if (lf != std::string::npos) head.resize(lf);
    return head;
}

// An XML bill without the optional "<?xml ...?>" declaration: its root element <GAEB comes
// first, after a byte-order mark and white space. UTF-16 is read by its ASCII characters.
bool gaeb_root_first(std::FILE* f) {
    std::rewind(f);
    std::string head(1 << 16, '\0');
    head.resize(std::fread(head.data(), 1, head.size(), f));
    std::string_view h = head;
    if (h.starts_with("\xEF\xBB\xBF")) h.remove_prefix(3);
    std::string ascii;
    if (h.starts_with("\xFF\xFE") || h.starts_with("\xFE\xFF")) {
        const bool le = h[0] == '\xFF';
        for (size_t i = 2; i + 1 < h.size(); i += 2) {
            const char lo = h[le ? i : i + 1], hi = h[le ? i + 1 : i];
            ascii.push_back(hi == 0 && static_cast<unsigned char>(lo) < 0x80 ? lo : '?');
        }
        h = ascii;
    }
    const size_t start = h.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return false;
    h.remove_prefix(start);
    if (h.size() < 6 || !workbook::equals_ci(h.substr(0, 5), "<GAEB")) return false;
    const char next = h[5];
    return next == ' ' || next == '\t' || next == '\r' || next == '\n' || next == '>' || next == '/';
}

// Files that are plainly not a bill, by their first and last bytes.
enum class OtherFile { None, Empty, Pdf, Workbook, OldOffice, Zip };

OtherFile other_file(std::FILE* f) {
    std::string head(1 << 16, '\0');
    head.resize(std::fread(head.data(), 1, head.size(), f));
    const bool read_failed = std::ferror(f) != 0;
    std::string tail;
    // A zip archive lists the names of its parts in its central directory at the end.
    if (head.starts_with("PK\x03\x04") && std::fseek(f, -(1 << 16), SEEK_END) != 0) std::rewind(f);
    if (head.starts_with("PK\x03\x04")) {
        tail.resize(1 << 16);
        tail.resize(std::fread(tail.data(), 1, tail.size(), f));
    }
    std::clearerr(f);
    std::rewind(f);
    if (read_failed) return OtherFile::None;  // the reading that follows reports it
    if (head.empty()) return OtherFile::Empty;
    if (head.starts_with("%PDF-")) return OtherFile::Pdf;
    if (head.starts_with("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) return OtherFile::OldOffice;
    if (!head.starts_with("PK\x03\x04")) return OtherFile::None;
    for (const std::string* part : {&head, &tail})
        if (part->find("xl/workbook.xml") != std::string::npos ||
            part->find("application/vnd.oasis.opendocument.spreadsheet") != std::string::npos)
            return OtherFile::Workbook;
    return OtherFile::Zip;
}

// Tells nothing: the tidying after memory ran out, whose own failures change nothing.
class SilentFrontend : public workbook::Frontend {
public:
    void message(std::string_view) override {}
    void error_dialog(std::string_view) override {}
    bool ask_yes_no(std::string_view) override { return false; }
    void status(std::string_view) override {}
    void beep() override {}
    void progress_start(workbook::ProgressKind, int64_t) override {}
    void progress_maximum(int64_t) override {}
    void progress_step(int64_t) override {}
    void progress_position(int64_t) override {}
    void progress_finish() override {}
    void elapsed_restart() override {}
    void elapsed_stop() override {}
};

}  // namespace

std::string cannot_open(const std::string& name, int error) {
    std::string text = name + " kann nicht geöffnet werden!\n";
    if (error == ENOENT || error == ENOTDIR)
        return text + "Die Datei wurde nicht gefunden: Bitte Ordner und Dateinamen prüfen.";
    if (error == EACCES || error == EPERM)
        return text +
               "Keine Leseberechtigung für diese Datei: Bitte die Zugriffsrechte prüfen (lassen) oder eine "
               "lesbare Kopie umwandeln.";
    return text + workbook::errno_text(error) + ".";
}

NormalisedCopy normalise_gaeb90(std::FILE* in, std::FILE* out) {
    NormalisedCopy r;
    LineReader reader(in);
    std::string line;
    while (!r.phase_refused && reader.next(line, 80)) {
        if (line.compare(0, 2, "00") == 0) {
            r.phase_text = line.size() > 10 ? line.substr(10, 2) : std::string();
            const auto phase = workbook::parse_integer(r.phase_text);
            if (phase && *phase >= 81 && *phase <= 84)
                r.gaeb90 = true;
            else
                r.phase_refused = true;
        }
        line += "\r\n";
        if (std::fwrite(line.data(), 1, line.size(), out) != line.size()) break;
        ++r.lines;
    }
    r.read_failed = reader.failed();
    r.write_failed = std::fflush(out) != 0 || std::ferror(out);
    return r;
}

bool ConversionController::struktur_pruefen(const std::filesystem::path& input, workbook::TempFile& copy) {
    m_format = GaebFormat::None;
    const std::string& name = m_shown_name;
    File in(std::fopen(input.c_str(), "rb"));
    if (!in) {
        m_ui.error_dialog(cannot_open(name, errno));
        return false;
    }
    // What is plainly something else is named as what it is, before anything is copied.
    switch (other_file(in.get())) {
        case OtherFile::None:
            break;
        case OtherFile::Empty:
            m_ui.error_dialog(
                fmt::format("Die Datei {} ist leer (0 Bytes) und enthält kein Leistungsverzeichnis.\n"
                            "Bitte die GAEB-Datei noch einmal exportieren oder herunterladen.",
                            name));
            return false;
        case OtherFile::Pdf:
            m_ui.error_dialog(fmt::format(
                "Die Datei {} ist keine GAEB-Datei, sondern ein PDF-Dokument.\n"
                "Bitte das Leistungsverzeichnis als GAEB-Datei anfordern oder exportieren (GAEB 90, "
                "GAEB 2000 oder GAEB DA XML, etwa .d83, .p83 oder .x83).",
                name));
            return false;
        case OtherFile::Workbook:
            m_ui.error_dialog(fmt::format(
                "Die Datei {} ist keine GAEB-Datei, sondern eine Arbeitsmappe.\n"
                "Meinten Sie {}? Damit entsteht aus dem LV und seiner kalkulierten Arbeitsmappe das "
                "Angebot (X84).",
                name, m_ui.feature_name(workbook::Feature::Bid)));
            return false;
        case OtherFile::OldOffice:
            m_ui.error_dialog(fmt::format(
                "Die Datei {} ist keine GAEB-Datei, sondern ein Office-Dokument im alten Format (etwa "
                "eine .xls-Arbeitsmappe).\nBitte die GAEB-Datei des Leistungsverzeichnisses wählen.",
                name));
            return false;
        case OtherFile::Zip:
            m_ui.error_dialog(
                fmt::format("Die Datei {} ist keine GAEB-Datei, sondern ein ZIP-Archiv.\n"
                            "Bitte das Archiv entpacken und die GAEB-Datei darin umwandeln.",
                            name));
            return false;
    }
    const std::string first = first_line_for_detection(in.get());
    if (workbook::contains_ci(first, "#begin[GAEB]")) m_format = GaebFormat::Gaeb2000;
    if (workbook::contains_ci(first, "<?xml version=")) m_format = GaebFormat::Xml;
    if (m_format == GaebFormat::None && gaeb_root_first(in.get())) m_format = GaebFormat::Xml;
    if (m_format != GaebFormat::None) return true;

    // A GAEB 90 candidate: copy it record by record (2 + 78 characters, CR LF) and check every
    // opening record 00 for its exchange phase (columns 11-12).
    std::rewind(in.get());
    const int fd = copy.create(m_values.temp_folder, "bremora-", ".tmp");
    File out(fd >= 0 ? ::fdopen(fd, "wb") : nullptr);
    if (!out) {
        m_ui.error_dialog(fmt::format("{} kann nicht erstellt werden!",
                                      (m_values.temp_folder / "bremora-XXXXXX.tmp").string()));
        copy.remove();
        return false;
    }
    m_ui.wait_window(true);
    m_ui.process_events();
    const NormalisedCopy result = normalise_gaeb90(in.get(), out.get());
    m_lines_copied = result.lines;
    if (result.gaeb90) m_format = GaebFormat::Gaeb90;
    m_phase_refused = result.phase_refused;
    if (!result.phase_text.empty()) m_exchange_phase = workbook::cp850_to_utf8(result.phase_text);
    const std::string& phase_text = result.phase_text;
    const bool read_failed = result.read_failed;
    const bool write_failed = result.write_failed;
    const bool close_failed = std::fclose(out.release()) != 0;
    in.reset();
    m_ui.wait_window(false);
    if (read_failed) {
        m_ui.error_dialog(name + " kann nicht geöffnet werden!");
        copy.remove();
        return false;
    }
    if (write_failed || close_failed) {
        m_ui.error_dialog(fmt::format("{} kann nicht erstellt werden!", copy.path().string()));
        copy.remove();
        return false;
    }
    if (m_phase_refused) {
        m_ui.unlock_controls();
        m_ui.message("Die Austauschphase " + workbook::cp850_to_utf8(phase_text) + "wird nicht unterstützt!");
        copy.remove();
        return false;
    }
    if (m_format == GaebFormat::None) {
        m_ui.error_dialog(fmt::format(
            "Die Datei {} ist keine GAEB-Datei.\nErkannt werden GAEB 90 (Satz \"00\" mit der "
            "Austauschphase), "
            "GAEB 2000 (erste Zeile \"#begin[GAEB]\") und GAEB DA XML (erste Zeile \"<?xml version=\" oder "
            "Wurzelelement <GAEB>).",
            name));
        copy.remove();
        return false;
    }
    return true;
}

void ConversionController::dateigroesse(const std::filesystem::path& copy) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(copy, ec);
    if (ec) {
        m_ui.message("Die Dateigröße von " + copy.string() +
                     " kann wegen des Schreibschutzes\nnicht ermittelt werden!");
        return;
    }
    m_record_count = static_cast<int64_t>(size / 82);
}

bool ConversionController::read_input_once(const std::filesystem::path& input, workbook::TempFile& copy) {
    const bool standard_input = input == "-";
    const int fd = standard_input ? STDIN_FILENO : ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        m_ui.error_dialog(cannot_open(m_shown_name, errno));
        return false;
    }
    m_ui.wait_window(true);
    m_ui.process_events();
    const Spooled spooled = spool_input(fd, copy, m_values.temp_folder, kInputLimit);
    if (!standard_input) ::close(fd);
    m_ui.wait_window(false);
    switch (spooled.status) {
        case Spooled::Copied:
            return true;
        case Spooled::TooLarge:
            m_ui.error_dialog(fmt::format("{} ist größer als 2 GiB und wird nicht gelesen.", m_shown_name));
            return false;
        case Spooled::ReadFailed:
            m_ui.error_dialog(fmt::format("{} kann nicht gelesen werden: {}.", m_shown_name,
                                          workbook::errno_text(spooled.error)));
            return false;
        case Spooled::WriteFailed:
            if (spooled.error == ENOMEM) throw std::bad_alloc();
            m_ui.error_dialog(fmt::format("{} kann nicht in den temporären Ordner {} kopiert werden: {}.",
                                          m_shown_name, m_values.temp_folder.string(),
                                          workbook::errno_text(spooled.error)));
            return false;
    }
    return false;
}

RunEnd ConversionController::run(const std::filesystem::path& input,
                                 const workbook::ConversionOptions& options) {
    return run_any(input, options, nullptr);
}

RunEnd ConversionController::read(const std::filesystem::path& input, const workbook::ReadOptions& options,
                                  bill::Sink& sink) {
    workbook::ConversionOptions conversion;
    conversion.OnlyShortText = options.OnlyShortText;
    conversion.ExportNotesText = options.ExportNotesText;
    conversion.LogFaultyLines = options.LogFaultyLines;
    return run_any(input, conversion, &sink);
}

RunEnd ConversionController::run_any(const std::filesystem::path& input,
                                     const workbook::ConversionOptions& options, bill::Sink* sink) {
    m_phase_refused = false;
    m_out_of_memory = false;
    m_reader_started = false;
    m_record_count = 0;
    m_exchange_phase.clear();
    m_declared_total.reset();
    if (input.empty()) return RunEnd::Refused;
    reset_memory_exhausted();

    workbook::TempFile copy;
    RunEnd end = RunEnd::Refused;
    try {
        end = run_reader(input, options, sink, copy);
    } catch (const std::bad_alloc&) {
        m_out_of_memory = true;
    }
    copy.remove();
    if (memory_exhausted()) m_out_of_memory = true;
    if (!m_out_of_memory) return end;
    // Whatever a reader went on with after the failure is not to be trusted as complete. The
    // reserve is given back to tidy and save what there is.
    release_memory_reserve();
    m_ui.progress_finish();
    m_ui.unlock_controls();
    if (!m_reader_started) return RunEnd::Refused;
    if (sink) return RunEnd::Aborted;
    if (!m_excel->result()) return RunEnd::Refused;
    SilentFrontend quiet;
    workbook::Conversion tidy{*m_excel, quiet, m_values, m_format, options, input};
    try {
        workbook::FormatNachFehler(tidy);
    } catch (const std::bad_alloc&) {
    }
    return RunEnd::Aborted;
}

RunEnd ConversionController::run_reader(const std::filesystem::path& input,
                                        const workbook::ConversionOptions& options, bill::Sink* sink,
                                        workbook::TempFile& copy) {
    m_shown_name = input == "-" ? std::string("(Standardeingabe)") : input.string();
    std::filesystem::path source = input;
    workbook::TempFile whole_input;
    if (read_once(input)) {
        if (!read_input_once(input, whole_input)) return RunEnd::Refused;
        source = whole_input.path();
    }
    if (!struktur_pruefen(source, copy)) return RunEnd::Refused;

    // A conversion writes the workbook of the session through the layout of the format.
    std::optional<workbook::Conversion> conversion;
    std::unique_ptr<workbook::BillLayout> layout;
    workbook::InputPlace place;
    if (!sink) {
        workbook::guarded(m_ui, "GAEB90-Modul, WindowState\n\n", [&] {
            m_excel->set_screen_updating(false);
            m_excel->set_visible(false);
        });
    }
    m_ui.elapsed_restart();
    if (!sink) {
        conversion.emplace(*m_excel, m_ui, m_values, m_format, options, input);
        const char* no_connection = m_format == GaebFormat::Gaeb90 ? "GAEB90, keine Verbindung mit Excel"
                                    : m_format == GaebFormat::Gaeb2000
                                        ? "GAEB2000, keine Verbindung mit Excel."
                                        : "GAEB-XML, keine Verbindung mit Excel.";
        if (!m_excel->connected()) {
            m_ui.message(no_connection);
            return RunEnd::Refused;
        }
        layout = workbook::make_bill_layout(*conversion);
        sink = layout.get();
    }

    workbook::FrontendRun progress(m_ui);
    workbook::Reading reading(*sink, progress, conversion ? conversion->place : place, m_format,
                              workbook::read_options(options), source);
    reading.input_path = input;
    m_reader_started = true;
    // What the reader learnt of the bill, kept however it returns (moves only: nothing to fail).
    struct KeepFacts {
        ConversionController& self;
        workbook::Reading& r;
        ~KeepFacts() {
            if (!r.exchange_phase.empty()) self.m_exchange_phase = std::move(r.exchange_phase);
            self.m_declared_total = r.declared_total;
        }
    } keep{*this, reading};
    try {
        switch (m_format) {
            case GaebFormat::Gaeb90: {
                reading.file_name = copy.path();
                dateigroesse(copy.path());
                m_ui.process_events();
                std::ifstream records(copy.path(), std::ios::binary);
                if (!records) {
                    m_ui.message("--- GAEB 90 ---\n" + copy.path().string() + " kann nicht geöffnet werden!");
                    return RunEnd::Refused;
                }
                m_ui.progress_start(workbook::ProgressKind::Bar,
                                    std::max<int64_t>(m_record_count, m_lines_copied));
                m_ui.lock_controls();
                gaeb90::sa0(reading, records);
                break;
            }
            case GaebFormat::Gaeb2000:
                m_ui.process_events();
                m_ui.progress_start(workbook::ProgressKind::Bar, 0);
                m_ui.lock_controls();
                gaeb2000::gaeb2k_start(reading);
                break;
            case GaebFormat::Xml:
                m_ui.process_events();
                m_ui.progress_start(workbook::ProgressKind::Marquee, 0);
                m_ui.lock_controls();
                gaebxml::gaebxml_start(reading);
                break;
            case GaebFormat::None:
                return RunEnd::Refused;
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        // Readers catch their own failures; whatever still escapes ends the run, not the program.
        m_ui.error_dialog("Unerwarteter Fehler bei der Konvertierung\n\n" + workbook::step_report(e));
        if (!reading.ended()) reading.end = RunEnd::Aborted;
    }
    m_ui.progress_finish();
    m_ui.unlock_controls();
    // A reader that returned without ending the run stopped mid-way.
    return reading.end == RunEnd::Running ? RunEnd::Aborted : reading.end;
}

}  // namespace app
