// SPDX-License-Identifier: MIT
#include "gaeb2000/text_ops.h"

#include <fmt/format.h>

#include <algorithm>
#include <vector>

#include "workbook/errors.h"
#include "workbook/numbers.h"
#include "workbook/text.h"

namespace gaeb2000 {
namespace {

int brace_delta(char ch) {
    return ch == '{' ? 1 : ch == '}' ? -1 : 0;
}

int64_t net_braces(std::string_view s) {
    int64_t n = 0;
    for (char ch : s) n += brace_delta(ch);
    return n;
}

// The k-th mask character (0-based) as a level length.
int mask_digit(std::string_view maske, size_t k) {
    const std::string_view ch = workbook::utf8_substr(maske, k, 1);
    if (ch.size() != 1 || ch[0] < '0' || ch[0] > '9')
        throw workbook::ConvertError(fmt::format("'{}' ist kein gültiger ganzzahliger Wert", ch));
    return ch[0] - '0';
}

void insert_dot(std::string& s, size_t char_index) {
    s.insert(workbook::utf8_offset(s, char_index), 1, '.');
}

}  // namespace

std::string field(std::string_view s, size_t capacity) {
    return std::string(workbook::utf8_prefix(s, capacity));
}

std::string DeleteLineKey(std::string_view textkey, std::string_view textline) {
    const size_t at = find_key(textline, textkey);
    if (at == std::string_view::npos) return std::string(textline);
    std::string out;
    out.reserve(textline.size() - textkey.size());
    out.append(textline.substr(0, at));
    out.append(textline.substr(at + textkey.size()));
    return out;
}

std::string key_value(std::string_view line, std::string_view key) {
    return DeleteLineKey("[end]", DeleteLineKey(key, line));
}

std::string key_value(std::string_view line, std::string_view key, size_t capacity) {
    // Removing keys only shortens the text: one cut of the line equals a cut after every step.
    return key_value(workbook::utf8_prefix(line, capacity), key);
}

void MoveBereich(LineList& source, int64_t b, int64_t e, LineList& target) {
    if (e < b) return;
    for (int64_t i = b; i <= e; ++i) target.append(workbook::trim_left_ctl(source.line(i)));
    source.erase(b, e);
}

void move_lines_untrimmed(LineList& source, int64_t b, int64_t e, LineList& target) {
    if (e < b) return;
    for (int64_t i = b; i <= e; ++i) target.append(source.line(i));
    source.erase(b, e);
}

std::string FormatBereich(std::string_view bereich, std::string_view maske) {
    if (bereich.empty() || maske.empty()) return {};
    std::string s(bereich);
    const size_t levels = workbook::utf8_length(maske);
    size_t p = 0;
    for (size_t k = 1; k < levels; ++k) {
        p += static_cast<size_t>(mask_digit(maske, k - 1)) + 1;
        // A range number ends with the dot after its last complete level.
        if (workbook::utf8_length(s) < p - 1) break;
        insert_dot(s, p - 1);
    }
    return s;
}

std::string FormatPosition(std::string_view position, std::string_view maske) {
    if (position.empty() || maske.empty()) return {};
    std::string s(position);
    const size_t levels = workbook::utf8_length(maske);
    size_t p = 0;
    for (size_t k = 1; k < levels; ++k) {
        p += static_cast<size_t>(mask_digit(maske, k - 1)) + 1;
        const size_t length = workbook::utf8_length(s);
        if (length < p - 1)
            s.push_back('.');
        else
            insert_dot(s, p - 1);
    }
    return s;
}

int64_t StringCount(std::string_view s, char c, int64_t ofset) {
    int64_t count = 0;
    int64_t chars = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
        if (chars++ >= ofset) break;
        if (s[i] == c) ++count;
        if (s[i] == '}') --count;
    }
    return count;
}

int64_t FindePicEndpos(std::string_view s, char c, int64_t tag_count) {
    int64_t count = 0;
    int64_t position = static_cast<int64_t>(workbook::utf8_length(s));
    for (size_t i = s.size(); i-- > 0;) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
        if (s[i] == c) ++count;
        if (s[i] == '{') --count;
        if (count == tag_count) return position;
        --position;
    }
    return 0;
}

// The loop "while the text holds {\pict at o: d = StringCount(text, o); z = FindePicEndpos(text,
// d); delete o..z" costs a pass over the text per picture. With PS[k] the brace balance of the
// original text before byte k, the backward scan stops at the last position k of the current
// text whose balance before it equals d plus the balance of the whole original text, whatever was
// cut before: so one table "last k with PS[k] = v" answers every picture. The text is built in
// `out` (done, free of pictures) followed by the untouched original from byte u.
std::string remove_pictures(std::string_view text) {
    static constexpr std::string_view kPict = "{\\pict";
    if (text.find(kPict) == std::string_view::npos) return std::string(text);

    const size_t n = text.size();
    int64_t lo = 0, hi = 0, running = 0;
    for (char ch : text) {
        running += brace_delta(ch);
        lo = std::min(lo, running);
        hi = std::max(hi, running);
    }
    const int64_t ps_n = running;
    std::vector<int64_t> last(static_cast<size_t>(hi - lo + 1), -1);
    running = 0;
    for (size_t k = 0; k < n; ++k) {
        last[static_cast<size_t>(running - lo)] = static_cast<int64_t>(k);
        running += brace_delta(text[k]);
    }

    std::string out;
    int64_t out_net = 0;   // brace balance of out
    size_t u = 0;          // the untouched original starts here
    int64_t ps_u = 0;      // brace balance of text[0..u)
    size_t scan_from = 0;  // a picture can start in out only from here on (across its end)

    auto char_at = [&](size_t t) -> int {  // character t of out + text[u..]; -1 past the end
        if (t < out.size()) return static_cast<unsigned char>(out[t]);
        const size_t k = u + (t - out.size());
        return k < n ? static_cast<unsigned char>(text[k]) : -1;
    };
    auto starts_picture = [&](size_t t) {
        for (size_t i = 0; i < kPict.size(); ++i)
            if (char_at(t + i) != static_cast<unsigned char>(kPict[i])) return false;
        return true;
    };

    while (true) {
        size_t t = scan_from;
        while (t < out.size() && !starts_picture(t)) ++t;
        if (t == out.size()) {
            const size_t so = text.find(kPict, u);
            if (so == std::string_view::npos) break;
            const int64_t moved = net_braces(text.substr(u, so - u));
            out.append(text.substr(u, so - u));
            out_net += moved;
            ps_u += moved;
            u = so;
            t = out.size();
        }
        // d: balance of the current text up to and including the picture's own brace.
        const int64_t d =
            t == out.size() ? out_net + 1 : out_net - net_braces(std::string_view(out).substr(t + 1));
        const int64_t target = d + ps_n;
        const int64_t k = (target < lo || target > hi) ? -1 : last[static_cast<size_t>(target - lo)];
        if (k >= static_cast<int64_t>(u)) {
            out.resize(t);
            out_net = d - 1;
            u = static_cast<size_t>(k) + 1;
            ps_u = target + brace_delta(text[static_cast<size_t>(k)]);
            scan_from = t >= 5 ? t - 5 : 0;
            continue;
        }
        // Not in the untouched original: a picture that starts in out may still end in out.
        bool cut = false;
        if (t < out.size()) {
            const int64_t wanted = d + out_net + (ps_n - ps_u);
            int64_t tail = 0;  // balance of out[j..]
            for (size_t j = out.size(); j-- > t;) {
                tail += brace_delta(out[j]);
                if (out_net - tail == wanted) {
                    out_net -= net_braces(std::string_view(out).substr(t, j - t + 1));
                    out.erase(t, j - t + 1);
                    scan_from = t >= 5 ? t - 5 : 0;
                    cut = true;
                    break;
                }
            }
        }
        if (!cut) break;  // the picture's end cannot be found: the removal ends, the rest stays
    }
    out.append(text.substr(u));
    return out;
}

std::string delete_all(std::string_view s, std::string_view what) {
    return workbook::replace_all(s, what, "");
}

std::string clean_long_text(std::string_view text) {
    std::string s = remove_pictures(text);
    size_t lead = 0;
    while (s.compare(lead, 2, "\r\n") == 0) lead += 2;
    s.erase(0, lead);
    auto replace = [&s](std::string_view from, std::string_view to) {
        if (s.find(from) != std::string::npos) s = workbook::replace_all(s, from, to);
    };
    replace("\\tab", "");
    replace("\t", "");
    if (s.find("TB") != std::string::npos)
        for (int n = 61; n <= 80; ++n) replace(fmt::format("TB{}", n), "");
    if (s.find("Feld") != std::string::npos)
        for (int n = 61; n <= 80; ++n) replace(fmt::format("Feld{}", n), "");
    replace("&#91;", "[");
    replace("&#93;", "]");
    replace("&#128;", "Euro");
    return s;
}

double gaeb_number(std::string_view text) {
    std::string s(workbook::trim_ctl(text));
    if (s.find('.') == std::string::npos) {
        const size_t comma = s.find(',');
        if (comma != std::string::npos && s.find(',', comma + 1) == std::string::npos) s[comma] = '.';
    }
    const std::optional<double> value = workbook::parse_decimal(s);
    if (!value) throw workbook::ConvertError(fmt::format("'{}' ist kein gültiger Gleitkommawert", text));
    return *value;
}

std::optional<std::string> long_text_of(const LineList& holder, int64_t bB, int64_t eB) {
    const bool rtf_mode = holder.find("{\\rtf") >= 1;
    std::string joined;
    for (int64_t i = bB + 1; i <= eB - 1; ++i) {
        const std::string_view l = holder.line(i);
        joined.append(l);
        if (!rtf_mode)
            joined.append("\r\n");
        else if (l.size() < 4 || l.substr(l.size() - 4) != "\\par")
            joined.push_back(' ');
    }
    const std::string_view trimmed = workbook::trim_left_ctl(joined);
    const size_t at = find_key(trimmed, "[Langtext]");
    if (at == std::string_view::npos) return std::nullopt;
    const std::string from_key = DeleteLineKey("[end]", DeleteLineKey("[Langtext]", trimmed.substr(at)));
    return clean_long_text(from_key);
}

}  // namespace gaeb2000
