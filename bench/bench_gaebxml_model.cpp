// SPDX-License-Identifier: MIT
// A GAEB DA XML conversion into the in-memory workbook, without saving it: the reader's share
// of a console run, which bench_gaebxml.sh shows beside pugixml alone and the whole run.
//
//   bench_gaebxml_model FILE
#include <chrono>
#include <cstdio>

#include "app/controller.h"
#include "workbook/layout.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Aufruf: bench_gaebxml_model DATEI\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    workbook::ExcelSession excel;
    workbook::RecordingFrontend ui;
    const workbook::StartupValues values = app::startup_values();
    workbook::open_session(excel, ui, values);
    app::ConversionController controller(excel, ui, values);
    const workbook::RunEnd end = controller.run(argv[1], workbook::ConversionOptions{});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const workbook::Workbook* book = excel.result();
    const int rows =
        book && book->find_sheet("Positionsteil") ? book->find_sheet("Positionsteil")->last_row() : 0;
    std::printf("%.3f s, %d rows, %zu messages\n", seconds, rows, ui.messages.size());
    return end == workbook::RunEnd::Completed ? 0 : 1;
}
