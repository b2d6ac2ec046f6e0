// SPDX-License-Identifier: MIT
// bremora-cli: converts one GAEB file into an .xlsx workbook.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/console_frontend.h"
#include "app/controller.h"
#include "app/temp_file.h"
#include "app/version.h"
#include "workbook/layout.h"
#include "workbook/xlsx/xlsx_writer.h"

namespace {

constexpr int kExitComplete = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAborted = 3;

bool folder_writable(const std::filesystem::path& file) {
    std::filesystem::path folder = file.parent_path();
    if (folder.empty()) folder = ".";
    std::error_code ec;
    return std::filesystem::is_directory(folder, ec) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

int main(int argc, char** argv) {
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

    std::error_code ec;
    if (std::filesystem::is_directory(cl.input, ec)) {
        std::fprintf(stderr, "Fehler: %s ist ein Verzeichnis, keine GAEB-Datei.\n", cl.input.c_str());
        return kExitRefused;
    }
    const std::filesystem::path output = cl.output ? *cl.output : app::derived_output(cl.input);
    if (!folder_writable(output)) {
        std::fprintf(stderr,
                     "bremora-cli: In den Ordner der Ausgabedatei %s kann nicht geschrieben werden.\n",
                     output.c_str());
        return kExitUsage;
    }
    if (std::filesystem::is_directory(output, ec)) {
        std::fprintf(stderr, "bremora-cli: Die Ausgabedatei %s ist ein Verzeichnis.\n", output.c_str());
        return kExitUsage;
    }

    app::install_temp_cleanup_handlers();
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    app::ConsoleFrontend ui(stderr, cl.rules_answer, ::isatty(STDIN_FILENO) != 0 && terminal, terminal);

    workbook::ExcelSession excel;
    workbook::open_session(excel, ui, values);

    app::ConversionController controller(excel, ui, values);
    const workbook::RunEnd end = controller.run(cl.input, cl.options);
    if (end == workbook::RunEnd::Refused || end == workbook::RunEnd::Running || !excel.result()) {
        return kExitRefused;
    }

    try {
        workbook::xlsx::save(excel, *excel.result(), output);
    } catch (const std::exception& e) {
        ui.message(std::string("Die Arbeitsmappe wurde nicht geschrieben.\n") + e.what());
        return kExitRefused;
    }
    if (end == workbook::RunEnd::Aborted) {
        ui.message(
            "Die Konvertierung wurde abgebrochen. Die bis dahin erstellte Arbeitsmappe wurde gespeichert:\n" +
            output.string());
        return kExitAborted;
    }
    ui.message("Arbeitsmappe gespeichert: " + output.string());
    return kExitComplete;
}
