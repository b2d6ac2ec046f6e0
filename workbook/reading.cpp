// SPDX-License-Identifier: MIT
#include "workbook/reading.h"

#include "workbook/errors.h"
#include "workbook/guarded.h"

namespace workbook {

RunEnd run_end(bill::Ending how) {
    switch (how) {
        case bill::Ending::Complete:
            return RunEnd::Completed;
        case bill::Ending::Refused:
            return RunEnd::Refused;
        case bill::Ending::Incomplete:
        case bill::Ending::GaveUp:
        case bill::Ending::Failed:
            break;
    }
    return RunEnd::Aborted;
}

ReadOptions read_options(const ConversionOptions& options) {
    return {options.OnlyShortText, options.ExportNotesText, options.LogFaultyLines};
}

bill::Place place_of(const InputPlace& place) {
    const LineColumn where = place.line_column();
    return {where.line, where.column, place.in_item(), place.oz()};
}

void Reading::fault(std::string text, bool error) {
    sink.fault({place_of(place), std::move(text), error});
}

bill::Place Reading::place_at(int64_t offset) const {
    bill::Place where = place_of(place);
    const LineColumn at = place.line_column_at(offset);
    where.line = at.line;
    where.column = at.column;
    return where;
}

void Reading::finish(const bill::End& how) {
    if (ended()) return;
    // The sink first: when it stops the run, the stop says how it ended.
    sink.end(how);
    // A bill read to its end that lacks its closing record may have lost its end: no success.
    end = how.how == bill::Ending::Complete && !how.closing_record ? RunEnd::Aborted : run_end(how.how);
}

bool guarded(Reading& r, std::string_view prefix, FunctionRef<void()> step) {
    return guarded(step,
                   [&](const std::exception& e) { r.fault(std::string(prefix) + step_report(r.place, e)); });
}

void run_reader(Reading& r, FunctionRef<void()> read, FunctionRef<void(const std::exception&)> unexpected) {
    try {
        guarded(read, unexpected);
    } catch (const bill::Stop& stop) {
        // The sink has ended its outputs and said why.
        if (!r.ended()) r.end = run_end(stop.how);
    }
}

}  // namespace workbook
