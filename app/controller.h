// SPDX-License-Identifier: MIT
// The start button: format detection, the GAEB 90 normalised copy, the hand-over to a reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "bill/sink.h"
#include "workbook/conversion.h"
#include "workbook/temp_files.h"

namespace app {

// The GAEB 90 normalised copy: every line as record type and body (2 + 78 characters) with CR LF;
// a line ends at LF or CR LF, a lone CR is dropped, longer lines are cut. Every record "00" is
// checked for its exchange phase (columns 11-12); copying stops after a refused one.
struct NormalisedCopy {
    bool gaeb90 = false;         // a record 00 with phase 81 to 84
    bool phase_refused = false;  // a record 00 with another phase, or none that is a number
    std::string phase_text;      // the two phase characters of the last record 00
    int64_t lines = 0;
    bool read_failed = false, write_failed = false;
};
NormalisedCopy normalise_gaeb90(std::FILE* in, std::FILE* out);

// "<name> kann nicht geöffnet werden!" for an input that open() refused with `error`, followed by
// what the user can do: a file not found, no permission to read it, or the system's reason.
std::string cannot_open(const std::string& name, int error);

// From the user's locale and the environment (TMPDIR, else /tmp).
workbook::StartupValues startup_values();
// TempFolder from a system temporary path: trailing separators removed, "." when empty.
std::filesystem::path MacheDirName(std::string path);

class ConversionController {
public:
    ConversionController(workbook::ExcelSession& excel, workbook::Frontend& ui,
                         workbook::StartupValues values)
        : m_excel(&excel), m_ui(ui), m_values(std::move(values)) {}
    // Without a session: a controller that only reads bills (read()).
    ConversionController(workbook::Frontend& ui, workbook::StartupValues values)
        : m_ui(ui), m_values(std::move(values)) {}

    // Button1Click: detects the format, writes and checks the GAEB 90 copy, locks the window,
    // starts the progress display and runs the reader. The copy is removed on every way out.
    // "-" is standard input; an input that cannot be read twice (standard input, a pipe, a FIFO,
    // a device) is first read once into the temporary folder, at most 2 GiB of it.
    // When memory runs out the run ends at once, Aborted when a workbook was begun, else Refused,
    // and without a message of its own: see out_of_memory().
    workbook::RunEnd run(const std::filesystem::path& input, const workbook::ConversionOptions& options);

    // The same run without a workbook: the reader reports the bill to `sink` only (the tender of a
    // bid). Its messages about the input are the sink's faults; the controller's own go to the
    // front end.
    workbook::RunEnd read(const std::filesystem::path& input, const workbook::ReadOptions& options,
                          bill::Sink& sink);

    // An allocation failed during the last run (noticed even where a reader caught and reported it).
    bool out_of_memory() const { return m_out_of_memory; }

    workbook::GaebFormat GaebFormat() const { return m_format; }
    bool PhaseRefused() const { return m_phase_refused; }
    int64_t RecordCount() const { return m_record_count; }
    // What the last run's bill said of itself: its exchange phase as read (GAEB 90: of its record
    // 00, also when refused), empty when none was read; the total it states, where it has one.
    const std::string& exchange_phase() const { return m_exchange_phase; }
    std::optional<double> declared_total() const { return m_declared_total; }

private:
    // Sets GaebFormat and PhaseRefused; writes the copy when no tagged format matched.
    // Returns false when the run must end without a reader (the message is shown).
    bool struktur_pruefen(const std::filesystem::path& input, workbook::TempFile& copy);
    // Reads an input that cannot be read twice into `copy`; false when refused (message shown).
    bool read_input_once(const std::filesystem::path& input, workbook::TempFile& copy);
    // Both runs; `sink` null: the workbook of the session.
    workbook::RunEnd run_any(const std::filesystem::path& input, const workbook::ConversionOptions& options,
                             bill::Sink* sink);
    workbook::RunEnd run_reader(const std::filesystem::path& input,
                                const workbook::ConversionOptions& options, bill::Sink* sink,
                                workbook::TempFile& copy);
    void dateigroesse(const std::filesystem::path& copy);

    workbook::ExcelSession* m_excel = nullptr;
    workbook::Frontend& m_ui;
    workbook::StartupValues m_values;
    workbook::GaebFormat m_format = workbook::GaebFormat::None;
    bool m_phase_refused = false;
    bool m_out_of_memory = false;
    bool m_reader_started = false;
    std::string m_shown_name;  // the input as messages name it
    std::string m_exchange_phase;
    std::optional<double> m_declared_total;
    int64_t m_record_count = 0;
    int64_t m_lines_copied = 0;
};

}  // namespace app
