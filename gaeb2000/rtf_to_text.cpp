// SPDX-License-Identifier: MIT
#include "gaeb2000/rtf_to_text.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "workbook/text.h"

namespace gaeb2000 {
namespace {

// Groups nested deeper than this are read as a whole and give no text: the group stack stays
// small whatever the input.
constexpr size_t kMaxDepth = 512;
constexpr int kMaxFallback = 16;
// Empty cells in a row beyond this many give no further separators.
constexpr int kMaxPendingCells = 64;
// Code pages a document may switch between before the oldest converter is closed again.
constexpr size_t kMaxConverters = 8;

// What a control word does to the text.
enum class Word : uint8_t {
    Hidden,   // a destination whose content nobody reading the printed text sees
    Known,    // a destination whose content is visible text: kept even after "\*"
    Upr,      // two versions of the same text: only the Unicode one (\ud) is read
    Ud,       //
    LineEnd,  // ends the line
    Cell,     // ends a table cell
    Text,     // stands for a character
    Uc,       // fallback characters after \uN
    U,        // a Unicode character
    Bin,      // binary data follows
    Plain,    // resets the character formatting (hidden text ends)
    V,        // hidden text on or off
    AnsiCpg,  // the document's code page
    Ansi,     //
    Mac,      //
    Pc,       //
    Pca,      //
};

struct Entry {
    std::string_view word;
    Word kind;
    std::string_view text = {};
};

// Every destination of the RTF 1.9.1 vocabulary that produces no visible text: document tables,
// document information, headers and footers, notes, annotations, bookmarks, fields' instructions
// and form-field data, index and contents entries, pictures, objects, drawing objects and shape
// properties, list and numbering definitions, mail merge, math, revision and protection data,
// XML and smart-tag markup.
constexpr std::string_view kHiddenDestinations[] = {
    "aftncn",
    "aftnsep",
    "aftnsepc",
    "annotation",
    "atnauthor",
    "atndate",
    "atnicn",
    "atnid",
    "atnparent",
    "atnref",
    "atntime",
    "atrfend",
    "atrfstart",
    "author",
    "background",
    "bkmkend",
    "bkmkstart",
    "blipuid",
    "buptim",
    "category",
    "colorschememapping",
    "colortbl",
    "comment",
    "company",
    "creatim",
    "datafield",
    "datastore",
    "defchp",
    "defpap",
    "do",
    "doccomm",
    "docvar",
    "dptxbxtext",
    "ebcend",
    "ebcstart",
    "factoidname",
    "falt",
    "fchars",
    "ffdeftext",
    "ffentrymcr",
    "ffexitmcr",
    "ffformat",
    "ffhelptext",
    "ffl",
    "ffname",
    "ffstattext",
    "file",
    "filetbl",
    "fldinst",
    "fldtype",
    "fname",
    "fontemb",
    "fontfile",
    "fonttbl",
    "footer",
    "footerf",
    "footerl",
    "footerr",
    "footnote",
    "formfield",
    "ftncn",
    "ftnsep",
    "ftnsepc",
    "g",
    "generator",
    "gridtbl",
    "header",
    "headerf",
    "headerl",
    "headerr",
    "hl",
    "hlfr",
    "hlinkbase",
    "hlloc",
    "hlsrc",
    "hsv",
    "htmltag",
    "info",
    "keycode",
    "keywords",
    "latentstyles",
    "lchars",
    "levelnumbers",
    "leveltext",
    "lfolevel",
    "linkval",
    "list",
    "listlevel",
    "listname",
    "listoverride",
    "listoverridetable",
    "listpicture",
    "liststylename",
    "listtable",
    "lsdlockedexcept",
    "macc",
    "maccPr",
    "mailmerge",
    "maln",
    "malnScr",
    "manager",
    "margPr",
    "mbar",
    "mbarPr",
    "mbaseJc",
    "mbegChr",
    "mborderBox",
    "mborderBoxPr",
    "mbox",
    "mboxPr",
    "mchr",
    "mcount",
    "mctrlPr",
    "md",
    "mdPr",
    "mdeg",
    "mdegHide",
    "mden",
    "mdiff",
    "me",
    "mendChr",
    "meqArr",
    "meqArrPr",
    "mf",
    "mfName",
    "mfPr",
    "mfunc",
    "mfuncPr",
    "mgroupChr",
    "mgroupChrPr",
    "mgrow",
    "mhideBot",
    "mhideLeft",
    "mhideRight",
    "mhideTop",
    "mhtmltag",
    "mlim",
    "mlimloc",
    "mlimlow",
    "mlimlowPr",
    "mlimupp",
    "mlimuppPr",
    "mm",
    "mmPr",
    "mmaddfieldname",
    "mmath",
    "mmathPict",
    "mmathPr",
    "mmaxdist",
    "mmc",
    "mmcJc",
    "mmcPr",
    "mmconnectstr",
    "mmconnectstrdata",
    "mmcs",
    "mmdatasource",
    "mmheadersource",
    "mmmailsubject",
    "mmodso",
    "mmodsofilter",
    "mmodsofldmpdata",
    "mmodsomappedname",
    "mmodsoname",
    "mmodsorecipdata",
    "mmodsosort",
    "mmodsosrc",
    "mmodsotable",
    "mmodsoudl",
    "mmodsoudldata",
    "mmodsouniquetag",
    "mmquery",
    "mmr",
    "mnary",
    "mnaryPr",
    "mnoBreak",
    "mnum",
    "moMath",
    "moMathPara",
    "moMathParaPr",
    "mobjDist",
    "mopEmu",
    "mphant",
    "mphantPr",
    "mplcHide",
    "mpos",
    "mr",
    "mrPr",
    "mrad",
    "mradPr",
    "msPre",
    "msPrePr",
    "msSub",
    "msSubPr",
    "msSubSup",
    "msSubSupPr",
    "msSup",
    "msSupPr",
    "msepChr",
    "mshow",
    "mshp",
    "mstrikeBLTR",
    "mstrikeH",
    "mstrikeTLBR",
    "mstrikeV",
    "msub",
    "msubHide",
    "msup",
    "msupHide",
    "mtransp",
    "mtype",
    "mvertJc",
    "mvfmf",
    "mvfml",
    "mvtof",
    "mvtol",
    "mzeroAsc",
    "mzeroDesc",
    "mzeroWid",
    "nesttableprops",
    "nextfile",
    "nonesttables",
    "nonshppict",
    "objalias",
    "objclass",
    "objdata",
    "object",
    "objname",
    "objsect",
    "objtime",
    "oldcprops",
    "oldpprops",
    "oldsprops",
    "oldtprops",
    "oleclsid",
    "operator",
    "panose",
    "password",
    "passwordhash",
    "pgdsc",
    "pgdsctbl",
    "pgp",
    "pgptbl",
    "picprop",
    "pict",
    "pn",
    "pnseclvl",
    "pntxta",
    "pntxtb",
    "printim",
    "private",
    "propname",
    "protend",
    "protstart",
    "protusertbl",
    "pxe",
    "result",
    "revtbl",
    "revtim",
    "rsidtbl",
    "rxe",
    "shppict",
    "shprslt",
    "sn",
    "sp",
    "staticval",
    "stylesheet",
    "subject",
    "sv",
    "svb",
    "tc",
    "tcn",
    "template",
    "themedata",
    "title",
    "txe",
    "userprops",
    "wgrffmtfilter",
    "windowcaption",
    "writereservation",
    "writereservhash",
    "xe",
    "xform",
    "xmlattrname",
    "xmlattrvalue",
    "xmlclose",
    "xmlname",
    "xmlnstbl",
    "xmlopen",
};

// The words this reader acts on, sorted by word once.
const std::vector<Entry>& vocabulary() {
    static const std::vector<Entry> table = [] {
        std::vector<Entry> t;
        for (std::string_view w : kHiddenDestinations) t.push_back({w, Word::Hidden});
        // The visible destinations: a field's result, a shape's text (its \shprslt repeats it),
        // and the number of a list paragraph, meant for readers that do not number lists.
        for (std::string_view w :
             {"field", "fldrslt", "shp", "shpgrp", "shpinst", "shptxt", "listtext", "pntext", "rtf"})
            t.push_back({w, Word::Known});
        t.push_back({"upr", Word::Upr});
        t.push_back({"ud", Word::Ud});
        for (std::string_view w : {"par", "line", "sect", "page", "column", "softline", "row", "nestrow"})
            t.push_back({w, Word::LineEnd});
        t.push_back({"cell", Word::Cell});
        t.push_back({"nestcell", Word::Cell});
        const std::pair<std::string_view, std::string_view> chars[] = {
            {"tab", " "},         {"emspace", " "},        {"enspace", " "},        {"qmspace", " "},
            {"emdash", "\u2014"}, {"endash", "\u2013"},    {"bullet", "\u2022"},    {"lquote", "\u2018"},
            {"rquote", "\u2019"}, {"ldblquote", "\u201C"}, {"rdblquote", "\u201D"},
        };
        for (const auto& [w, s] : chars) t.push_back({w, Word::Text, s});
        t.push_back({"uc", Word::Uc});
        t.push_back({"u", Word::U});
        t.push_back({"bin", Word::Bin});
        t.push_back({"plain", Word::Plain});
        t.push_back({"v", Word::V});
        t.push_back({"ansicpg", Word::AnsiCpg});
        t.push_back({"ansi", Word::Ansi});
        t.push_back({"mac", Word::Mac});
        t.push_back({"pc", Word::Pc});
        t.push_back({"pca", Word::Pca});
        std::sort(t.begin(), t.end(), [](const Entry& a, const Entry& b) { return a.word < b.word; });
        return t;
    }();
    return table;
}

const Entry* lookup(std::string_view word) {
    const std::vector<Entry>& t = vocabulary();
    const auto it = std::lower_bound(t.begin(), t.end(), word,
                                     [](const Entry& e, std::string_view w) { return e.word < w; });
    return it != t.end() && it->word == word ? &*it : nullptr;
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

// Bytes of a code page other than Windows-1252 and 850, through the C library's converter.
class CodePage {
public:
    explicit CodePage(int number) {
        const std::string names[] = {number == 10000   ? "MACINTOSH"
                                     : number == 65001 ? "UTF-8"
                                                       : "CP" + std::to_string(number),
                                     "WINDOWS-" + std::to_string(number)};
        for (const std::string& name : names) {
            m_cd = iconv_open("UTF-8", name.c_str());
            if (m_cd != failed()) break;
        }
    }
    ~CodePage() {
        if (ok()) iconv_close(m_cd);
    }
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;

    bool ok() const { return m_cd != failed(); }

    // A byte that does not convert becomes U+FFFD; so does a character cut off at the end.
    void decode(std::string_view bytes, std::string& out) {
        std::string in(bytes);
        char* src = in.data();
        size_t left = in.size();
        std::array<char, 256> buffer{};
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        while (left > 0) {
            char* dst = buffer.data();
            size_t room = buffer.size();
            const size_t r = iconv(m_cd, &src, &left, &dst, &room);
            const int error = r == static_cast<size_t>(-1) ? errno : 0;
            out.append(buffer.data(), static_cast<size_t>(dst - buffer.data()));
            if (error == 0 || error == E2BIG) continue;
            out += "\uFFFD";
            if (error == EINVAL) break;
            ++src;
            --left;
        }
    }

private:
    static iconv_t failed() { return reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1)); }
    iconv_t m_cd = failed();
};

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
            } else if (static_cast<unsigned char>(ch) < 0x20) {
                ++m_pos;  // line breaks of the RTF source are no text; a raw tab is a blank
                if (ch == '\t') text(" ");
            } else {
                const size_t n = char_length(m_in, m_pos);
                text(m_in.substr(m_pos, n));
                m_pos += n;
            }
        }
        flush_bytes();
        return std::move(m_out);
    }

private:
    struct State {
        bool destination_hidden = false;  // inside a destination that gives no text
        bool hidden_text = false;         // \v
        bool in_upr = false;
        bool upr_outer_hidden = false;  // what \ud inside \upr goes back to
        int uc = 1;                     // fallback characters after \uN
    };

    bool visible() const { return !m_state.destination_hidden && !m_state.hidden_text; }

    void open_group() {
        m_skip = 0;
        m_star = false;
        if (m_stack.size() >= kMaxDepth) {
            skip_group();
            return;
        }
        m_stack.push_back(m_state);
    }

    void close_group() {
        m_skip = 0;
        m_star = false;
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
            const bool star = m_star;
            m_star = false;
            control_word(word, param, has_param, star);
            return;
        }
        ++m_pos;
        if (ch != '*') m_star = false;
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
                if (digits == 2) byte(static_cast<char>(value));  // a broken escape gives nothing
                break;
            }
            case '*':
                m_star = true;  // the group is ignored unless its destination is known
                break;
            case '~':
                text("\u00A0");
                break;
            case '_':
                text("-");
                break;
            case '\r':
            case '\n':
                line_end();
                break;
            default:
                fallback_consumed();  // \-, \|, \: and the like give no text
                break;
        }
    }

    void control_word(std::string_view word, long param, bool has_param, bool star) {
        const Entry* e = lookup(word);
        if (e == nullptr) {
            if (star) m_state.destination_hidden = true;
            fallback_consumed();  // a formatting word
            return;
        }
        switch (e->kind) {
            case Word::Hidden:
                m_state.destination_hidden = true;
                break;
            case Word::Known:
                break;
            case Word::Upr:
                m_state.upr_outer_hidden = m_state.destination_hidden;
                m_state.in_upr = true;
                m_state.destination_hidden = true;
                break;
            case Word::Ud:
                if (m_state.in_upr) m_state.destination_hidden = m_state.upr_outer_hidden;
                break;
            case Word::LineEnd:
                line_end();
                break;
            case Word::Cell:
                cell_end();
                break;
            case Word::Text:
                text(e->text);
                break;
            case Word::Uc:
                m_state.uc = static_cast<int>(std::clamp<long>(param, 0, kMaxFallback));
                break;
            case Word::U:
                if (has_param) unicode(param);
                break;
            case Word::Bin:
                if (has_param) skip_binary(param);
                break;
            case Word::Plain:
                m_state.hidden_text = false;
                break;
            case Word::V:
                m_state.hidden_text = !has_param || param != 0;
                break;
            case Word::AnsiCpg:
                if (has_param) set_code_page(static_cast<int>(std::clamp<long>(param, 0, 65535)));
                m_code_page_given = true;
                break;
            case Word::Ansi:
                if (!m_code_page_given) set_code_page(1252);
                break;
            case Word::Mac:
                set_code_page(10000);
                break;
            case Word::Pc:
                set_code_page(437);
                break;
            case Word::Pca:
                set_code_page(850);
                break;
        }
    }

    void set_code_page(int number) {
        flush_bytes();
        m_code_page = number;
    }

    // The converter of the current code page, opened once per code page and document.
    CodePage& converter() {
        for (auto& [number, page] : m_converters)
            if (number == m_code_page) return *page;
        if (m_converters.size() >= kMaxConverters) m_converters.erase(m_converters.begin());
        m_converters.emplace_back(m_code_page, std::make_unique<CodePage>(m_code_page));
        return *m_converters.back().second;
    }

    void unicode(long param) {
        // A signed 16-bit number; anything outside that is no character.
        const uint32_t unit = (param < -32768 || param > 65535)
                                  ? 0xFFFD
                                  : static_cast<uint32_t>(param < 0 ? param + 65536 : param);
        std::string utf8;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            m_high_surrogate = unit;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF && m_high_surrogate != 0) {
            workbook::append_utf8(utf8, 0x10000 + ((m_high_surrogate - 0xD800) << 10) + (unit - 0xDC00));
            m_high_surrogate = 0;
        } else {
            m_high_surrogate = 0;
            workbook::append_utf8(utf8, unit);
        }
        if (!utf8.empty() && visible()) {
            before_text();
            m_out += utf8;
        }
        m_skip = m_state.uc;
    }

    // A fallback character after \uN is dropped; so is any control word standing in for one.
    void fallback_consumed() {
        if (m_skip > 0) --m_skip;
    }

    // Text that is written as it stands, after what waits before it.
    void before_text() {
        flush_bytes();
        for (; m_cells > 0; --m_cells) m_out += " | ";
    }

    void text(std::string_view s) {
        m_star = false;
        if (m_skip > 0) {
            --m_skip;
            return;
        }
        if (!visible()) return;
        before_text();
        m_out.append(s);
    }

    // A byte of the document's code page: collected, so that a character of two bytes converts.
    void byte(char b) {
        if (m_skip > 0) {
            --m_skip;
            return;
        }
        if (!visible()) return;
        if (m_cells > 0) before_text();
        m_bytes.push_back(b);
    }

    void flush_bytes() {
        if (m_bytes.empty()) return;
        if (m_code_page == 1252) {
            m_out += workbook::cp1252_to_utf8(m_bytes);
        } else if (m_code_page == 850) {
            m_out += workbook::cp850_to_utf8(m_bytes);
        } else {
            CodePage& page = converter();
            if (page.ok())
                page.decode(m_bytes, m_out);
            else
                m_out += workbook::cp1252_to_utf8(m_bytes);  // a code page nobody here knows
        }
        m_bytes.clear();
    }

    void line_end() {
        m_skip = 0;
        if (!visible()) return;
        flush_bytes();
        m_cells = 0;  // the last cell of a row has nothing after it
        m_out += "\r\n";
    }

    void cell_end() {
        m_skip = 0;
        if (!visible()) return;
        flush_bytes();
        if (m_cells < kMaxPendingCells) ++m_cells;
    }

    std::string_view m_in;
    size_t m_pos = 0;
    bool m_done = false;
    bool m_star = false;
    State m_state;
    std::vector<State> m_stack;
    int m_skip = 0;
    int m_cells = 0;  // cells ended whose separator waits for the next text
    uint32_t m_high_surrogate = 0;
    int m_code_page = 1252;
    bool m_code_page_given = false;
    std::vector<std::pair<int, std::unique_ptr<CodePage>>> m_converters;
    std::string m_bytes;
    std::string m_out;
};

}  // namespace

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

std::string RTFtoText(std::string_view rtf) {
    const std::string_view start = workbook::trim_left_ctl(rtf);
    if (start.substr(0, 5) != "{\\rtf") return plain_text(rtf);
    return RtfReader(start).read();
}

}  // namespace gaeb2000
