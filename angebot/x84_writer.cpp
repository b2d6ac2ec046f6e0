// SPDX-License-Identifier: MIT
// Element names and their order follow the phase-84 bills of the standard's test files: GAEB with
// GAEBInfo, PrjInfo, Award; Award with DP, AwardInfo, CTR (the bidder), BoQ; BoQInfo with Name,
// Date, the BoQBkdn levels and Totals; BoQCtgy with its BoQBody and Totals; Item with Qty,
// QU, UP, IT; MarkupItem with ITMarkup, Markup, IT. No element is written without content.
#include "angebot/x84_writer.h"

#include <fmt/format.h>

#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <new>
#include <sstream>
#include <unordered_set>

#include "angebot/pricing.h"
#include "app/version.h"
#include "workbook/errors.h"
#include "workbook/output_file.h"
#include "workbook/text.h"

namespace angebot {

namespace {

namespace fs = std::filesystem;

// Lengths the DA XML fields hold, in characters.
constexpr size_t kNamePrj = 20, kLblPrj = 60, kBoQName = 20, kAddressName = 40, kStreet = 40, kCity = 40,
                 kUnit = 20, kCurrency = 3, kCurrencyLabel = 30, kLblBkdn = 20;
constexpr size_t kAddressNames = 4;  // Name1 to Name4

// Text fit for one XML element: valid UTF-8, no control characters (line breaks become blanks),
// blanks collapsed and trimmed, at most `limit` characters.
std::string clean(std::string_view text, size_t limit = std::string::npos) {
    const std::string valid = workbook::is_valid_utf8(text) ? std::string(text) : workbook::repair_utf8(text);
    std::string out;
    out.reserve(valid.size());
    bool blank = false;
    for (size_t i = 0; i < valid.size(); ++i) {
        const auto b = static_cast<unsigned char>(valid[i]);
        // U+FFFE and U+FFFF are no XML characters.
        if (b == 0xEF && i + 2 < valid.size() && static_cast<unsigned char>(valid[i + 1]) == 0xBF &&
            (static_cast<unsigned char>(valid[i + 2]) & 0xFE) == 0xBE) {
            i += 2;
            continue;
        }
        if (b < 0x20 || b == 0x7F || b == ' ') {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out.push_back(' ');
        blank = false;
        out.push_back(valid[i]);
    }
    if (limit != std::string::npos) out = std::string(workbook::utf8_prefix(out, limit));
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// Splits a name over lines of at most `width` characters at blanks.
std::vector<std::string> wrap(const std::string& text, size_t width, size_t max_lines) {
    std::vector<std::string> lines;
    std::string_view rest = text;
    while (!rest.empty() && lines.size() < max_lines) {
        if (workbook::utf8_length(rest) <= width || lines.size() + 1 == max_lines) {
            lines.push_back(clean(rest, width));
            break;
        }
        const size_t cut = workbook::utf8_offset(rest, width);
        size_t at = rest.substr(0, cut + 1).rfind(' ');
        if (at == std::string_view::npos || at == 0) at = cut;
        lines.push_back(clean(rest.substr(0, at), width));
        rest = workbook::trim_ctl(rest.substr(at));
    }
    return lines;
}

// "12345 Musterstadt" or "D-12345 Musterstadt": postcode and city.
bool postcode_line(const std::string& line, std::string& pcode, std::string& city) {
    size_t i = 0;
    if (line.size() > 2 && line[0] >= 'A' && line[0] <= 'Z' && line[1] == '-') i = 2;
    const size_t digits_from = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
    if (i - digits_from < 4 || i - digits_from > 5 || i >= line.size() || line[i] != ' ') return false;
    pcode = line.substr(0, i);
    city = clean(line.substr(i + 1), kCity);
    return !city.empty();
}

// "09:14:00" as given; empty for anything else.
std::string clock_time(std::string_view text) {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') return {};
    for (size_t i : {0, 1, 3, 4, 6, 7})
        if (text[i] < '0' || text[i] > '9') return {};
    if (text.substr(0, 2) > "23" || text.substr(3, 2) > "59" || text.substr(6, 2) > "59") return {};
    return std::string(text);
}

// An item's number where the tender gave none: the last group of its OZ.
std::string item_number(const bill::Item& item) {
    std::string part = clean(item.rno_part);
    if (!part.empty()) return part;
    std::string_view oz = workbook::trim_ctl(item.oz);
    while (!oz.empty() && oz.back() == '.') oz.remove_suffix(1);
    const size_t dot = oz.rfind('.');
    part = clean(dot == std::string_view::npos ? oz : oz.substr(dot + 1));
    return part.empty() ? "0" : part;
}

class IdMaker {
public:
    explicit IdMaker(const bill::Bill& model) {
        m_used.insert(model.header.boq_id);
        for (const auto& r : model.ranges()) m_used.insert(r.id);
        for (const auto& i : model.items()) m_used.insert(i.id);
    }
    // The tender's ID when it has one, else a new one that no other element has.
    std::string take(const std::string& given, char prefix) {
        if (!given.empty()) return clean(given);
        std::string id;
        do {
            id = fmt::format("{}{}", prefix, ++m_counter);
        } while (m_used.count(id));
        m_used.insert(id);
        return id;
    }

private:
    std::unordered_set<std::string> m_used;
    unsigned m_counter = 0;
};

class X84Builder {
public:
    X84Builder(const bill::Bill& model, const X84Options& options)
        : m_model(model), m_options(options), m_ids(model) {
        m_has_items.assign(model.ranges().size(), false);
        // A range is stored after its parent: going backwards every child is seen before its parent.
        for (size_t r = model.ranges().size(); r-- > 0;) {
            for (const bill::Entry& e : model.ranges()[r].children)
                if (e.is_item() || (e.is_range() && m_has_items[e.index])) m_has_items[r] = true;
        }
    }

    std::string build() {
        if (m_model.items().empty() || !m_has_items[0])
            throw AngebotError(
                "Das Leistungsverzeichnis enthält keine Positionen; es gibt nichts anzubieten.");
        pugi::xml_document doc;
        pugi::xml_node decl = add(doc, pugi::node_declaration);
        set(decl, "version", "1.0");
        set(decl, "encoding", "UTF-8");
        pugi::xml_node gaeb = add(doc, "GAEB");
        set(gaeb, "xmlns", std::string(kX84Namespace).c_str());
        gaeb_info(add(gaeb, "GAEBInfo"));
        prj_info(add(gaeb, "PrjInfo"));
        award(add(gaeb, "Award"));
        std::ostringstream out;
        doc.save(out, "  ", pugi::format_indent, pugi::encoding_utf8);
        // A stream that could not grow only marks itself bad.
        if (!out) throw std::bad_alloc();
        return out.str();
    }

private:
    // pugixml gives an empty node when memory runs out: the bid must not lose elements silently.
    template <class Kind>
    static pugi::xml_node add(pugi::xml_node parent, Kind kind) {
        const pugi::xml_node node = parent.append_child(kind);
        if (!node) throw std::bad_alloc();
        return node;
    }
    static void set(pugi::xml_node node, const char* name, const char* value) {
        if (!node.append_attribute(name).set_value(value)) throw std::bad_alloc();
    }

    static void text(pugi::xml_node parent, const char* name, const std::string& value) {
        if (value.empty()) return;
        if (!add(parent, name).text().set(value.c_str())) throw std::bad_alloc();
    }

    void gaeb_info(pugi::xml_node info) {
        std::string date = bill::iso_date(m_options.date), time = clock_time(m_options.time);
        if (date.empty() || time.empty()) {
            const std::time_t now = std::time(nullptr);
            std::tm local{};
            localtime_r(&now, &local);
            char buffer[16];
            if (date.empty() && std::strftime(buffer, sizeof buffer, "%Y-%m-%d", &local)) date = buffer;
            if (time.empty() && std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local)) time = buffer;
        }
        text(info, "Version", "3.3");
        text(info, "VersDate", "2021-05");
        text(info, "Date", date);
        text(info, "Time", time);
        const std::string program = std::string("Bremora ") + app::kVersion;
        text(info, "ProgSystem", program);
        text(info, "ProgName", program);
    }

    void prj_info(pugi::xml_node prj) {
        const bill::Header& info = m_model.header;
        // NamePrj is required: the bill's name stands in for a missing project name.
        std::string name = clean(info.project_name, kNamePrj);
        if (name.empty()) name = clean(info.name, kNamePrj);
        if (name.empty()) name = clean(info.label, kNamePrj);
        if (name.empty()) name = "Angebot";
        text(prj, "NamePrj", name);
        text(prj, "LblPrj", clean(info.project_label, kLblPrj));
    }

    void award(pugi::xml_node award) {
        text(award, "DP", "84");
        pugi::xml_node info = add(award, "AwardInfo");
        std::string currency = clean(m_model.header.currency, kCurrency);
        if (currency.empty()) currency = "EUR";
        text(info, "Cur", currency);
        std::string label = clean(m_model.header.currency_label, kCurrencyLabel);
        if (label.empty() && currency == "EUR") label = "Euro";
        text(info, "CurLbl", label);
        bidder(award);
        boq(add(award, "BoQ"));
    }

    void bidder(pugi::xml_node award) {
        const Bidder& b = m_options.bidder;
        const std::string name = clean(b.name);
        if (name.empty()) return;
        std::vector<std::string> lines;
        for (const auto& l : b.address)
            if (std::string c = clean(l); !c.empty()) lines.push_back(std::move(c));
        std::string pcode, city, street;
        size_t rest = lines.size();
        if (rest > 0 && postcode_line(lines[rest - 1], pcode, city))
            --rest;
        else if (rest > 0)
            city = clean(lines[--rest], kCity);
        if (rest > 0) street = clean(lines[--rest], kStreet);
        std::vector<std::string> names = wrap(name, kAddressName, kAddressNames);
        for (size_t i = 0; i < rest && names.size() < kAddressNames; ++i)
            names.push_back(clean(lines[i], kAddressName));

        pugi::xml_node address = add(add(award, "CTR"), "Address");
        for (size_t i = 0; i < names.size(); ++i)
            text(address, fmt::format("Name{}", i + 1).c_str(), names[i]);
        text(address, "Street", street);
        text(address, "PCode", pcode);
        text(address, "City", city);
    }

    void boq(pugi::xml_node boq) {
        set(boq, "ID", m_ids.take(m_model.header.boq_id, 'B').c_str());
        pugi::xml_node info = add(boq, "BoQInfo");
        const bill::Header& header = m_model.header;
        std::string name = clean(header.name, kBoQName);
        if (name.empty()) name = clean(header.label, kBoQName);
        if (name.empty()) name = clean(header.project_name, kBoQName);
        if (name.empty()) name = "LV";
        text(info, "Name", name);
        text(info, "Date", bill::iso_date(header.date));
        for (const bill::Breakdown& b : breakdown()) {
            pugi::xml_node bkdn = add(info, "BoQBkdn");
            text(bkdn, "Type",
                 b.type == bill::BreakdownType::Range  ? "BoQLevel"
                 : b.type == bill::BreakdownType::Item ? "Item"
                                                       : "Index");
            text(bkdn, "LblBoQBkdn", clean(b.label, kLblBkdn));
            text(bkdn, "Length", std::to_string(b.length));
            text(bkdn, "Num", b.numeric ? "Yes" : "No");
            if (!b.numeric) {
                const std::string alignment = b.alignment == "right" ? "right" : "left";
                text(bkdn, "Alignment", alignment);
            }
        }
        totals(info, m_model.root().total_cents);
        body(add(boq, "BoQBody"), m_model.root());
    }

    // The tender's breakdown; for a tender that gave none, one made from the longest parts.
    std::vector<bill::Breakdown> breakdown() const {
        std::vector<bill::Breakdown> given;
        for (const bill::Breakdown& b : m_model.header.breakdown)
            if (b.length > 0 && b.length <= 9) given.push_back(b);
        bool has_item = false;
        for (const bill::Breakdown& b : given) has_item = has_item || b.type == bill::BreakdownType::Item;
        if (has_item) return given;

        std::vector<int> levels;
        int item = 1, index = 0;
        std::vector<std::pair<uint32_t, size_t>> stack{{0, 0}};
        while (!stack.empty()) {
            const auto [r, depth] = stack.back();
            stack.pop_back();
            for (const bill::Entry& e : m_model.ranges()[r].children) {
                if (e.is_range()) {
                    if (levels.size() <= depth) levels.resize(depth + 1, 1);
                    levels[depth] =
                        std::max(levels[depth], static_cast<int>(m_model.ranges()[e.index].rno_part.size()));
                    stack.push_back({e.index, depth + 1});
                } else if (e.is_item()) {
                    const bill::Item& i = m_model.items()[e.index];
                    item = std::max(item, static_cast<int>(i.rno_part.size()));
                    index = std::max(index, static_cast<int>(i.rno_index.size()));
                }
            }
        }
        std::vector<bill::Breakdown> made;
        for (int l : levels) made.push_back({bill::BreakdownType::Range, std::min(l, 9), true, {}, {}});
        made.push_back({bill::BreakdownType::Item, std::min(item, 9), true, {}, {}});
        if (index > 0) made.push_back({bill::BreakdownType::Index, std::min(index, 9), false, {}, "left"});
        return made;
    }

    static void totals(pugi::xml_node parent, int64_t cents) {
        text(add(parent, "Totals"), "Total", cents_text(cents));
    }

    // A range's children: each run of items forms one Itemlist, each range a BoQCtgy.
    void body(pugi::xml_node body, const bill::Range& range) {
        pugi::xml_node list;
        size_t ranges = 0;
        for (const bill::Entry& e : range.children) {
            if (e.is_range()) {
                list = {};
                ++ranges;
                if (m_has_items[e.index]) category(body, m_model.ranges()[e.index], ranges);
                continue;
            }
            if (!e.is_item()) continue;
            if (!list) list = add(body, "Itemlist");
            item(list, m_model.items()[e.index]);
        }
    }

    // A range without number of its own is numbered by its place among the ranges beside it.
    void category(pugi::xml_node body_node, const bill::Range& range, size_t place) {
        pugi::xml_node ctgy = add(body_node, "BoQCtgy");
        set(ctgy, "ID", m_ids.take(range.id, 'C').c_str());
        std::string number = clean(range.rno_part);
        if (number.empty()) number = std::to_string(place);
        set(ctgy, "RNoPart", number.c_str());
        body(add(ctgy, "BoQBody"), range);
        totals(ctgy, range.total_cents);
    }

    void item(pugi::xml_node list, const bill::Item& item) {
        pugi::xml_node node = add(list, item.surcharge ? "MarkupItem" : "Item");
        set(node, "ID", m_ids.take(item.id, 'I').c_str());
        set(node, "RNoPart", item_number(item).c_str());
        if (const std::string index = clean(item.rno_index); !index.empty())
            set(node, "RNoIndex", index.c_str());
        if (item.surcharge) {
            if (item.markup_base) text(node, "ITMarkup", decimal_text(*item.markup_base, 2, 2));
            if (item.unit_price) text(node, "Markup", decimal_text(*item.unit_price, 2, 3));
            if (item.total_cents) text(node, "IT", cents_text(*item.total_cents));
            return;
        }
        if (item.quantity_used) text(node, "Qty", decimal_text(*item.quantity_used, 3, 15));
        text(node, "QU", clean(item.unit, kUnit));
        if (item.unit_price) text(node, "UP", decimal_text(*item.unit_price, 2, 3));
        if (item.total_cents && item.counts_in_total()) text(node, "IT", cents_text(*item.total_cents));
    }

    const bill::Bill& m_model;
    const X84Options& m_options;
    IdMaker m_ids;
    std::vector<bool> m_has_items;  // per range: an item somewhere below it
};

// The bid's own words for the usual failures, the common ones for the rest.
std::string reason_of_errno(int error) {
    switch (error) {
        case 0:
            return "das Ziel ist keine gewöhnliche Datei";
        case ENOENT:
            return "Ordner nicht gefunden";
        case EACCES:
        case EPERM:
            return "Zugriff verweigert";
        case ENOSPC:
        case EDQUOT:
            return "kein Speicherplatz";
        case EROFS:
            return "Datenträger schreibgeschützt";
        case EISDIR:
            return "das Ziel ist ein Ordner";
        case ENAMETOOLONG:
            return "Dateiname zu lang";
        case EEXIST:
            return "die Datei gibt es schon; sie wird nicht überschrieben";
        default:
            return workbook::errno_text(error);
    }
}

[[noreturn]] void save_failed(const fs::path& target, const std::string& reason) {
    throw AngebotError(
        fmt::format("Das Angebot kann nicht gespeichert werden: {} ({})", target.string(), reason));
}

}  // namespace

std::string decimal_text(double value, int min_decimals, int max_decimals) {
    value = spreadsheet_value(value);
    if (value == 0) value = 0;  // no "-0.00"
    const int decimals = std::clamp(decimals_of(value), min_decimals, max_decimals);
    return fmt::format("{:.{}f}", value, decimals);
}

std::string cents_text(int64_t cents) {
    const uint64_t magnitude =
        cents < 0 ? static_cast<uint64_t>(-(cents + 1)) + 1 : static_cast<uint64_t>(cents);
    return fmt::format("{}{}.{:02}", cents < 0 ? "-" : "", magnitude / 100, magnitude % 100);
}

std::string x84_text(const bill::Bill& model, const X84Options& options) {
    return X84Builder(model, options).build();
}

void write_x84(const bill::Bill& model, const fs::path& target, const X84Options& options, bool overwrite) {
    const std::string bytes = x84_text(model, options);
    try {
        workbook::OutputFile file(target, overwrite ? workbook::Existing::Replace : workbook::Existing::Keep);
        file.write(bytes);
        file.commit();
    } catch (const workbook::OutputFileError& e) {
        if (e.error() == ENOMEM) throw std::bad_alloc();
        save_failed(target, reason_of_errno(e.error()));
    }
}

fs::path default_bid_path(const fs::path& tender) {
    return workbook::free_name(fs::path(tender).replace_extension(".x84"));
}

}  // namespace angebot
