// SPDX-License-Identifier: MIT
// The priced-workbook reader, then pricing and the bid writer on what it read. Byte 0 chooses:
// even, the rest is an .xlsx file; odd, the rest is the sheet's XML, then after a NUL byte the
// shared strings, put into a package of their own (so that the fuzzer reaches the XML past the
// zip's checksums). fuzz/regressions/fuzz_angebot holds one input for each fault once found: numbers
// no bid can carry, amounts past the bound, errors from the calculation columns, a part twice or
// in other letter case, an OpenDocument file.
#include <cstddef>
#include <cstdint>
#include <map>
#include <new>
#include <string>
#include <string_view>

#include "angebot/priced_workbook.h"
#include "angebot/pricing.h"
#include "angebot/x84_writer.h"

namespace {

const std::string kRelationships = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::map<std::string, std::string> package(std::string_view body) {
    const size_t nul = body.find('\0');
    std::map<std::string, std::string> parts;
    parts["xl/workbook.xml"] = "<workbook xmlns:r=\"" + kRelationships +
                               "\"><sheets><sheet name=\"Positionsteil\" r:id=\"rId1\"/></sheets></workbook>";
    parts["xl/_rels/workbook.xml.rels"] =
        "<Relationships><Relationship Id=\"rId1\" Type=\"" + kRelationships +
        "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" + kRelationships +
        "/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>";
    parts["xl/worksheets/sheet1.xml"] = std::string(body.substr(0, nul));
    if (nul != std::string_view::npos) parts["xl/sharedStrings.xml"] = std::string(body.substr(nul + 1));
    return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        angebot::ReadLimits limits;
        limits.part_bytes = 64 << 20;
        limits.total_bytes = 128 << 20;
        const angebot::PricedWorkbook book = (data[0] & 1)
                                                 ? angebot::read_priced_workbook_parts(package(body))
                                                 : angebot::read_priced_workbook_bytes(body, limits);
        // A bill of the workbook's own OZs, with every fifth missing and some of every kind.
        bill::Bill bill;
        bill.header.breakdown = bill::breakdown_from_mask("1122PPPPI");
        bill::Builder builder(bill);
        builder.enter_range({.rno_part = "01", .label = "Bereich"});
        for (size_t i = 0; i < book.rows.size(); ++i) {
            if (i % 5 == 4) continue;
            if (i % 7 == 3) {
                builder.leave_range();
                builder.enter_range({.rno_part = book.rows[i].oz, .label = book.rows[i].oz});
            }
            bill::Item item;
            item.oz = book.rows[i].oz;
            if (i % 3 != 2) item.quantity = static_cast<double>(i) * 1.5;
            item.unit = book.rows[i].oz;
            item.alternative = i % 11 == 1;
            item.provis = i % 13 == 2 ? bill::Provis::WithoutTotal : bill::Provis::None;
            item.has_total = !item.alternative && item.provis != bill::Provis::WithoutTotal;
            item.surcharge = i % 17 == 5;
            item.markup_type = static_cast<bill::MarkupType>(i % 3);
            if (i > 0) item.markup_refs.push_back({book.rows[i - 1].oz, 2.0});
            item.id = i % 2 ? book.rows[i].oz : std::string();
            builder.add_item(std::move(item));
        }
        angebot::price(bill, book);
        angebot::X84Options options;
        options.date = "2024-01-01";
        options.time = "00:00:00";
        options.bidder.name = book.rows.empty() ? "Bieter" : book.rows.front().oz;
        if (!bill.items().empty()) (void)angebot::x84_text(bill, options);
    } catch (const angebot::AngebotError&) {
    } catch (const std::bad_alloc&) {
        // Memory ran out under libFuzzer's limit: the console says so and writes nothing.
    }
    return 0;
}
