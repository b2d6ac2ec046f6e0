// SPDX-License-Identifier: MIT
// The bill each reader reports, as the collector gathers it: one reviewed dump per format of the
// model (header, ranges, items with their kinds and texts, notes, faults, how reading ended), and
// the tee that gives two sinks every event.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <functional>
#include <string>

#include "app/controller.h"
#include "bill/collector.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

std::string number(const std::optional<double>& v) {
    return v ? fmt::format("{}", *v) : std::string("-");
}

std::string lines(const std::vector<std::string>& text, const std::string& indent) {
    std::string out;
    for (const std::string& l : text) out += indent + "| " + l + "\n";
    return out;
}

// A compact dump of the model: one line per header field, range, item, sub-description,
// performance description, note and fault; texts as "| line" below their owner.
std::string dump(const bill::Bill& b, bill::Ending ending) {
    const bill::Header& h = b.header;
    std::string out = fmt::format("phase {} | mask {} | version {} | charset {}\n", h.exchange_phase, h.mask,
                                  h.version, h.charset);
    out += fmt::format("project {} | label {} | client {}\n", h.project_name, h.project_label, h.client);
    out += fmt::format("bill {} [{}] | label {} | date {} ({}) | currency {} {}\n", h.name, h.boq_id, h.label,
                       h.date, h.date_text, h.currency, h.currency_label);
    out += "breakdown";
    for (const bill::Breakdown& k : h.breakdown)
        out += fmt::format(" {}{}",
                           k.type == bill::BreakdownType::Range  ? "R"
                           : k.type == bill::BreakdownType::Item ? "I"
                                                                 : "X",
                           k.length);
    out += "\n";
    std::function<void(uint32_t, int)> walk = [&](uint32_t r, int depth) {
        const std::string indent(static_cast<size_t>(depth) * 2, ' ');
        for (const bill::Entry& e : b.ranges()[r].children) {
            if (e.is_range()) {
                const bill::Range& g = b.ranges()[e.index];
                out += fmt::format("{}range {} ({}) level {} [{}] \"{}\"{}{}\n", indent, g.oz, g.rno_part,
                                   g.level, g.id, g.label, g.has_number ? "" : " unnumbered",
                                   g.declared_total ? " total " + number(g.declared_total) : "");
                out += lines(g.text, indent + "  ");
                walk(e.index, depth + 1);
                continue;
            }
            if (!e.is_item()) {
                const bill::PerformanceDescription& p = b.performance_descriptions()[e.index];
                out += fmt::format("{}performance {} \"{}\"\n", indent, p.number, p.label);
                out += lines(p.short_text, indent + "  ") + lines(p.long_text, indent + "  ~");
                continue;
            }
            const bill::Item& i = b.items()[e.index];
            out += fmt::format("{}item {} ({}.{}) [{}] {} {} {}", indent, i.oz, i.rno_part, i.rno_index, i.id,
                               number(i.quantity), i.unit, i.has_total ? "total" : "no-total");
            if (!i.kind_code.empty()) out += " kind " + i.kind_code;
            if (i.alternative) out += " alternative";
            if (i.provis == bill::Provis::WithTotal) out += " with-total";
            if (i.provis == bill::Provis::WithoutTotal) out += " without-total";
            if (i.surcharge) out += " surcharge";
            for (const bill::MarkupRef& ref : i.markup_refs) out += " >" + ref.item_id;
            if (i.unit_price) out += " up " + number(i.unit_price);
            if (i.total) out += " it " + number(i.total);
            if (i.quantity_unreadable) out += " quantity?";
            if (i.unit_price_unreadable) out += " price?";
            out += "\n" + lines(i.short_text, indent + "  ") + lines(i.long_text, indent + "  ~");
            for (const bill::TextComplement& t : i.complements)
                out += fmt::format("{}  complement {} [{}] \"{}\" \"{}\" \"{}\"\n", indent,
                                   t.owner == bill::TextComplement::Owner::Bidder ? "bidder" : "owner",
                                   t.mark, t.caption, t.body, t.tail);
            for (const bill::SubDescription& s : i.sub_descriptions) {
                out += fmt::format("{}  sub {} {} {}\n", indent, s.number, s.quantity_text, s.unit);
                out += lines(s.short_text, indent + "    ") + lines(s.long_text, indent + "    ~");
            }
        }
    };
    walk(0, 0);
    for (const bill::Note& n : b.notes) {
        out += fmt::format("note of range {}{}\n", b.ranges()[n.range].oz,
                           n.item_oz.empty() ? "" : " item " + n.item_oz);
        out += lines(n.lines, "  ");
    }
    for (const std::string& l : b.rules) out += "rule " + l + "\n";
    for (const std::string& l : b.faulty_lines) out += "faulty " + l + "\n";
    for (const bill::Fault& f : b.faults)
        out += fmt::format("fault line {} column {}{}: {}\n", f.place.line, f.place.column,
                           f.place.in_item ? " item " + f.place.oz : "", f.text);
    out += fmt::format("end {} closing {} total {}\n", static_cast<int>(ending), b.closing_record,
                       number(b.declared_total));
    return out;
}

struct Collected {
    bill::Collector collector;
    workbook::RunEnd end = workbook::RunEnd::Running;
};

std::unique_ptr<Collected> collect(const fs::path& input, bill::Sink* also = nullptr) {
    auto c = std::make_unique<Collected>();
    workbook::RecordingFrontend ui;
    ui.answers = {true};  // GAEB 90: the contractual rules are read
    app::ConversionController controller(ui, testsupport::startup_values());
    workbook::ReadOptions options;
    options.ExportNotesText = true;
    if (also) {
        bill::Tee both(c->collector, *also);
        c->end = controller.read(input, options, both);
    } else {
        c->end = controller.read(input, options, c->collector);
    }
    return c;
}

// One bill of each format with what its reader sees: ranges, items of every kind, texts,
// sub-descriptions, notes, values that are no number, faulty records.
TEST(Collector, EachReadersBillMatchesItsReviewedDump) {
    struct Case {
        const char* fixture;
        const char* golden;
        workbook::RunEnd end = workbook::RunEnd::Completed;
    };
    const Case cases[] = {
        {"gaeb90/fehlerhafte_saetze.d81", "bill/gaeb90"},
        {"gaeb90/kalkulation.d83", "bill/gaeb90_kalkulation"},
        // Read to its end, but without its closing record: no success.
        {"gaeb90/ohne_schlusssatz.d83", "bill/gaeb90_ohne_schlusssatz", workbook::RunEnd::Aborted},
        {"gaeb2000/hinweise.p83", "bill/gaeb2000"},
        {"gaeb2000/werte_ungueltig.p83", "bill/gaeb2000_werte"},
        {"gaebxml/zuschlaege.x83", "bill/gaebxml"},
        {"gaebxml/texte.x83", "bill/gaebxml_texte"},
        {"gaebxml/angebot_preise.x84", "bill/gaebxml_angebot"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        const auto collected = collect(testsupport::data_dir() / c.fixture);
        EXPECT_EQ(collected->end, c.end);
        testsupport::expect_golden_text(c.golden,
                                        dump(collected->collector.bill(), collected->collector.ending()));
    }
}

TEST(Collector, ATeeGivesBothSinksEveryEvent) {
    for (const char* fixture :
         {"gaeb90/kalkulation.d83", "gaeb2000/bereiche_zwei_ebenen.p83", "gaebxml/texte.x83"}) {
        SCOPED_TRACE(fixture);
        bill::Collector second;
        const auto c = collect(testsupport::data_dir() / fixture, &second);
        EXPECT_EQ(dump(second.bill(), second.ending()), dump(c->collector.bill(), c->collector.ending()));
        EXPECT_FALSE(second.bill().items().empty());
    }
}

// A refused file reports its reason as a fault and ends the bill as refused.
TEST(Collector, ARefusedBillSaysWhy) {
    const fs::path dir = testsupport::fresh_dir();
    testsupport::write_file(dir / "falsch.x83", "<?xml version=\"1.0\"?><Rechnung/>");
    const auto c = collect(dir / "falsch.x83");
    EXPECT_EQ(c->end, workbook::RunEnd::Refused);
    EXPECT_EQ(c->collector.ending(), bill::Ending::Refused);
    ASSERT_EQ(c->collector.bill().faults.size(), 1u);
    EXPECT_TRUE(c->collector.bill().faults[0].error);
    EXPECT_NE(c->collector.bill().faults[0].text.find("ist keine GAEB-XML-Datei"), std::string::npos);
    EXPECT_TRUE(c->collector.bill().items().empty());
}

}  // namespace
