// SPDX-License-Identifier: MIT
// bremora-cli: converts GAEB files into .xlsx workbooks; several inputs through app/batch.h.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "angebot/x84_writer.h"
#include "app/angebot.h"
#include "app/batch.h"
#include "app/command_line.h"
#include "app/console_frontend.h"
#include "app/controller.h"
#include "app/memory.h"
#include "app/output_file.h"
#include "app/report.h"
#include "app/temp_file.h"
#include "app/version.h"
#include "workbook/layout.h"
#include "workbook/xlsx/xlsx_writer.h"

namespace {

using app::kExitAborted;
using app::kExitComplete;
using app::kExitNotSaved;
using app::kExitRefused;
using app::kExitUsage;

// Set aside for the way out when memory runs out: tidying and saving the partial workbook.
constexpr size_t kMemoryReserve = size_t{32} << 20;

// What a run leaves for its report besides its messages.
struct Outcome {
    workbook::GaebFormat format = workbook::GaebFormat::None;
    std::string exchange_phase;
    std::optional<double> declared_total;
    std::optional<app::WorkbookFigures> figures;
    std::optional<std::filesystem::path> written;
};

// One input into one workbook; returns the exit status. `figures`: count what the workbook holds.
int convert(const app::CommandLine& cl, const workbook::StartupValues& values, app::ConsoleFrontend& ui,
            bool figures, Outcome& outcome) {
    auto usage_error = [&](const std::string& text) {
        ui.usage_error(text);
        return kExitUsage;
    };
    if (cl.folder)
        if (const auto refusal = app::prepare_output_folder(*cl.folder)) return usage_error(*refusal);

    std::error_code ec;
    if (cl.input != "-" && std::filesystem::is_directory(cl.input, ec)) {
        ui.error_dialog(cl.input.string() + " ist ein Verzeichnis, keine GAEB-Datei.");
        return kExitRefused;
    }
    // A missing input is named before its folder is looked at for the workbook.
    struct stat input_status {};
    if (cl.input != "-" && ::stat(cl.input.c_str(), &input_status) != 0) {
        ui.error_dialog(app::cannot_open(cl.input.string(), errno));
        return kExitRefused;
    }
    // An input that can be read only once has no folder of its own to put the workbook beside,
    // and standard input not even a name.
    if (!cl.output && (cl.input == "-" || (!cl.folder && app::read_once(cl.input))))
        return usage_error(
            (cl.input == "-" ? std::string("Die Standardeingabe") : "Die Eingabe " + cl.input.string()) +
            " ist keine gewöhnliche Datei: Bitte die Arbeitsmappe mit -o angeben.");
    const auto derived = [&] {
        return cl.folder ? app::derived_output(cl.input, *cl.folder) : app::derived_output(cl.input);
    };
    std::filesystem::path output = cl.output ? *cl.output : derived();
    if (cl.output)
        if (const auto refusal = app::refuse_output(output, {cl.input}, cl.overwrite))
            return usage_error(*refusal);
    if (!workbook::folder_writable(output))
        return usage_error("In den Ordner der Ausgabedatei " + output.string() +
                           " kann nicht geschrieben werden.");

    app::install_temp_cleanup_handlers();
    app::install_memory_guard(kMemoryReserve);

    workbook::ExcelSession excel;
    app::ConversionController controller(excel, ui, values);
    workbook::RunEnd end = workbook::RunEnd::Refused;
    bool out_of_memory = false;
    try {
        workbook::open_session(excel, ui, values);
        end = controller.run(cl.input, cl.options);
        out_of_memory = controller.out_of_memory();
    } catch (const std::bad_alloc&) {
        out_of_memory = true;
    }
    outcome.format = controller.GaebFormat();
    outcome.exchange_phase = controller.exchange_phase();
    outcome.declared_total = controller.declared_total();
    const bool saving =
        (end == workbook::RunEnd::Completed || end == workbook::RunEnd::Aborted) && excel.result();
    if (!saving && !out_of_memory) return kExitRefused;

    const char* kOutOfMemory = "Nicht genügend Arbeitsspeicher: Die Konvertierung wurde abgebrochen.";
    if (!saving) {
        ui.closing_message(std::string(kOutOfMemory) + " Es wurde keine Arbeitsmappe geschrieben.");
        return kExitRefused;
    }
    if (figures && !out_of_memory) {
        try {
            outcome.figures = app::workbook_figures(*excel.result());
        } catch (const std::bad_alloc&) {
        }
    }
    // Without -o a name may have been taken meanwhile: the next free one.
    if (!cl.output) output = derived();
    try {
        workbook::SaveDisplay shown(ui);
        workbook::xlsx::save(
            excel, *excel.result(), output,
            cl.overwrite ? workbook::xlsx::Existing::Replace : workbook::xlsx::Existing::Keep, shown);
    } catch (const std::bad_alloc&) {
        app::release_memory_reserve();
        ui.closing_message(std::string(kOutOfMemory) + " Es wurde keine Arbeitsmappe geschrieben.");
        return kExitRefused;
    } catch (const std::exception& e) {
        if (out_of_memory) {
            ui.closing_message(std::string(kOutOfMemory) + " " + e.what());
            return kExitRefused;
        }
        ui.closing_message(e.what());
        return kExitNotSaved;
    }
    outcome.written = output;
    if (out_of_memory) {
        ui.closing_message(std::string(kOutOfMemory) +
                           " Die bis dahin erstellte Arbeitsmappe wurde gespeichert:\n" + output.string());
        return kExitAborted;
    }
    if (end == workbook::RunEnd::Aborted) {
        ui.closing_message(
            "Die Konvertierung wurde abgebrochen. Die bis dahin erstellte Arbeitsmappe wurde gespeichert:\n" +
            output.string());
        return kExitAborted;
    }
    ui.closing_message("Arbeitsmappe gespeichert: " + output.string());
    return kExitComplete;
}

// --angebot: the bid of phase 84 from the tender and its priced workbook; returns the exit status.
int make_bid(const app::CommandLine& cl, const workbook::StartupValues& values, app::ConsoleFrontend& ui) {
    const std::filesystem::path& tender = cl.inputs[0];
    const std::filesystem::path& priced = cl.inputs[1];
    auto usage_error = [&](const std::string& text) {
        ui.usage_error(text);
        return kExitUsage;
    };
    std::error_code ec;
    for (const std::filesystem::path& input : {tender, priced})
        if (std::filesystem::is_directory(input, ec)) {
            ui.error_dialog(input.string() + " ist ein Verzeichnis, keine Datei.");
            return kExitRefused;
        }
    if (!cl.output && app::read_once(tender))
        return usage_error("Die Eingabe " + tender.string() +
                           " ist keine gewöhnliche Datei: Bitte das Angebot mit -o angeben.");
    app::BidOrder order;
    order.tender = tender;
    order.workbook = priced;
    if (cl.output) {
        order.output = *cl.output;
        if (const auto refusal = app::refuse_output(order.output, {tender, priced}, cl.overwrite))
            return usage_error(*refusal);
        order.overwrite = cl.overwrite;
    } else {
        // The next free name when the bid is written: a name taken meanwhile is passed over.
        order.output = angebot::default_bid_path(tender);
        order.choose_output = [&tender] { return angebot::default_bid_path(tender); };
    }
    if (!workbook::folder_writable(order.output))
        return usage_error("In den Ordner der Ausgabedatei " + order.output.string() +
                           " kann nicht geschrieben werden.");
    order.incomplete = cl.incomplete ? app::IncompleteBid::Write : app::IncompleteBid::Refuse;
    order.refusal_hint =
        "Mit --unvollstaendig wird es trotzdem geschrieben, ohne Preis bei diesen Positionen.";
    order.bidder.name = cl.bidder_name;
    order.bidder.address = cl.bidder_address;

    app::install_temp_cleanup_handlers();
    app::install_memory_guard(kMemoryReserve);
    const app::BidOutcome outcome = app::make_bid(order, ui, values);
    switch (outcome.end) {
        case app::BidEnd::Written:
            ui.closing_message(outcome.closing);
            return kExitComplete;
        case app::BidEnd::Incomplete:
            ui.closing_message(outcome.closing);
            return kExitAborted;
        case app::BidEnd::NotSaved:
            return kExitNotSaved;
        case app::BidEnd::OutOfMemory:
            // The run's own report of it was left out (see ConsoleFrontend): said once, here.
            ui.closing_message(app::kBidOutOfMemory);
            break;
        case app::BidEnd::Refused:
            break;
    }
    return kExitRefused;
}

// The workbook a single run will write, as far as it can be told before the run: a report must
// not take its name.
std::vector<std::filesystem::path> expected_workbooks(const app::CommandLine& cl) {
    if (cl.output) return {*cl.output};
    std::error_code ec;
    if (cl.input == "-" || app::read_once(cl.input) || std::filesystem::is_directory(cl.input, ec)) return {};
    return {cl.folder ? app::derived_output(cl.input, *cl.folder) : app::derived_output(cl.input)};
}

int run(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    const workbook::StartupValues values = app::startup_values();
    std::setlocale(LC_NUMERIC, "C");

    const app::CommandLine cl = app::parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
    if (cl.help) {
        std::fputs(app::help_text().c_str(), stdout);
        return kExitComplete;
    }
    if (cl.version) {
        std::printf("bremora-cli %s\n", app::kVersion);
        return kExitComplete;
    }
    if (!cl.error.empty()) {
        std::fprintf(stderr, "bremora-cli: %s\n%s\n\"bremora-cli --help\" zeigt alle Optionen.\n",
                     cl.error.c_str(), app::usage_line().c_str());
        return kExitUsage;
    }
    if (cl.batch()) return app::run_batch(cl, argv[0]);
    if (cl.bid) {
        app::ConsoleFrontend ui(stderr, false, false, ::isatty(STDERR_FILENO) != 0);
        ui.set_quiet(cl.quiet);
        const int status = make_bid(cl, values, ui);
        ui.show_quiet(status != kExitComplete);
        return status;
    }

    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    app::ConsoleFrontend ui(stderr, cl.rules_answer, ::isatty(STDIN_FILENO) != 0 && terminal, terminal);
    ui.set_quiet(cl.quiet);
    ui.keep_messages(cl.report.has_value());
    if (cl.report) {
        if (const auto refusal =
                app::refuse_report(*cl.report, cl.inputs, expected_workbooks(cl), cl.overwrite)) {
            ui.usage_error(*refusal);
            ui.show_quiet(true);
            return kExitUsage;
        }
    }
    Outcome outcome;
    int status = convert(cl, values, ui, cl.report.has_value(), outcome);
    if (cl.report) {
        app::ReportEntry entry;
        entry.input = cl.input.string();
        entry.format = app::format_name(outcome.format);
        if (!outcome.exchange_phase.empty()) entry.exchange_phase = outcome.exchange_phase;
        if (outcome.figures) {
            entry.items = outcome.figures->items;
            entry.total = outcome.figures->total;
            entry.faulty_lines = outcome.figures->faulty_lines;
        }
        entry.declared_total = outcome.declared_total;
        entry.messages = ui.shown();
        if (outcome.written) entry.workbook = outcome.written->string();
        entry.status = status;
        std::vector<std::filesystem::path> keep{cl.input};
        if (outcome.written) keep.push_back(*outcome.written);
        if (const auto failure =
                app::write_report(*cl.report, app::report_json({entry}, status), keep, cl.overwrite)) {
            ui.closing_error(*failure);
            status = std::max(status, kExitNotSaved);
        }
    }
    ui.show_quiet(status != kExitComplete);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        app::join_batch();
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        // Memory ran out outside the steps that say so themselves (the command line, the start,
        // the report): one message, and never an abort.
        app::release_memory_reserve();
        std::fputs("Nicht genügend Arbeitsspeicher: Das Programm wurde abgebrochen.\n", stderr);
        return kExitRefused;
    }
}
