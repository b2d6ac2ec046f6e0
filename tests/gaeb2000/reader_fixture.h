// SPDX-License-Identifier: MIT
// A GAEB 2000 reader reporting to its workbook layout on an in-memory session, the bill begun,
// for tests of single steps.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gaeb2000/reader.h"
#include "tests/support/test_support.h"

struct ReaderFixture : testsupport::LayoutRun {
    static workbook::ConversionOptions with_notes(workbook::ConversionOptions options) {
        options.ExportNotesText = true;
        return options;
    }

    std::unique_ptr<gaeb2000::Reader> reader;

    explicit ReaderFixture(workbook::ConversionOptions options = {})
        : LayoutRun(workbook::GaebFormat::Gaeb2000, with_notes(options)) {
        layout->start(bill::Format::Gaeb2000);
        bill::Header header;
        header.format = bill::Format::Gaeb2000;
        header.exchange_phase = "83";
        layout->begin(header);
        reader = std::make_unique<gaeb2000::Reader>(reading);
    }

    workbook::SheetRows& rows() { return layout->rows(); }

    // Column `col` of `sheet` from row `first` down to the last used row ("" for empty cells).
    std::vector<std::string> column(std::string_view sheet, int32_t col, int32_t first) {
        const workbook::Sheet& s = book().sheet(sheet);
        std::vector<std::string> out;
        for (int32_t r = first; r <= s.last_row(); ++r) out.push_back(s.text(r, col));
        while (!out.empty() && out.back().empty()) out.pop_back();
        return out;
    }
};
