// SPDX-License-Identifier: MIT
// Office Open XML as LibreOffice Calc and the spreadsheet write it: the package's relationships
// lead from _rels/.rels to the workbook, from the workbook to the sheet named Positionsteil and
// to the shared strings. Element names are compared without their namespace prefix, since some
// writers put every element of SpreadsheetML under one ("x:c").
#include "angebot/priced_workbook.h"

#include <fmt/format.h>

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>

#include "angebot/model.h"
#include "angebot/xml_pieces.h"
#include "angebot/zip_package.h"
#include "workbook/text.h"

namespace angebot {

namespace {

constexpr int32_t kMaxRow = 1048576;
constexpr int32_t kMaxCol = 16384;
constexpr const char* kSaveAsXlsx =
    "Bitte die Arbeitsmappe in der Tabellenkalkulation als .xlsx speichern (Dateityp „Excel 2007-365“).";
[[noreturn]] void fail(const std::string& text) {
    throw AngebotError(text);
}

pugi::xml_node child(pugi::xml_node parent, std::string_view name) {
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && local_name(c.name()) == name) return c;
    return {};
}

// An attribute by its local name: "r:id" is found as "id" with `prefixed`, "r" as "r" without.
pugi::xml_attribute attribute(pugi::xml_node node, std::string_view name, bool prefixed = false) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        const std::string_view full(a.name());
        const bool has_prefix = full.find(':') != std::string_view::npos;
        if (has_prefix == prefixed && local_name(a.name()) == name) return a;
    }
    return {};
}

// The parts of the package by name: from the zip archive, or already unpacked.
class Parts {
public:
    Parts(std::function<std::optional<std::string>(const std::string&)> read, std::string what)
        : m_read(std::move(read)), m_what(std::move(what)) {}

    std::optional<std::string> read(const std::string& name) { return m_read(name); }

    // Parses a part in place; the buffer must outlive the document.
    void parse(pugi::xml_document& doc, std::string& buffer, const std::string& name) {
        if (tree_bytes(buffer) > kMaxTreeBytes)
            fail(fmt::format("{} ist zu groß: \"{}\" hat zu viele Elemente.", m_what, name));
        const pugi::xml_parse_result result =
            doc.load_buffer_inplace(buffer.data(), buffer.size(),
                                    pugi::parse_default | pugi::parse_ws_pcdata_single, pugi::encoding_auto);
        if (result.status == pugi::status_out_of_memory) throw std::bad_alloc();
        if (!result)
            fail(fmt::format("{} ist beschädigt: \"{}\" ist kein gültiges XML ({} an Stelle {}).", m_what,
                             name, result.description(), result.offset));
    }

    const std::string& what() const { return m_what; }

private:
    std::function<std::optional<std::string>(const std::string&)> m_read;
    std::string m_what;
};

// "xl/workbook.xml" + "worksheets/sheet1.xml" = "xl/worksheets/sheet1.xml"; "/xl/..." is absolute.
std::string resolve(std::string_view source_part, std::string_view target) {
    std::vector<std::string_view> segments;
    std::string_view base;
    if (!target.empty() && target[0] == '/') {
        target.remove_prefix(1);
    } else {
        const size_t slash = source_part.rfind('/');
        base = slash == std::string_view::npos ? std::string_view{} : source_part.substr(0, slash);
    }
    auto add = [&segments](std::string_view path) {
        size_t start = 0;
        while (start <= path.size()) {
            size_t end = path.find('/', start);
            if (end == std::string_view::npos) end = path.size();
            const std::string_view seg = path.substr(start, end - start);
            if (seg == "..") {
                if (!segments.empty()) segments.pop_back();
            } else if (!seg.empty() && seg != ".") {
                segments.push_back(seg);
            }
            start = end + 1;
        }
    };
    add(base);
    add(target);
    std::string out;
    for (const auto& seg : segments) {
        if (!out.empty()) out += '/';
        out += seg;
    }
    return out;
}

// "xl/workbook.xml" -> "xl/_rels/workbook.xml.rels".
std::string rels_part(std::string_view part) {
    const size_t slash = part.rfind('/');
    if (slash == std::string_view::npos) return fmt::format("_rels/{}.rels", part);
    return fmt::format("{}/_rels/{}.rels", part.substr(0, slash), part.substr(slash + 1));
}

struct Relationship {
    std::string id, type, target;
    bool external = false;
};

std::vector<Relationship> relationships(Parts& parts, const std::string& name) {
    std::vector<Relationship> out;
    std::optional<std::string> bytes = parts.read(name);
    if (!bytes) return out;
    pugi::xml_document doc;
    parts.parse(doc, *bytes, name);
    for (pugi::xml_node r = child(doc, "Relationships").first_child(); r; r = r.next_sibling()) {
        if (r.type() != pugi::node_element || local_name(r.name()) != "Relationship") continue;
        out.push_back({attribute(r, "Id").value(), attribute(r, "Type").value(),
                       attribute(r, "Target").value(),
                       std::string_view(attribute(r, "TargetMode").value()) == "External"});
    }
    return out;
}

bool type_is(std::string_view type, std::string_view last_segment) {
    const size_t slash = type.rfind('/');
    return slash != std::string_view::npos && type.substr(slash + 1) == last_segment;
}

// "_x000D_" and the like: characters XML cannot hold, escaped the way SpreadsheetML does.
std::string unescape_xstring(std::string_view text) {
    if (text.find("_x") == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    char32_t high = 0;
    for (size_t i = 0; i < text.size();) {
        unsigned code = 0;
        if (text[i] == '_' && i + 7 <= text.size() && text[i + 1] == 'x' && text[i + 6] == '_') {
            const auto [end, ec] = std::from_chars(text.data() + i + 2, text.data() + i + 6, code, 16);
            if (ec == std::errc() && end == text.data() + i + 6) {
                if (code >= 0xD800 && code <= 0xDBFF) {
                    high = code;
                } else if (code >= 0xDC00 && code <= 0xDFFF && high) {
                    workbook::append_utf8(out, 0x10000 + ((high - 0xD800) << 10) + (code - 0xDC00));
                    high = 0;
                } else {
                    if (high) workbook::append_utf8(out, 0xFFFD);
                    high = 0;
                    workbook::append_utf8(out, code);
                }
                i += 7;
                continue;
            }
        }
        if (high) workbook::append_utf8(out, 0xFFFD);
        high = 0;
        out.push_back(text[i++]);
    }
    if (high) workbook::append_utf8(out, 0xFFFD);
    return out;
}

// The text of a string item (shared string <si> or inline <is>): its <t>, or the <t> of each
// rich-text run <r>; phonetic runs <rPh> are no part of the text.
void append_string_item(std::string& out, pugi::xml_node item) {
    for (pugi::xml_node c = item.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element) continue;
        const std::string_view name = local_name(c.name());
        if (name == "t") {
            out += unescape_xstring(c.text().get());
        } else if (name == "r") {
            const pugi::xml_node t = child(c, "t");
            if (t) out += unescape_xstring(t.text().get());
        }
    }
}

// The shared strings, one after another in one buffer.
class SharedStrings {
public:
    void load(Parts& parts, const std::string& name) {
        const std::optional<std::string> bytes = parts.read(name);
        if (!bytes) return;
        for_each_child(*bytes, "sst", "sst", "si", parts.what(), name, [this](pugi::xml_node si) {
            append_string_item(m_text, si);
            m_ends.push_back(m_text.size());
        });
    }
    std::optional<std::string_view> get(std::string_view index_text) const {
        size_t index = 0;
        const auto [end, ec] =
            std::from_chars(index_text.data(), index_text.data() + index_text.size(), index);
        if (ec != std::errc() || end != index_text.data() + index_text.size() || index >= m_ends.size())
            return std::nullopt;
        const size_t begin = index == 0 ? 0 : m_ends[index - 1];
        return std::string_view(m_text).substr(begin, m_ends[index] - begin);
    }

private:
    std::string m_text;
    std::vector<size_t> m_ends;
};

CellContent cell_content(pugi::xml_node c, const SharedStrings& strings) {
    CellContent out;
    const std::string_view type = attribute(c, "t").value();
    const pugi::xml_node v = child(c, "v");
    const bool formula = static_cast<bool>(child(c, "f"));
    if (type == "inlineStr") {
        out.type = CellType::Text;
        append_string_item(out.text, child(c, "is"));
        return out;
    }
    if (!v) {
        out.type = formula ? CellType::FormulaWithoutValue : CellType::Empty;
        return out;
    }
    const std::string_view value = v.text().get();
    if (type == "s") {
        const auto text = strings.get(workbook::trim_ctl(value));
        if (!text) {
            out.type = CellType::Error;
            out.text = "#BEZUG!";  // a shared string the file does not have
        } else {
            out.type = CellType::Text;
            out.text = std::string(*text);
        }
    } else if (type == "str" || type == "d") {
        out.type = CellType::Text;
        out.text = unescape_xstring(value);
    } else if (type == "e") {
        out.type = CellType::Error;
        out.text = std::string(workbook::trim_ctl(value));
    } else if (type == "b") {
        out.type = CellType::Boolean;
        out.number = workbook::trim_ctl(value) == "1" ? 1 : 0;
        out.text = out.number != 0 ? "WAHR" : "FALSCH";
    } else {
        const ParsedNumber number = parse_number(value);
        switch (number.kind) {
            case ParsedNumber::Kind::Usable:
                out.type = CellType::Number;
                out.number = number.value;
                break;
            case ParsedNumber::Kind::OutOfRange:
                out.type = CellType::NumberOutOfRange;
                out.text = std::string(workbook::trim_ctl(value));
                break;
            case ParsedNumber::Kind::NotANumber:
                out.type = CellType::Text;  // a number cell holding no number: shown as what it holds
                out.text = std::string(value);
                break;
        }
    }
    return out;
}

// Whether `formula` is the product of the cells `base_col` and `factor_col` of `row`, rounded or
// not: "ROUND($G$12*$H$12,2)", "G12*H12", "=round( h12 * g12 ; 2 )".
bool product_of_calc_columns(std::string_view formula, int32_t row, int32_t base_col, int32_t factor_col) {
    std::string f;
    for (char c : formula)
        if (c != ' ' && c != '$' && c != '\t' && c != '\r' && c != '\n')
            f.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    std::string_view rest = f;
    if (rest.starts_with("=")) rest.remove_prefix(1);
    if (rest.starts_with("ROUND(") && rest.ends_with(")")) {
        rest = rest.substr(6, rest.size() - 7);
        const size_t comma = rest.find_last_of(",;");
        if (comma == std::string_view::npos) return false;
        std::string_view digits = rest.substr(comma + 1);
        if (digits.starts_with("-")) digits.remove_prefix(1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return false;
        rest = rest.substr(0, comma);
    }
    const size_t star = rest.find('*');
    if (star == std::string_view::npos) return false;
    const auto a = parse_cell_address(rest.substr(0, star));
    const auto b = parse_cell_address(rest.substr(star + 1));
    if (a.first != row || b.first != row) return false;
    return (a.second == base_col && b.second == factor_col) ||
           (a.second == factor_col && b.second == base_col);
}

std::string text_of(const CellContent& c) {
    if (c.type == CellType::Number) return fmt::format("{:.15g}", c.number);
    return c.text;
}

int32_t parse_int(std::string_view text) {
    int32_t n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size()) return 0;
    return n;
}

// One pass over the rows. The caption row is the first with a cell "Ordnungszahl"; its other
// captions name the columns. Rows above it are dropped when it is found; without one, columns A,
// C, E and F of every row are taken.
class SheetReader {
public:
    SheetReader(const std::string& what, const SharedStrings& strings) : m_what(what), m_strings(strings) {}

    void row(pugi::xml_node r) {
        const pugi::xml_attribute number = attribute(r, "r");
        m_row = number ? parse_int(workbook::trim_ctl(number.value())) : m_row + 1;
        if (m_row < 1 || m_row > kMaxRow)
            fail(fmt::format("{} ist beschädigt: ungültige Zeilennummer \"{}\" im Tabellenblatt \"{}\".",
                             m_what, number.value(), kSheetName));
        if (m_book.caption_row == 0 && captions(r)) return;

        PricedRow* out = nullptr;
        for_each_cell(r, [&](int32_t col, pugi::xml_node c) {
            if (col != m_book.oz_col && col != m_book.quantity_col && col != m_book.price_col &&
                col != m_book.total_col && col != m_book.base_col && col != m_book.factor_col)
                return;
            if (out == nullptr) {
                m_rows.emplace_back();
                out = &m_rows.back();
                out->row = m_row;
            }
            CellContent content = cell_content(c, m_strings);
            if (col == m_book.oz_col) {
                out->oz = std::string(workbook::trim_ctl(text_of(content)));
            } else if (col == m_book.quantity_col) {
                out->quantity = std::move(content);
            } else if (col == m_book.price_col) {
                out->unit_price = std::move(content);
                const pugi::xml_node f = child(c, "f");
                out->calculated_price =
                    f && product_of_calc_columns(f.text().get(), m_row, m_book.base_col, m_book.factor_col);
            } else if (col == m_book.total_col) {
                out->total = std::move(content);
            } else if (col == m_book.base_col) {
                out->base_price = std::move(content);
            } else {
                out->factor = std::move(content);
            }
        });
        if (out == nullptr) return;
        if (out->oz.empty()) {
            m_rows.pop_back();
        } else if (!out->calculated_price) {
            out->base_price = {};
            out->factor = {};
        }
    }

    PricedWorkbook finish() {
        std::stable_sort(m_rows.begin(), m_rows.end(),
                         [](const PricedRow& a, const PricedRow& b) { return a.row < b.row; });
        for (auto& r : m_rows)
            if (r.row > m_book.caption_row) m_book.rows.push_back(std::move(r));
        return std::move(m_book);
    }

private:
    // Cells may leave out their r attribute: they then follow the one before.
    template <class F>
    void for_each_cell(pugi::xml_node r, F&& visit) {
        int32_t col = 0;
        for (pugi::xml_node c = r.first_child(); c; c = c.next_sibling()) {
            if (c.type() != pugi::node_element || local_name(c.name()) != "c") continue;
            const pugi::xml_attribute ref = attribute(c, "r");
            if (ref) {
                col = parse_cell_address(ref.value()).second;
                if (col == 0)
                    fail(fmt::format(
                        "{} ist beschädigt: ungültige Zelladresse \"{}\" im Tabellenblatt \"{}\".", m_what,
                        ref.value(), kSheetName));
            } else if (++col > kMaxCol) {
                fail(fmt::format("{} ist beschädigt: Zeile {} des Tabellenblatts \"{}\" hat zu viele Zellen.",
                                 m_what, m_row, kSheetName));
            }
            visit(col, c);
        }
    }

    // Whether the row is the caption row; if so, its captions set the columns.
    bool captions(pugi::xml_node r) {
        bool found = false;
        int32_t oz = 0, quantity = 0, price = 0, total = 0, base = 0, factor = 0;
        for_each_cell(r, [&](int32_t col, pugi::xml_node c) {
            const std::string_view type = attribute(c, "t").value();
            if (type != "s" && type != "inlineStr" && type != "str") return;
            const CellContent content = cell_content(c, m_strings);
            const std::string_view text = workbook::trim_ctl(content.text);
            if (text == "Ordnungszahl" && !found) {
                found = true;
                oz = col;
            } else if (text == "Menge" && !quantity) {
                quantity = col;
            } else if (text == "E-Preis" && !price) {
                price = col;
            } else if (text == "G-Preis" && !total) {
                total = col;
            } else if (text == "Basispreis" && !base) {
                base = col;
            } else if (text == "Faktor" && !factor) {
                factor = col;
            }
        });
        if (!found) return false;
        m_book.caption_row = m_row;
        m_book.oz_col = oz;
        if (quantity) m_book.quantity_col = quantity;
        if (price) m_book.price_col = price;
        if (total) m_book.total_col = total;
        if (base) m_book.base_col = base;
        if (factor) m_book.factor_col = factor;
        m_rows.clear();
        return true;
    }

    const std::string& m_what;
    const SharedStrings& m_strings;
    PricedWorkbook m_book;
    std::vector<PricedRow> m_rows;
    int32_t m_row = 0;
};

PricedWorkbook read_package(Parts& parts) {
    const std::string& what = parts.what();

    std::string workbook_part = "xl/workbook.xml";
    for (const auto& r : relationships(parts, "_rels/.rels"))
        if (type_is(r.type, "officeDocument") && !r.external) workbook_part = resolve("", r.target);

    std::optional<std::string> workbook_bytes = parts.read(workbook_part);
    if (!workbook_bytes) {
        // An OpenDocument file is a zip archive too; its first part names its kind.
        if (const std::optional<std::string> mimetype = parts.read("mimetype");
            mimetype && mimetype->starts_with("application/vnd.oasis.opendocument"))
            fail(fmt::format("{} ist im OpenDocument-Format ({}), nicht im Format .xlsx. {}", what,
                             mimetype->find("spreadsheet") != std::string::npos ? ".ods" : "LibreOffice",
                             kSaveAsXlsx));
        fail(fmt::format("{} ist keine .xlsx-Arbeitsmappe: der Teil \"{}\" fehlt. {}", what, workbook_part,
                         kSaveAsXlsx));
    }
    pugi::xml_document workbook_doc;
    parts.parse(workbook_doc, *workbook_bytes, workbook_part);
    std::string sheet_id;
    bool found = false;
    for (pugi::xml_node s = child(child(workbook_doc, "workbook"), "sheets").first_child(); s;
         s = s.next_sibling()) {
        if (s.type() != pugi::node_element || local_name(s.name()) != "sheet") continue;
        if (std::string_view(attribute(s, "name").value()) != kSheetName) continue;
        sheet_id = attribute(s, "id", true).value();
        found = true;
        break;
    }
    if (!found) fail(fmt::format("{} hat kein Tabellenblatt \"{}\".", what, kSheetName));

    std::string sheet_part, strings_part;
    for (const auto& r : relationships(parts, rels_part(workbook_part))) {
        if (r.external) continue;
        if (r.id == sheet_id) sheet_part = resolve(workbook_part, r.target);
        if (type_is(r.type, "sharedStrings") && strings_part.empty())
            strings_part = resolve(workbook_part, r.target);
    }
    if (sheet_part.empty())
        fail(fmt::format("{} ist beschädigt: das Tabellenblatt \"{}\" ist nicht zu finden.", what,
                         kSheetName));

    SharedStrings strings;
    if (!strings_part.empty()) strings.load(parts, strings_part);

    std::optional<std::string> sheet_bytes = parts.read(sheet_part);
    if (!sheet_bytes)
        fail(fmt::format("{} ist beschädigt: der Teil \"{}\" des Tabellenblatts \"{}\" fehlt.", what,
                         sheet_part, kSheetName));
    SheetReader reader(what, strings);
    for_each_child(*sheet_bytes, "worksheet", "sheetData", "row", what, sheet_part,
                   [&reader](pugi::xml_node row) { reader.row(row); });
    return reader.finish();
}

PricedWorkbook guarded(ZipPackage& package) {
    Parts parts([&package](const std::string& name) { return package.read(name); }, package.what());
    return read_package(parts);
}

}  // namespace

std::string PricedWorkbook::address(int32_t row, int32_t col) const {
    std::string letters;
    for (int32_t c = col; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return fmt::format("{}!{}{}", kSheetName, letters, row);
}

std::pair<int32_t, int32_t> parse_cell_address(std::string_view address) {
    size_t i = 0;
    int32_t col = 0;
    while (i < address.size() && i < 3 && address[i] >= 'A' && address[i] <= 'Z')
        col = col * 26 + (address[i++] - 'A' + 1);
    if (i == 0 || i == address.size() || col > kMaxCol) return {0, 0};
    const int32_t row = parse_int(address.substr(i));
    if (row < 1 || row > kMaxRow || address[i] == '0') return {0, 0};
    return {row, col};
}

PricedWorkbook read_priced_workbook(const std::filesystem::path& path, const ReadLimits& limits) {
    ZipPackage package(path, fmt::format("Die Arbeitsmappe \"{}\"", path.filename().string()), limits);
    return guarded(package);
}

PricedWorkbook read_priced_workbook_parts(const std::map<std::string, std::string>& unpacked) {
    Parts parts(
        [&unpacked](const std::string& name) -> std::optional<std::string> {
            const auto it = unpacked.find(name);
            if (it == unpacked.end()) return std::nullopt;
            return it->second;
        },
        "Die Arbeitsmappe");
    return read_package(parts);
}

PricedWorkbook read_priced_workbook_bytes(std::string_view bytes, const ReadLimits& limits) {
    ZipPackage package(bytes, "Die Arbeitsmappe", limits);
    return guarded(package);
}

ParsedNumber parse_number(std::string_view text) noexcept {
    text = workbook::trim_ctl(text);
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) return {};
    }
    double value = 0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (text.empty() || end != text.data() + text.size()) return {};
    // Out of range: beyond the largest double, or so small that it would become 0.
    if (ec == std::errc::result_out_of_range) return {ParsedNumber::Kind::OutOfRange, 0};
    if (ec != std::errc()) return {};
    if (!std::isfinite(value) || std::fpclassify(value) == FP_SUBNORMAL)
        return {ParsedNumber::Kind::OutOfRange, 0};
    return {ParsedNumber::Kind::Usable, value};
}

std::string german_error_name(std::string_view stored) {
    static const std::pair<std::string_view, std::string_view> kNames[] = {
        {"#VALUE!", "#WERT!"},  {"#REF!", "#BEZUG!"}, {"#NUM!", "#ZAHL!"},  {"#N/A", "#NV"},
        {"#DIV/0!", "#DIV/0!"}, {"#NAME?", "#NAME?"}, {"#NULL!", "#NULL!"},
    };
    const std::string_view trimmed = workbook::trim_ctl(stored);
    for (const auto& [english, german] : kNames)
        if (trimmed == english) return std::string(german);
    return std::string(trimmed);
}

}  // namespace angebot
