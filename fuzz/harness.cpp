// SPDX-License-Identifier: MIT
#include "fuzz/harness.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/controller.h"
#include "app/options.h"
#include "bill/collector.h"
#include "workbook/bill_layout.h"
#include "workbook/excel_session.h"
#include "workbook/frontend.h"
#include "workbook/layout.h"

namespace fuzz {

Input split(const uint8_t* data, size_t size) {
    Input in;
    if (size == 0) return in;
    const uint8_t bits = data[0];
    unsigned bit = 1;
    for (const app::OptionSpec& o : app::workbook_options()) {
        in.options.*o.field = (bits & bit) != 0;
        bit <<= 1;
    }
    in.answer = (bits & bit) != 0;
    in.body = std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1);
    return in;
}

const std::filesystem::path& temp_folder() {
    // Never destroyed, so that the clean-up at exit still finds it.
    static const std::filesystem::path* const folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "bremora-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return new std::filesystem::path(pattern);
    }();
    static const int cleanup = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(*folder, ignored);
    });
    (void)cleanup;
    return *folder;
}

std::filesystem::path write_input(std::string_view bytes, const char* name) {
    const std::filesystem::path path = temp_folder() / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

namespace {

workbook::StartupValues startup() {
    workbook::StartupValues values;
    values.temp_folder = temp_folder();
    values.money_format = workbook::make_money_format(".", ",");
    values.quantity_format = workbook::make_quantity_format(",");
    return values;
}

}  // namespace

void run_controller(const Input& in) {
    const std::filesystem::path file = write_input(in.body, "input.gaeb");
    workbook::ExcelSession excel;
    workbook::RecordingFrontend ui;
    ui.answers.assign(4, in.answer);
    const workbook::StartupValues values = startup();
    workbook::open_session(excel, ui, values);
    app::ConversionController controller(excel, ui, values);
    controller.run(file, in.options);
}

void run_reader(const Input& in, workbook::GaebFormat format, const std::filesystem::path& file,
                void (*reader)(workbook::Reading&, std::string_view body)) {
    workbook::ExcelSession excel;
    workbook::RecordingFrontend ui;
    ui.answers.assign(4, in.answer);
    const workbook::StartupValues values = startup();
    workbook::open_session(excel, ui, values);
    workbook::Conversion c{excel, ui, values, format, in.options, file};
    const std::unique_ptr<workbook::BillLayout> layout = workbook::make_bill_layout(c);
    // The bill is collected besides: the collector meets the same hostile input.
    bill::Collector collector;
    bill::Tee both(collector, *layout);
    workbook::FrontendRun run(ui);
    workbook::Reading reading(both, run, c.place, format, workbook::read_options(in.options), file);
    reader(reading, in.body);
}

}  // namespace fuzz
