// SPDX-License-Identifier: MIT
// A GAEB 2000 reader on an in-memory workbook with its sheets created, for tests of single steps.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gaeb2000/reader.h"
#include "tests/support/test_support.h"
#include "workbook/conversion.h"
#include "workbook/excel_session.h"
#include "workbook/frontend.h"
#include "workbook/layout.h"

struct ReaderFixture {
    static workbook::ConversionOptions with_notes(workbook::ConversionOptions options) {
        options.ExportNotesText = true;
        return options;
    }

    workbook::ExcelSession excel;
    workbook::RecordingFrontend ui;
    workbook::Conversion c;
    std::unique_ptr<gaeb2000::Reader> reader;

    explicit ReaderFixture(workbook::ConversionOptions options = {})
        : c(excel, ui, testsupport::startup_values(), workbook::GaebFormat::Gaeb2000, with_notes(options),
            {}) {
        excel.Connect();
        excel.set_sheets_in_new_workbook(1);
        excel.add_workbook();
        workbook::CreateSheets(c);
        reader = std::make_unique<gaeb2000::Reader>(c);
        reader->rows().Positions = 8;
    }

    // A memo holding `text`, for the cell writers.
    static std::unique_ptr<gaeb2000::LineList> memo(std::string text) {
        auto list = std::make_unique<gaeb2000::LineList>(gaeb2000::LineList::Kind::Memo);
        list->assign(std::move(text));
        return list;
    }

    // Column `col` of `sheet` from row `first` down to the last used row ("" for empty cells).
    std::vector<std::string> column(std::string_view sheet, int32_t col, int32_t first) {
        const workbook::Sheet& s = c.book().sheet(sheet);
        std::vector<std::string> out;
        for (int32_t r = first; r <= s.last_row(); ++r) out.push_back(s.text(r, col));
        while (!out.empty() && out.back().empty()) out.pop_back();
        return out;
    }
};
