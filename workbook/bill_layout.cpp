// SPDX-License-Identifier: MIT
// What the layouts of all formats share: the sheets at the start, the header block, the faults as
// messages, and the end of a run.
#include "workbook/bill_layout.h"

#include "workbook/guarded.h"
#include "workbook/layout.h"
#include "workbook/run_end.h"

namespace workbook {

void BillLayout::start(bill::Format) {
    create_sheets();
}

void BillLayout::create_sheets() {
    create_or_stop("", bill::Ending::Failed, [&] { CreateSheets(m_c); });
}

void BillLayout::create_or_stop(std::string_view prefix, bill::Ending how, FunctionRef<void()> create) {
    if (!create_sheets_or_end(m_c, prefix, run_end(how), create)) throw bill::Stop{how};
}

void BillLayout::begin(const bill::Header& header) {
    m_header = header;
    PreparePositionsSheet(m_c);
}

void BillLayout::header_field(bill::HeaderField field, std::string_view value) {
    for (const HeaderRow& h : header_rows()) {
        if (h.field != field) continue;
        WriteHeaderBlock(m_c, h.row, h.label, value);
        return;
    }
}

void BillLayout::fault(const bill::Fault& fault) {
    if (fault.error)
        m_c.ui.error_dialog(fault.text);
    else
        m_c.ui.message(fault.text);
}

void BillLayout::end(const bill::End& end) {
    switch (end.how) {
        case bill::Ending::Complete: {
            before_finish();
            // A bill without its closing record may have lost its end: what there is stands in
            // the workbook, and the run says so.
            FinishInfo info = finish_info();
            info.cut_off = !end.closing_record;
            FinishWorkbook(m_c, m_rows, info);
            break;
        }
        case bill::Ending::Incomplete:
            FinishWorkbook(m_c, m_rows, finish_info());
            m_c.end = RunEnd::Aborted;
            break;
        case bill::Ending::GaveUp:
            FormatNachFehler(m_c);
            break;
        case bill::Ending::Failed:
            release_application(m_c);
            m_c.end_program(RunEnd::Aborted);
            break;
        case bill::Ending::Refused:
            release_application(m_c, false);
            m_c.end_program(RunEnd::Refused);
            break;
    }
}

void BillLayout::stop_full(std::string_view sheet) {
    end_with_full_sheet(m_c, sheet);
    throw bill::Stop{bill::Ending::GaveUp};
}

void BillLayout::room(int32_t row, std::string_view sheet) {
    if (row > kMaxRow) stop_full(sheet);
}

std::unique_ptr<BillLayout> make_bill_layout(Conversion& c) {
    switch (c.format) {
        case GaebFormat::Gaeb90:
            return make_gaeb90_layout(c);
        case GaebFormat::Gaeb2000:
            return make_gaeb2000_layout(c);
        default:
            return make_xml_layout(c);
    }
}

}  // namespace workbook
