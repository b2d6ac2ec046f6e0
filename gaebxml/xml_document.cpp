// SPDX-License-Identifier: MIT
#include "gaebxml/xml_document.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <vector>

#include "gaebxml/text_flow.h"
#include "workbook/text.h"

namespace gaebxml {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// UTF-16 or UTF-32: the byte-order mark's length and the form, found as the XML parser finds
// them: by the mark, or without one by the "<" (and "?") the document begins with.
struct WideForm {
    size_t mark = 0;
    bool utf32 = false;
    bool big_endian = false;
};
std::optional<WideForm> wide_form(std::string_view b) {
    using namespace std::string_view_literals;
    if (b.starts_with("\0\0\xFE\xFF"sv)) return WideForm{4, true, true};
    if (b.starts_with("\xFF\xFE\0\0"sv)) return WideForm{4, true, false};
    if (b.starts_with("\xFE\xFF"sv)) return WideForm{2, false, true};
    if (b.starts_with("\xFF\xFE"sv)) return WideForm{2, false, false};
    if (b.starts_with("\0\0\0<"sv)) return WideForm{0, true, true};
    if (b.starts_with("<\0\0\0"sv)) return WideForm{0, true, false};
    if (b.starts_with("\0<\0?"sv)) return WideForm{0, false, true};
    if (b.starts_with("<\0?\0"sv)) return WideForm{0, false, false};
    return std::nullopt;
}

void append_code_point(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// ISO-8859-1 is the first 256 code points; ISO-8859-15 differs from it in eight places.
std::string latin_to_utf8(std::string_view bytes, bool latin9) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (unsigned char b : bytes) {
        char32_t cp = b;
        if (latin9) {
            switch (b) {
                case 0xA4:
                    cp = 0x20AC;
                    break;
                case 0xA6:
                    cp = 0x0160;
                    break;
                case 0xA8:
                    cp = 0x0161;
                    break;
                case 0xB4:
                    cp = 0x017D;
                    break;
                case 0xB8:
                    cp = 0x017E;
                    break;
                case 0xBC:
                    cp = 0x0152;
                    break;
                case 0xBD:
                    cp = 0x0153;
                    break;
                case 0xBE:
                    cp = 0x0178;
                    break;
                default:
                    break;
            }
        }
        append_code_point(out, cp);
    }
    return out;
}

// The bytes as the UTF-8 text that pugixml parses, without byte-order mark. Text declared as
// UTF-8 that is not valid UTF-8 keeps its readable bytes; the others are read as Windows-1252.
std::string decode(std::string bytes, SourceEncoding encoding) {
    switch (encoding) {
        case SourceEncoding::Utf8:
            if (std::string_view(bytes).starts_with(kUtf8Bom)) bytes.erase(0, kUtf8Bom.size());
            if (!workbook::is_valid_utf8(bytes)) bytes = workbook::repair_utf8(bytes);
            return bytes;
        case SourceEncoding::Latin1:
            return latin_to_utf8(bytes, false);
        case SourceEncoding::Latin9:
            return latin_to_utf8(bytes, true);
        case SourceEncoding::Cp1252:
            return workbook::cp1252_to_utf8(bytes);
        case SourceEncoding::Utf16or32:
            if (const auto form = wide_form(bytes)) {
                const std::string_view units = std::string_view(bytes).substr(form->mark);
                return form->utf32 ? workbook::utf32_to_utf8(units, form->big_endian)
                                   : workbook::utf16_to_utf8(units, form->big_endian);
            }
            return decode(std::move(bytes), SourceEncoding::Utf8);
    }
    return bytes;
}

std::string_view status_text(pugi::xml_parse_status status) {
    switch (status) {
        case pugi::status_ok:
            return "Kein Fehler";
        case pugi::status_file_not_found:
            return "Datei nicht gefunden";
        case pugi::status_io_error:
            return "Lesefehler";
        case pugi::status_out_of_memory:
            return "Nicht genügend Arbeitsspeicher";
        case pugi::status_internal_error:
            return "Interner Fehler des XML-Parsers";
        case pugi::status_unrecognized_tag:
            return "Unbekannte Markierung";
        case pugi::status_bad_pi:
            return "Fehlerhafte Verarbeitungsanweisung oder XML-Deklaration";
        case pugi::status_bad_comment:
            return "Fehlerhafter Kommentar";
        case pugi::status_bad_cdata:
            return "Fehlerhafter CDATA-Abschnitt";
        case pugi::status_bad_doctype:
            return "Fehlerhafte Dokumenttypdeklaration";
        case pugi::status_bad_pcdata:
            return "Fehlerhafter Textinhalt";
        case pugi::status_bad_start_element:
            return "Fehlerhaftes Start-Tag";
        case pugi::status_bad_attribute:
            return "Fehlerhaftes Attribut";
        case pugi::status_bad_end_element:
            return "Fehlerhaftes End-Tag";
        case pugi::status_end_element_mismatch:
            return "Start- und End-Tag passen nicht zusammen";
        case pugi::status_append_invalid_root:
            return "Ungültiger Einfügepunkt";
        case pugi::status_no_document_element:
            return "Das Dokument enthält kein Element";
    }
    return "Unbekannter Fehler";
}

// Comments are kept as nodes; a DOCTYPE is parsed only to be refused afterwards.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_doctype;

// Stands in for the first character of a blank between inline tags while the text is parsed:
// pugixml drops text of white space alone, and this character is none.
constexpr char kBlankMark = '\x01';

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A blank between two words that the parser would drop.
struct InlineBlank {
    size_t offset;  // of its first character in the text
    char first;     // that character, ' ' or a tab
};

// Finds white space without a line break between two tags of inline text elements (a start, end
// or empty tag each: "</span> <span>", "<span> </span>", "</b>\t<i>") and puts kBlankMark in
// place of its first character, so that the parser keeps it as a text node. Comments, CDATA
// sections and processing instructions are passed over; a document type declaration ends the
// search (such a document is refused).
std::vector<InlineBlank> mark_inline_blanks(std::string& text) {
    std::vector<InlineBlank> blanks;
    const std::string_view t = text;
    bool inline_before = false;  // the markup right before `at` is a tag of an inline element
    size_t at = 0;
    while (true) {
        const size_t open = t.find('<', at);
        if (open == std::string_view::npos) break;
        const std::string_view between = t.substr(at, open - at);
        const bool blank = inline_before && !between.empty() &&
                           std::all_of(between.begin(), between.end(), is_space) &&
                           between.find_first_of("\r\n") == std::string_view::npos;
        const std::string_view markup = t.substr(open);
        const auto skip_to = [&](std::string_view end) {
            const size_t close = markup.find(end);
            return close == std::string_view::npos ? t.size() : open + close + end.size();
        };
        if (markup.starts_with("<!--")) {
            at = skip_to("-->");
        } else if (markup.starts_with("<![CDATA[")) {
            at = skip_to("]]>");
        } else if (markup.starts_with("<?")) {
            at = skip_to("?>");
        } else if (markup.starts_with("<!")) {
            break;
        } else {
            size_t i = open + 1;
            if (i < t.size() && t[i] == '/') ++i;
            const size_t name_start = i;
            while (i < t.size() && !is_space(t[i]) && t[i] != '/' && t[i] != '>') ++i;
            const bool inline_tag = is_inline_element(t.substr(name_start, i - name_start));
            // The tag's end: the first ">" outside quoted attribute values.
            char quote = 0;
            for (; i < t.size(); ++i) {
                if (quote != 0) {
                    if (t[i] == quote) quote = 0;
                } else if (t[i] == '"' || t[i] == '\'') {
                    quote = t[i];
                } else if (t[i] == '>') {
                    break;
                }
            }
            if (blank && inline_tag) blanks.push_back({at, t[at]});
            inline_before = inline_tag;
            at = i + 1;
            continue;
        }
        inline_before = false;
    }
    for (const InlineBlank& b : blanks) text[b.offset] = kBlankMark;
    return blanks;
}

}  // namespace

std::string declared_encoding(std::string_view bytes) {
    if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
    if (!bytes.starts_with("<?xml")) return {};
    // The declaration's values hold no ">", so an unclosed declaration is not searched beyond it.
    const std::string_view decl = bytes.substr(0, bytes.find('>'));
    size_t at = decl.find("encoding");
    if (at == std::string_view::npos) return {};
    at += std::strlen("encoding");
    auto skip_blanks = [&] {
        while (at < decl.size() &&
               (decl[at] == ' ' || decl[at] == '\t' || decl[at] == '\r' || decl[at] == '\n'))
            ++at;
    };
    skip_blanks();
    if (at >= decl.size() || decl[at] != '=') return {};
    ++at;
    skip_blanks();
    if (at >= decl.size() || (decl[at] != '"' && decl[at] != '\'')) return {};
    const char quote = decl[at++];
    const size_t close = decl.find(quote, at);
    if (close == std::string_view::npos) return {};
    return workbook::to_upper_ascii(decl.substr(at, close - at));
}

SourceEncoding source_encoding(std::string_view bytes) {
    if (wide_form(bytes)) return SourceEncoding::Utf16or32;
    const std::string name = declared_encoding(bytes);
    // UTF-16 or UTF-32 named in bytes of 8 bits: the declaration is wrong, the bytes are UTF-8.
    if (name.empty() || name == "UTF-8" || name == "UTF8" || name == "US-ASCII" || name == "ASCII" ||
        name.starts_with("UTF-16") || name.starts_with("UTF-32"))
        return SourceEncoding::Utf8;
    if (name == "ISO-8859-1" || name == "ISO8859-1" || name == "ISO_8859-1" || name == "LATIN1" ||
        name == "LATIN-1" || name == "L1" || name == "CP819" || name == "IBM819")
        return SourceEncoding::Latin1;
    if (name == "ISO-8859-15" || name == "ISO8859-15" || name == "ISO_8859-15" || name == "LATIN-9" ||
        name == "LATIN9")
        return SourceEncoding::Latin9;
    if (name == "WINDOWS-1252" || name == "CP1252" || name == "X-CP1252") return SourceEncoding::Cp1252;
    throw DomParseError(fmt::format(
        "Die Zeichenkodierung \"{}\" wird nicht unterstützt (lesbar sind UTF-8, ISO-8859-1, ISO-8859-15 und "
        "Windows-1252).",
        name));
}

void XmlDocument::load(std::string bytes, std::function<std::string()> original) {
    m_doc.reset();
    m_original = std::move(original);
    m_located = false;
    m_fresh.clear();
    m_lines.clear();
    m_encoding = source_encoding(bytes);
    m_text = decode(std::move(bytes), m_encoding);
    const std::vector<InlineBlank> blanks = mark_inline_blanks(m_text);
    // The parser borrows the last character as its end mark.
    const char last = m_text.empty() ? '\0' : m_text.back();
    const pugi::xml_parse_result result =
        m_doc.load_buffer_inplace(m_text.data(), m_text.size(), kParseOptions, pugi::encoding_utf8);
    if (!result) {
        m_doc.reset();
        if (!m_text.empty()) m_text.back() = last;
        // A document cut off fails at its last character (elements left open) or where its last,
        // unfinished part begins: no markup is complete after that place. After a fault in the
        // middle the rest of the tags follow. The text after the fault is as the file has it.
        const size_t from =
            std::min(static_cast<size_t>(std::max<ptrdiff_t>(result.offset, 0)), m_text.size());
        const bool ends_early = from + 1 >= m_text.size() || m_text.find('>', from) == std::string::npos;
        m_text.clear();
        m_text.shrink_to_fit();
        DomParseError error{std::string(status_text(result.status))};
        if (ends_early) error.set_ends_early();
        const workbook::LineColumn where = locate(result.offset);
        error.at(where.line, where.column);
        // Nothing of the document is left to locate.
        m_fresh.clear();
        m_fresh.shrink_to_fit();
        m_lines.clear();
        throw error;
    }
    // The text nodes of the blanks read as the file writes them.
    for (const InlineBlank& b : blanks) m_text[b.offset] = b.first;
    for (Node n = m_doc.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_doctype) {
            m_doc.reset();
            throw DomParseError(
                "Das Dokument enthält eine Dokumenttypdeklaration (DOCTYPE); sie wird aus Sicherheitsgründen "
                "nicht verarbeitet.");
        }
    }
}

void XmlDocument::load_file(const std::filesystem::path& path) {
    auto read = [path] {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw DomParseError("Die Datei kann nicht gelesen werden.");
        std::string bytes;
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        if (size > 0) {
            bytes.resize(static_cast<size_t>(size));
            in.seekg(0);
            in.read(bytes.data(), size);
            bytes.resize(static_cast<size_t>(in.gcount()));
        }
        if (in.bad()) throw DomParseError("Die Datei kann nicht gelesen werden.");
        return bytes;
    };
    load(read(), read);
}

int64_t XmlDocument::offset_of(Node n) {
    const ptrdiff_t at = n.offset_debug();
    if (at < 0) return -1;
    // An element's offset is that of its name, right after the "<".
    return n.type() == pugi::node_element && at > 0 ? at - 1 : at;
}

workbook::LineColumn XmlDocument::locate(int64_t offset) noexcept {
    if (offset < 0) return {};
    if (!m_located) {
        m_located = true;
        try {
            if (m_original) {
                m_fresh = decode(m_original(), m_encoding);
                m_lines.build(m_fresh);
            }
        } catch (const std::exception&) {
            m_fresh.clear();
            m_lines.clear();
        }
    }
    return m_lines.locate(offset, m_fresh);
}

std::string_view node_name(Node n) {
    switch (n.type()) {
        case pugi::node_element:
            return n.name();
        case pugi::node_pcdata:
            return "#text";
        case pugi::node_cdata:
            return "#cdata-section";
        case pugi::node_comment:
            return "#comment";
        default:
            return "#other";
    }
}

bool has_children(Node n) {
    return static_cast<bool>(n.first_child());
}

Node ChildElement(Node n, const char* name) {
    return n.child(name);
}

Node child_path(Node n, std::initializer_list<const char*> names) {
    for (const char* name : names) n = n.child(name);
    return n;
}

Node FindChild(Node n, const char* name) {
    return n.child(name);
}

std::optional<std::string_view> ElementText(Node n) {
    const Node first = n.first_child();
    if (!first) return std::nullopt;
    const bool text = first.type() == pugi::node_pcdata || first.type() == pugi::node_cdata;
    if (!text || first.next_sibling())
        throw XmlDocError(
            fmt::format("Das Element \"{}\" enthält keinen einzelnen Textknoten.", node_name(n)));
    std::string_view value = first.value();
    if (value.empty()) return std::nullopt;
    return value;
}

std::optional<std::string_view> ChildText(Node n, const char* name) {
    const Node child = n.child(name);
    if (!child) return std::nullopt;
    return ElementText(child);
}

bool HasAttribute(Node n, const char* name) {
    return static_cast<bool>(n.attribute(name));
}

std::string_view AttributeText(Node n, const char* name) {
    return n.attribute(name).value();
}

Node NextSibling(Node n) {
    return n.next_sibling();
}

std::string_view require_text(std::optional<std::string_view> text, std::string_view element) {
    if (!text) throw XmlDocError(fmt::format("Das Element \"{}\" fehlt oder ist leer.", element));
    return *text;
}

}  // namespace gaebxml
