// SPDX-License-Identifier: MIT
#include "angebot/xml_pieces.h"

#include <fmt/format.h>

#include <new>

#include "angebot/model.h"

namespace angebot {

namespace {

constexpr size_t kPieceBytes = size_t{4} << 20;

enum class TagKind { Start, End, Empty, Other, Eof };

struct Tag {
    TagKind kind = TagKind::Eof;
    size_t begin = 0, end = 0;  // the tag's bytes: [begin, end)
    std::string_view name;
};

// The markup of an XML text one tag at a time; text between tags is passed over. Comments,
// CDATA sections, processing instructions and a DOCTYPE come back as Other.
class Scanner {
public:
    Scanner(std::string_view text, const std::string& what, const std::string& part)
        : m_text(text), m_what(what), m_part(part) {}

    Tag next() {
        Tag tag;
        const size_t lt = m_text.find('<', m_pos);
        if (lt == std::string_view::npos) return tag;
        tag.begin = lt;
        const std::string_view rest = m_text.substr(lt);
        if (rest.substr(0, 4) == "<!--") {
            tag.end = past(lt + 4, "-->");
            tag.kind = TagKind::Other;
        } else if (rest.substr(0, 9) == "<![CDATA[") {
            tag.end = past(lt + 9, "]]>");
            tag.kind = TagKind::Other;
        } else if (rest.substr(0, 2) == "<?") {
            tag.end = past(lt + 2, "?>");
            tag.kind = TagKind::Other;
        } else if (rest.substr(0, 2) == "<!") {
            tag.end = declaration_end(lt + 2);
            tag.kind = TagKind::Other;
        } else {
            const bool closing = rest.substr(0, 2) == "</";
            const size_t name_begin = lt + (closing ? 2 : 1);
            size_t i = name_begin;
            while (i < m_text.size() && !is_space(m_text[i]) && m_text[i] != '>' && m_text[i] != '/') ++i;
            tag.name = m_text.substr(name_begin, i - name_begin);
            if (tag.name.empty()) broken();
            tag.end = tag_end(i);
            if (closing)
                tag.kind = TagKind::End;
            else
                tag.kind = m_text[tag.end - 2] == '/' ? TagKind::Empty : TagKind::Start;
        }
        m_pos = tag.end;
        return tag;
    }

    [[noreturn]] void broken() const {
        throw AngebotError(
            fmt::format("{} ist beschädigt: \"{}\" ist kein gültiges XML (unvollständig).", m_what, m_part));
    }

private:
    static bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    size_t past(size_t from, std::string_view end) const {
        const size_t at = m_text.find(end, from);
        if (at == std::string_view::npos) broken();
        return at + end.size();
    }

    // The '>' that ends a tag, outside quoted attribute values.
    size_t tag_end(size_t from) const {
        char quote = 0;
        for (size_t i = from; i < m_text.size(); ++i) {
            const char c = m_text[i];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                return i + 1;
            }
        }
        broken();
    }

    // A DOCTYPE with its internal subset in brackets.
    size_t declaration_end(size_t from) const {
        int brackets = 0;
        char quote = 0;
        for (size_t i = from; i < m_text.size(); ++i) {
            const char c = m_text[i];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '[') {
                ++brackets;
            } else if (c == ']') {
                --brackets;
            } else if (c == '>' && brackets <= 0) {
                return i + 1;
            }
        }
        broken();
    }

    std::string_view m_text;
    size_t m_pos = 0;
    const std::string& m_what;
    const std::string& m_part;
};

// The elements collected so far, parsed as one fragment and visited.
class Pieces {
public:
    Pieces(pugi::xml_encoding encoding, const std::string& what, const std::string& part,
           const std::function<void(pugi::xml_node)>& visit)
        : m_encoding(encoding), m_what(what), m_part(part), m_visit(visit) {}

    void add(std::string_view element) {
        m_piece.append(element);
        if (m_piece.size() >= kPieceBytes) flush();
    }

    void flush() {
        if (m_piece.empty()) return;
        if (tree_bytes(m_piece) > kMaxTreeBytes)
            throw AngebotError(fmt::format("{} ist zu groß: \"{}\" hat zu viele Elemente.", m_what, m_part));
        pugi::xml_document doc;
        const pugi::xml_parse_result result = doc.load_buffer_inplace(
            m_piece.data(), m_piece.size(),
            pugi::parse_default | pugi::parse_ws_pcdata_single | pugi::parse_fragment, m_encoding);
        if (result.status == pugi::status_out_of_memory) throw std::bad_alloc();
        if (!result)
            throw AngebotError(fmt::format("{} ist beschädigt: \"{}\" ist kein gültiges XML ({}).", m_what,
                                           m_part, result.description()));
        for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling())
            if (n.type() == pugi::node_element) m_visit(n);
        m_piece.clear();
    }

private:
    std::string m_piece;
    pugi::xml_encoding m_encoding;
    const std::string& m_what;
    const std::string& m_part;
    const std::function<void(pugi::xml_node)>& m_visit;
};

// UTF-8, or Latin-1 where the declaration says so; UTF-16 and UTF-32 are refused.
pugi::xml_encoding encoding_of(std::string_view xml, const std::string& what, const std::string& part) {
    const bool wide = xml.substr(0, 2) == "\xFF\xFE" || xml.substr(0, 2) == "\xFE\xFF" ||
                      xml.substr(0, 4).find('\0') != std::string_view::npos;
    if (wide)
        throw AngebotError(
            fmt::format("{} kann nicht gelesen werden: \"{}\" ist nicht in UTF-8 gespeichert.", what, part));
    if (xml.substr(0, 5) == "<?xml") {
        const std::string_view declaration = xml.substr(0, xml.find("?>"));
        for (const char* latin : {"ISO-8859-1", "iso-8859-1", "latin1", "LATIN1"})
            if (declaration.find(latin) != std::string_view::npos) return pugi::encoding_latin1;
    }
    return pugi::encoding_utf8;
}

}  // namespace

std::string_view local_name(std::string_view name) {
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

uint64_t tree_bytes(std::string_view xml) {
    uint64_t elements = 0, attributes = 0;
    for (size_t i = 0; i + 1 < xml.size(); ++i) {
        if (xml[i] == '<' && xml[i + 1] != '/')
            ++elements;
        else if (xml[i] == '=')
            ++attributes;
    }
    return elements * 128 + attributes * 48;
}

void for_each_child(std::string_view xml, std::string_view root, std::string_view container,
                    std::string_view item, const std::string& what, const std::string& part,
                    const std::function<void(pugi::xml_node)>& visit) {
    const pugi::xml_encoding encoding = encoding_of(xml, what, part);
    Scanner scanner(xml, what, part);

    // The root element, then the container anywhere below it.
    Tag tag;
    bool root_seen = false;
    while (true) {
        tag = scanner.next();
        if (tag.kind == TagKind::Eof) {
            if (!root_seen)
                throw AngebotError(
                    fmt::format("{} ist beschädigt: \"{}\" enthält kein XML-Element.", what, part));
            return;
        }
        if (tag.kind == TagKind::Other || tag.kind == TagKind::End) continue;
        if (!root_seen) {
            root_seen = true;
            if (local_name(tag.name) != root)
                throw AngebotError(
                    fmt::format("{} ist beschädigt: \"{}\" ist kein \"{}\".", what, part, root));
        }
        if (local_name(tag.name) == container) break;
    }
    if (tag.kind == TagKind::Empty) return;

    Pieces pieces(encoding, what, part, visit);
    size_t depth = 0, item_begin = 0;
    bool in_item = false;
    while (true) {
        tag = scanner.next();
        switch (tag.kind) {
            case TagKind::Eof:
                scanner.broken();
            case TagKind::Other:
                break;
            case TagKind::Empty:
                if (depth == 0 && local_name(tag.name) == item)
                    pieces.add(xml.substr(tag.begin, tag.end - tag.begin));
                break;
            case TagKind::Start:
                if (depth == 0 && local_name(tag.name) == item) {
                    in_item = true;
                    item_begin = tag.begin;
                }
                ++depth;
                break;
            case TagKind::End:
                if (depth == 0) {  // the container's end
                    pieces.flush();
                    return;
                }
                if (--depth == 0 && in_item) {
                    pieces.add(xml.substr(item_begin, tag.end - item_begin));
                    in_item = false;
                }
                break;
        }
    }
}

}  // namespace angebot
