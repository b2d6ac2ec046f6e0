// SPDX-License-Identifier: MIT
#include "gaeb2000/rtf_to_text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

#include "workbook/text.h"

namespace gaeb2000 {
namespace {

// Groups nested deeper than this are read as a whole and give no text: the group stack stays
// small whatever the input.
constexpr size_t kMaxDepth = 512;
constexpr int kMaxFallback = 16;

// Control words that open a destination whose content is not part of the visible text.
constexpr std::string_view kHiddenDestinations[] = {
    "annotation",   "atnauthor",
    "atndate",      "atnid",
    "atnref",       "author",
    "buptim",       "colortbl",
    "comment",      "company",
    "creatim",      "datafield",
    "datastore",    "docvar",
    "doccomm",      "falt",
    "fldinst",      "fonttbl",
    "footer",       "footerf",
    "footerl",      "footerr",
    "footnote",     "formfield",
    "ftncn",        "ftnsep",
    "ftnsepc",      "generator",
    "header",       "headerf",
    "headerl",      "headerr",
    "info",         "keywords",
    "latentstyles", "listoverridetable",
    "listtable",    "listtext",
    "nonshppict",   "object",
    "objdata",      "operator",
    "pict",         "pntext",
    "pntxta",       "pntxtb",
    "printim",      "revtbl",
    "revtim",       "rsidtbl",
    "stylesheet",   "subject",
    "template",     "themedata",
    "title",        "userprops",
    "xmlnstbl",     "colorschememapping",
};

bool hidden_destination(std::string_view word) {
    return std::find(std::begin(kHiddenDestinations), std::end(kHiddenDestinations), word) !=
           std::end(kHiddenDestinations);
}

bool is_letter(char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}
bool is_digit(char ch) {
    return ch >= '0' && ch <= '9';
}

int hex_value(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

// Length of the UTF-8 character that starts at s[i] (1 for a stray byte).
size_t char_length(std::string_view s, size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t n = b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    return std::min(n, s.size() - i);
}

std::string plain_text(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (ch == '\n') {
            out += "\r\n";
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

class RtfReader {
public:
    explicit RtfReader(std::string_view rtf) : m_in(rtf) {}

    std::string read() {
        while (m_pos < m_in.size() && !m_done) {
            const char ch = m_in[m_pos];
            if (ch == '{') {
                ++m_pos;
                open_group();
            } else if (ch == '}') {
                ++m_pos;
                close_group();
            } else if (ch == '\\') {
                ++m_pos;
                control();
            } else if (ch == '\r' || ch == '\n') {
                ++m_pos;  // line breaks of the RTF source are no text
            } else {
                const size_t n = char_length(m_in, m_pos);
                text(m_in.substr(m_pos, n));
                m_pos += n;
            }
        }
        return std::move(m_out);
    }

private:
    struct State {
        bool hidden = false;  // inside a destination that gives no text
        int uc = 1;           // fallback characters after \uN
    };

    void open_group() {
        m_skip = 0;
        if (m_stack.size() >= kMaxDepth) {
            skip_group();
            return;
        }
        m_stack.push_back(m_state);
    }

    void close_group() {
        m_skip = 0;
        if (m_stack.empty()) {
            m_done = true;  // the document's outermost group has closed
            return;
        }
        m_state = m_stack.back();
        m_stack.pop_back();
        if (m_stack.empty()) m_done = true;
    }

    // The rest of a group too deeply nested, braces counted, escaped braces and \bin data skipped.
    void skip_group() {
        size_t depth = 1;
        while (m_pos < m_in.size() && depth > 0) {
            const char ch = m_in[m_pos++];
            if (ch == '\\' && m_pos < m_in.size()) {
                if (is_letter(m_in[m_pos])) {
                    std::string_view word;
                    long param = 0;
                    bool has_param = false;
                    read_word(word, param, has_param);
                    if (word == "bin" && has_param) skip_binary(param);
                } else {
                    ++m_pos;
                }
            } else if (ch == '{') {
                ++depth;
            } else if (ch == '}') {
                --depth;
            }
        }
    }

    void skip_binary(long count) {
        if (count <= 0) return;
        m_pos += std::min(static_cast<size_t>(count), m_in.size() - m_pos);
    }

    // Letters, an optional signed number, and the blank that ends the control word.
    void read_word(std::string_view& word, long& param, bool& has_param) {
        const size_t start = m_pos;
        while (m_pos < m_in.size() && is_letter(m_in[m_pos])) ++m_pos;
        word = m_in.substr(start, m_pos - start);
        has_param = false;
        param = 0;
        bool negative = false;
        if (m_pos + 1 < m_in.size() && m_in[m_pos] == '-' && is_digit(m_in[m_pos + 1])) {
            negative = true;
            ++m_pos;
        }
        while (m_pos < m_in.size() && is_digit(m_in[m_pos])) {
            has_param = true;
            if (param < 100000000L) param = param * 10 + (m_in[m_pos] - '0');
            ++m_pos;
        }
        if (negative) param = -param;
        if (m_pos < m_in.size() && m_in[m_pos] == ' ') ++m_pos;
    }

    void control() {
        if (m_pos >= m_in.size()) return;  // a lone backslash at the very end
        const char ch = m_in[m_pos];
        if (is_letter(ch)) {
            std::string_view word;
            long param = 0;
            bool has_param = false;
            read_word(word, param, has_param);
            control_word(word, param, has_param);
            return;
        }
        ++m_pos;
        switch (ch) {
            case '\\':
            case '{':
            case '}':
                text(std::string_view(&m_in[m_pos - 1], 1));
                break;
            case '\'': {
                int value = 0, digits = 0;
                while (digits < 2 && m_pos < m_in.size() && hex_value(m_in[m_pos]) >= 0) {
                    value = value * 16 + hex_value(m_in[m_pos++]);
                    ++digits;
                }
                if (digits < 2) break;  // a broken escape gives nothing
                const char byte = static_cast<char>(value);
                text(workbook::cp1252_to_utf8(std::string_view(&byte, 1)));
                break;
            }
            case '*':
                m_state.hidden = true;
                break;
            case '~':
                text("\xC2\xA0");
                break;
            case '_':
                text("-");
                break;
            case '\r':
            case '\n':
                paragraph();
                break;
            default:
                fallback_consumed();  // \-, \|, \: and the like give no text
                break;
        }
    }

    void control_word(std::string_view word, long param, bool has_param) {
        if (hidden_destination(word)) {
            m_state.hidden = true;
            return;
        }
        if (word == "bin") {
            if (has_param) skip_binary(param);
            return;
        }
        if (word == "uc") {
            m_state.uc = static_cast<int>(std::clamp<long>(param, 0, kMaxFallback));
            return;
        }
        if (word == "u" && has_param) {
            unicode(param);
            return;
        }
        if (word == "par" || word == "line" || word == "sect" || word == "page" || word == "row") {
            paragraph();
        } else if (word == "tab" || word == "cell") {
            text("\t");
        } else if (word == "emdash") {
            text("\xE2\x80\x94");
        } else if (word == "endash") {
            text("\xE2\x80\x93");
        } else if (word == "bullet") {
            text("\xE2\x80\xA2");
        } else if (word == "lquote") {
            text("\xE2\x80\x98");
        } else if (word == "rquote") {
            text("\xE2\x80\x99");
        } else if (word == "ldblquote") {
            text("\xE2\x80\x9C");
        } else if (word == "rdblquote") {
            text("\xE2\x80\x9D");
        } else if (word == "emspace" || word == "enspace" || word == "qmspace") {
            text(" ");
        } else {
            fallback_consumed();
        }
    }

    void unicode(long param) {
        // A signed 16-bit number; anything outside that is no character.
        const uint32_t unit = (param < -32768 || param > 65535)
                                  ? 0xFFFD
                                  : static_cast<uint32_t>(param < 0 ? param + 65536 : param);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            m_high_surrogate = unit;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF && m_high_surrogate != 0) {
            if (!m_state.hidden)
                workbook::append_utf8(m_out, 0x10000 + ((m_high_surrogate - 0xD800) << 10) + (unit - 0xDC00));
            m_high_surrogate = 0;
        } else {
            m_high_surrogate = 0;
            if (!m_state.hidden) workbook::append_utf8(m_out, unit);
        }
        m_skip = m_state.uc;
    }

    // A fallback character after \uN is dropped; so is any control word standing in for one.
    void fallback_consumed() {
        if (m_skip > 0) --m_skip;
    }

    void text(std::string_view s) {
        if (m_skip > 0) {
            --m_skip;
            return;
        }
        if (m_state.hidden) return;
        m_out.append(s);
    }

    void paragraph() {
        m_skip = 0;
        if (!m_state.hidden) m_out += "\r\n";
    }

    std::string_view m_in;
    size_t m_pos = 0;
    bool m_done = false;
    State m_state;
    std::vector<State> m_stack;
    int m_skip = 0;
    uint32_t m_high_surrogate = 0;
    std::string m_out;
};

}  // namespace

std::string RTFtoText(std::string_view rtf) {
    const std::string_view start = workbook::trim_left_ctl(rtf);
    if (start.substr(0, 5) != "{\\rtf") return plain_text(rtf);
    return RtfReader(start).read();
}

}  // namespace gaeb2000
