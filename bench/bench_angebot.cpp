// SPDX-License-Identifier: MIT
// From the priced workbook to the bid: a bill of ITEMS items in 10 x 10 ranges, its Positionsteil
// written as the readers lay it out (an item row with price formulas and two text rows per item)
// and priced, then read back, priced into the bill and written as GAEB DA XML 84. The reading,
// pricing and writing run in a child process, so that its peak memory is its own.
//
//   bench_angebot [ITEMS] [--libreoffice] [--keep DIR]     ITEMS 100000 by default
//
// --libreoffice re-saves the workbook with headless LibreOffice Calc first (shared strings and
// its own cached results, as an estimator's file has them).
#include <fmt/format.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "angebot/model.h"
#include "angebot/priced_workbook.h"
#include "angebot/pricing.h"
#include "angebot/x84_writer.h"
#include "workbook/excel_session.h"
#include "workbook/xlsx/xlsx_writer.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bill::Bill make_bill(int items) {
    bill::Bill bill;
    bill.header.project_name = "Benchmark";
    bill.header.breakdown = bill::breakdown_from_mask("1122PPPP");
    bill::Builder b(bill);
    const int per_range = (items + 99) / 100;
    int made = 0;
    for (int top = 1; top <= 10 && made < items; ++top) {
        b.enter_range({.rno_part = fmt::format("{:02}", top), .label = fmt::format("Bereich {}", top)});
        for (int sub = 1; sub <= 10 && made < items; ++sub) {
            b.enter_range({.rno_part = fmt::format("{:02}", sub), .label = fmt::format("Abschnitt {}", sub)});
            for (int i = 1; i <= per_range && made < items; ++i, ++made) {
                bill::Item item;
                item.oz = fmt::format("{:02}.{:02}.{:04}", top, sub, i);
                item.quantity = 1 + (made % 997) * 0.125;
                item.unit = "m2";
                item.alternative = made % 50 == 7;
                item.has_total = !item.alternative;
                b.add_item(item);
            }
            b.leave_range();
        }
        b.leave_range();
    }
    return bill;
}

void write_workbook(const bill::Bill& bill, const fs::path& xlsx) {
    workbook::ExcelSession excel;
    excel.Connect();
    excel.set_locale_number_formats("#,###,##0.00", "#######0.000");
    excel.set_sheets_in_new_workbook(1);
    excel.add_workbook();
    workbook::Sheet& s = excel.workbook().sheet(1);
    s.set_name("Positionsteil");
    const char* captions[] = {"Ordnungszahl", "Positionstext", "Menge",      "ME",
                              "E-Preis",      "G-Preis",       "Basispreis", "Faktor"};
    for (int32_t c = 1; c <= 8; ++c) s.set_value(7, c, captions[c - 1]);
    int32_t row = 8;
    for (size_t i = 0; i < bill.items().size(); ++i) {
        const bill::Item& item = bill.items()[i];
        const std::string r = std::to_string(row);
        s.set_value(row, 1, item.oz);
        s.set_value(row, 2, "*** Normalposition");
        s.set_value(row, 3, *item.quantity);
        s.set_value(row, 4, item.unit);
        s.set_value(row, 7, 10 + static_cast<double>(i % 1000) * 0.01);
        s.set_value(row, 8, 1.0);
        s.set_formula(row, 5, "=ROUND($G$" + r + "*$H$" + r + ",2)");
        if (item.counts_in_total()) s.set_formula(row, 6, "=ROUND($C$" + r + "*$E$" + r + ",2)");
        ++row;
        s.set_value(row++, 2, "Kurztext der Position " + item.oz);
        s.set_value(row++, 2,
                    "Langtext der Position mit einer Beschreibung der Leistung, wie sie ein LV enthält.");
    }
    workbook::xlsx::save(excel, excel.workbook(), xlsx);
}

}  // namespace

int main(int argc, char** argv) {
    int items = 100000;
    bool libreoffice = false;
    fs::path keep;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--libreoffice")
            libreoffice = true;
        else if (a == "--keep" && i + 1 < argc)
            keep = argv[++i];
        else
            items = std::atoi(argv[i]);
    }
    const fs::path dir =
        keep.empty() ? fs::temp_directory_path() / fmt::format("bremora-bench-{}", ::getpid()) : keep;
    fs::create_directories(dir);
    fs::path xlsx = dir / "angebot.xlsx";
    const bill::Bill bill = make_bill(items);
    auto start = Clock::now();
    write_workbook(bill, xlsx);
    std::printf("workbook of %d items written: %.2f s, %.1f MB\n", items, seconds_since(start),
                static_cast<double>(fs::file_size(xlsx)) / 1e6);
    if (libreoffice) {
        fs::create_directories(dir / "profile" / "user");
        start = Clock::now();
        const std::string command = fmt::format(
            "HOME='{0}' soffice -env:UserInstallation=file://{0}/profile --headless --norestore "
            "--nolockcheck "
            "--convert-to xlsx --outdir '{0}/lo' '{1}' >/dev/null 2>&1",
            dir.string(), xlsx.string());
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "LibreOffice failed\n");
            return 1;
        }
        xlsx = dir / "lo" / "angebot.xlsx";
        std::printf("re-saved by LibreOffice: %.2f s, %.1f MB\n", seconds_since(start),
                    static_cast<double>(fs::file_size(xlsx)) / 1e6);
    }

    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        bill::Bill model = make_bill(items);
        auto t = Clock::now();
        const angebot::PricedWorkbook book = angebot::read_priced_workbook(xlsx);
        const double read = seconds_since(t);
        t = Clock::now();
        const angebot::PricingResult result = angebot::price(model, book);
        const double priced = seconds_since(t);
        t = Clock::now();
        angebot::write_x84(model, dir / "angebot.x84", {}, true);
        const double written = seconds_since(t);
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        std::printf("read %.2f s, price %.2f s (%zu problems), write X84 %.2f s (%.1f MB); peak %.0f MB\n",
                    read, priced, result.problems.size(), written,
                    static_cast<double>(fs::file_size(dir / "angebot.x84")) / 1e6,
                    static_cast<double>(usage.ru_maxrss) / 1024);
        std::fflush(stdout);
        std::_Exit(result.complete() ? 0 : 2);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (keep.empty()) fs::remove_all(dir);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
