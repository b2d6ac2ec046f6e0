// SPDX-License-Identifier: MIT
#include "workbook/xlsx/package_writer.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "workbook/cell_address.h"
#include "workbook/formula.h"
#include "workbook/text.h"
#include "workbook/xlsx/deflate_pieces.h"
#include "workbook/xlsx/xlsx_text.h"
#include "workbook/xlsx/zip_writer.h"

namespace workbook::xlsx {

namespace {

// A part's text is cut into chunks of this size, packed on their own: a few of them are in
// flight at once (one being produced, one waiting, one or two being packed, two packed but not
// yet written), so that a small workbook's save costs little memory. Smaller chunks would pack
// worse (each starts without history).
constexpr size_t kChunk = size_t{1} << 19;
constexpr size_t kQueued = 1;
constexpr size_t kReady = 2;

constexpr std::string_view kXmlDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr std::string_view kMainNamespace = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kRelationships =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr double kDefaultColumnWidth = 8.43;
constexpr double kPointsPerInch = 72.0;
// Number formats are kept to the 127 bytes the library keeps of them.
constexpr size_t kMaxNumberFormat = 127;

// ---------------------------------------------------------------------------------------------
// Text output

void append_escaped(std::string& out, std::string_view s, bool attribute) {
    size_t plain = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const char ch = s[i];
        const char* entity = nullptr;
        if (ch == '&')
            entity = "&amp;";
        else if (ch == '<')
            entity = "&lt;";
        else if (ch == '>')
            entity = "&gt;";
        else if (ch == '"' && attribute)
            entity = "&quot;";
        else
            continue;
        out.append(s.data() + plain, i - plain);
        out += entity;
        plain = i + 1;
    }
    out.append(s.data() + plain, s.size() - plain);
}

std::string escaped(std::string_view s, bool attribute = true) {
    std::string out;
    append_escaped(out, s, attribute);
    return out;
}

// A cell text: control characters XML cannot hold as "_xHHHH_" (tab and line feed stay), then
// the markup characters.
void append_cell_text(std::string& out, std::string_view s) {
    size_t plain = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const auto ch = static_cast<unsigned char>(s[i]);
        char code[8];
        const char* entity;
        if (ch == '&') {
            entity = "&amp;";
        } else if (ch == '<') {
            entity = "&lt;";
        } else if (ch == '>') {
            entity = "&gt;";
        } else if (ch < 0x20 && ch != '\t' && ch != '\n') {
            std::snprintf(code, sizeof code, "_x%04X_", ch);
            entity = code;
        } else {
            continue;
        }
        out.append(s.data() + plain, i - plain);
        out += entity;
        plain = i + 1;
    }
    out.append(s.data() + plain, s.size() - plain);
}

void append_int(std::string& out, int64_t v) {
    char text[24];
    out.append(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// The shortest text that reads back as exactly this number.
void append_number(std::string& out, double v) {
    char text[32];
    out.append(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// Numbers in attributes (widths, margins) as the library prints them.
std::string attribute_number(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.16G", v);
    return text;
}

std::string cell_name(int32_t row, int32_t col) {
    return column_letters(col) + std::to_string(row);
}

std::string range_name(int32_t row1, int32_t col1, int32_t row2, int32_t col2) {
    if (row1 == row2 && col1 == col2) return cell_name(row1, col1);
    return cell_name(row1, col1) + ":" + cell_name(row2, col2);
}

// A sheet name as a formula refers to it: quoted unless it holds only letters, digits, '_' and
// '.' (an apostrophe doubled).
std::string quoted_sheet_name(std::string_view name) {
    bool plain = true;
    for (const char ch : name) {
        const auto u = static_cast<unsigned char>(ch);
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || ch == '_' ||
              ch == '.'))
            plain = false;
    }
    if (plain) return std::string(name);
    std::string out = "'";
    for (const char ch : name) {
        if (ch == '\'') out += '\'';
        out += ch;
    }
    return out + "'";
}

// ---------------------------------------------------------------------------------------------
// Packing a part while it is produced

// The text of one part on its way into the archive, in chunks packed on their own: by a second
// thread while this one goes on producing, and by this one too when the other is behind, so that
// both cores pack. Packed chunks are written in their order by whichever thread holds the turn.
class PartStream {
public:
    // `packer` is this thread's, shared with the parts written at once.
    PartStream(ZipWriter& zip, PiecePacker& packer, std::string_view name) : m_zip(zip), m_packer(packer) {
        m_zip.begin(name);
        m_text.reserve(kChunk + kChunk / 8);
    }
    ~PartStream() { stop(); }
    PartStream(const PartStream&) = delete;
    PartStream& operator=(const PartStream&) = delete;

    std::string& text() { return m_text; }
    // Hands a full chunk on.
    void chunk_done() {
        if (m_text.size() >= kChunk) submit();
    }
    void finish() {
        if (!m_text.empty()) submit();
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_room.wait(lock, [this] { return m_next_write == m_next_seq || m_failure; });
            m_done = true;
            m_wake.notify_all();
        }
        stop();
        if (m_failure) std::rethrow_exception(m_failure);
        m_zip.write(std::begin(kFinalBlock), sizeof kFinalBlock);
        m_zip.end(m_crc, m_size);
    }

private:
    struct Packed {
        std::string text;  // kept for the next chunk's text
        std::vector<uint8_t> bytes;
        uint32_t crc = 0;
    };

    void submit() {
        const uint64_t seq = m_next_seq++;
        std::string text = std::move(m_text);
        m_text = std::string();
        start_worker();
        bool queued = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            // Packed chunks wait only for those before them: a few at most.
            m_room.wait(lock, [this] { return m_ready.size() < kReady || m_failure; });
            if (m_failure) std::rethrow_exception(m_failure);
            if (m_worker.joinable() && m_queue.size() < kQueued) {
                m_queue.emplace_back(seq, std::move(text));
                m_wake.notify_all();
                text = take_spare();
                queued = true;
            }
        }
        if (!queued) {
            // The other thread is behind, or there is none: this one packs.
            Packed p = pack(m_packer, std::move(text));
            text = deliver(seq, std::move(p));
        }
        text.clear();
        text.reserve(kChunk + kChunk / 8);
        m_text = std::move(text);
    }

    void start_worker() {
        if (m_worker.joinable() || m_alone) return;
        try {
            m_worker = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            m_alone = true;  // no thread to be had (too little memory): all packed here
        }
    }

    static Packed pack(PiecePacker& packer, std::string text) {
        Packed p;
        p.crc = libdeflate_crc32(0, text.data(), text.size());
        packer.piece(text, p.bytes);
        p.text = std::move(text);
        return p;
    }

    // Files a packed chunk and, unless another thread holds the turn, writes every chunk that is
    // next in order. Returns a spare text buffer (empty when there is none).
    std::string deliver(uint64_t seq, Packed packed) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.emplace(seq, std::move(packed));
        if (m_writing) return take_spare();
        m_writing = true;
        while (!m_failure && !m_ready.empty() && m_ready.begin()->first == m_next_write) {
            Packed next = std::move(m_ready.begin()->second);
            m_ready.erase(m_ready.begin());
            lock.unlock();
            try {
                m_zip.write(next.bytes.data(), next.bytes.size());
            } catch (...) {
                lock.lock();
                m_failure = std::current_exception();
                break;
            }
            m_crc =
                static_cast<uint32_t>(crc32_combine(m_crc, next.crc, static_cast<z_off_t>(next.text.size())));
            m_size += next.text.size();
            lock.lock();
            ++m_next_write;
            if (m_spare.size() < kReady) m_spare.push_back(std::move(next.text));
        }
        m_writing = false;
        m_room.notify_all();
        m_wake.notify_all();
        return take_spare();
    }

    // Under the lock.
    std::string take_spare() {
        if (m_spare.empty()) return {};
        std::string s = std::move(m_spare.back());
        m_spare.pop_back();
        return s;
    }

    void run() {
        // Even its packer may fail for want of memory: the save then fails as such, in its thread.
        std::optional<PiecePacker> packer;
        try {
            packer.emplace();
        } catch (...) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_failure) m_failure = std::current_exception();
            m_room.notify_all();
            return;
        }
        for (;;) {
            std::pair<uint64_t, std::string> chunk;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return !m_queue.empty() || m_done || m_stopped || m_failure; });
                if (m_queue.empty() || m_stopped || m_failure) return;
                chunk = std::move(m_queue.front());
                m_queue.pop_front();
            }
            try {
                deliver(chunk.first, pack(*packer, std::move(chunk.second)));
            } catch (...) {
                const std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_failure) m_failure = std::current_exception();
                m_room.notify_all();
                return;
            }
        }
    }

    void stop() {
        if (!m_worker.joinable()) return;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stopped = true;
            m_wake.notify_all();
        }
        m_worker.join();
    }

    ZipWriter& m_zip;
    PiecePacker& m_packer;  // this thread's
    std::string m_text;
    uint64_t m_next_seq = 0;

    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_wake, m_room;
    std::deque<std::pair<uint64_t, std::string>> m_queue;
    std::map<uint64_t, Packed> m_ready;
    std::vector<std::string> m_spare;
    uint64_t m_next_write = 0;
    bool m_writing = false;
    uint32_t m_crc = 0;  // of the chunks written, by the thread that holds the turn
    uint64_t m_size = 0;
    bool m_done = false, m_stopped = false, m_alone = false;
    std::exception_ptr m_failure;
};

void add_part(ZipWriter& zip, PiecePacker& packer, std::string_view name, std::string_view text) {
    std::vector<uint8_t> packed;
    packer.whole(text, packed);
    zip.add(name, packed, libdeflate_crc32(0, text.data(), text.size()), text.size());
}

// ---------------------------------------------------------------------------------------------
// Cell formats as the styles part holds them

enum class Align : uint8_t { None, Left, Center, Right };

// What of a cell format reaches the file: formats that differ only in what the file cannot tell
// apart share one entry.
struct Style {
    bool bold = false;
    int64_t font_rgb = -1;  // -1: the theme's colour
    int64_t fill_rgb = -1;  // -1: no fill
    bool border = false;
    Align align = Align::None;
    std::string number_format;  // empty: General
    bool operator==(const Style&) const = default;
    bool operator<(const Style& o) const {
        return std::tie(bold, font_rgb, fill_rgb, border, align, number_format) <
               std::tie(o.bold, o.font_rgb, o.fill_rgb, o.border, o.align, o.number_format);
    }
};

struct Font {
    bool bold;
    int64_t rgb;
    bool operator<(const Font& o) const { return std::tie(bold, rgb) < std::tie(o.bold, o.rgb); }
};

// The entries of the styles part in the order of their first use, as the library numbers them.
class Styles {
public:
    explicit Styles(const ExcelSession& excel) : m_excel(excel) {
        m_styles.push_back(Style{});
        m_index.emplace(Style{}, 0);
    }

    // The index of a cell format in the file's list of cell formats (0: the default).
    uint32_t index_of(const CellFormat& f) {
        if (f == CellFormat{}) return 0;
        Style s;
        s.bold = f.bold.value_or(false);
        if (f.font_color) {
            const auto v = static_cast<uint32_t>(*f.font_color) & 0xFFFFFF;
            s.font_rgb = ((v & 0xFF) << 16) | (v & 0xFF00) | (v >> 16);
        }
        if (f.fill) {
            const int rgb = palette_rgb(*f.fill);
            if (rgb >= 0) s.fill_rgb = rgb;
        }
        s.border = f.border.value_or(false);
        if (f.halign) {
            switch (*f.halign) {
                case HAlign::Left:
                    s.align = Align::Left;
                    break;
                case HAlign::Center:
                    s.align = Align::Center;
                    break;
                case HAlign::Right:
                    s.align = Align::Right;
                    break;
                case HAlign::General:
                    break;
            }
        }
        if (f.number_format) {
            // The model keeps the locale's notation; the file keeps the invariant one.
            s.number_format = m_cleaner.clean(m_excel.invariant_number_format(*f.number_format), false);
            if (s.number_format.size() > kMaxNumberFormat) s.number_format.resize(kMaxNumberFormat);
        }
        const auto [it, fresh] = m_index.try_emplace(s, static_cast<uint32_t>(m_styles.size()));
        if (fresh) m_styles.push_back(s);
        return it->second;
    }

    std::string xml() const {
        // Number formats, fonts, fills and borders numbered in the order the cell formats use them.
        std::map<std::string, int> number_formats;
        std::vector<const std::string*> number_format_order;
        std::map<Font, int> fonts;
        std::vector<Font> font_order;
        std::map<int64_t, int> fills;
        std::vector<int64_t> fill_order;
        bool border_used = false;
        struct Xf {
            int number_format = 0, font = 0, fill = 0, border = 0;
        };
        std::vector<Xf> xfs;
        for (size_t i = 0; i < m_styles.size(); ++i) {
            const Style& s = m_styles[i];
            Xf x;

            if (!s.number_format.empty()) {
                const auto [it, fresh] = number_formats.try_emplace(
                    s.number_format, 164 + static_cast<int>(number_formats.size()));
                if (fresh) number_format_order.push_back(&it->first);
                x.number_format = it->second;
            }
            const Font font{s.bold, s.font_rgb};
            const auto [font_it, new_font] = fonts.try_emplace(font, static_cast<int>(fonts.size()));
            if (new_font) font_order.push_back(font);
            x.font = font_it->second;
            if (s.fill_rgb >= 0) {
                const auto [fill_it, new_fill] =
                    fills.try_emplace(s.fill_rgb, 2 + static_cast<int>(fills.size()));
                if (new_fill) fill_order.push_back(s.fill_rgb);
                x.fill = fill_it->second;
            }
            if (s.border) {
                border_used = true;
                x.border = 1;
            }
            xfs.push_back(x);
        }

        std::string out(kXmlDeclaration);
        out += "<styleSheet xmlns=\"";
        out += kMainNamespace;
        out += "\">";
        if (!number_format_order.empty()) {
            out += "<numFmts count=\"" + std::to_string(number_format_order.size()) + "\">";
            for (const std::string* code : number_format_order)
                out += "<numFmt numFmtId=\"" + std::to_string(number_formats.at(*code)) + "\" formatCode=\"" +
                       escaped(*code) + "\"/>";
            out += "</numFmts>";
        }
        out += "<fonts count=\"" + std::to_string(font_order.size()) + "\">";
        for (const Font& f : font_order) {
            out += "<font>";
            if (f.bold) out += "<b/>";
            out += "<sz val=\"11\"/>";
            if (f.rgb < 0) {
                out += "<color theme=\"1\"/>";
            } else {
                char rgb[16];
                std::snprintf(rgb, sizeof rgb, "FF%06X", static_cast<unsigned>(f.rgb));
                out += "<color rgb=\"" + std::string(rgb) + "\"/>";
            }
            out += "<name val=\"Calibri\"/><family val=\"2\"/><scheme val=\"minor\"/></font>";
        }
        out += "</fonts><fills count=\"" + std::to_string(2 + fill_order.size()) + "\">";
        out +=
            "<fill><patternFill patternType=\"none\"/></fill><fill><patternFill "
            "patternType=\"gray125\"/></fill>";
        for (const int64_t rgb : fill_order) {
            char text[16];
            std::snprintf(text, sizeof text, "FF%06X", static_cast<unsigned>(rgb));
            out += "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"" + std::string(text) +
                   "\"/><bgColor indexed=\"64\"/></patternFill></fill>";
        }
        out += "</fills><borders count=\"" + std::string(border_used ? "2" : "1") + "\">";
        out += "<border><left/><right/><top/><bottom/><diagonal/></border>";
        if (border_used)
            out +=
                "<border><left style=\"thin\"><color auto=\"1\"/></left><right style=\"thin\"><color "
                "auto=\"1\"/>"
                "</right><top style=\"thin\"><color auto=\"1\"/></top><bottom style=\"thin\"><color "
                "auto=\"1\"/>"
                "</bottom><diagonal/></border>";
        out +=
            "</borders><cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
            "borderId=\"0\"/>"
            "</cellStyleXfs>";
        out += "<cellXfs count=\"" + std::to_string(xfs.size()) + "\">";
        for (size_t i = 0; i < xfs.size(); ++i) {
            const Xf& x = xfs[i];
            const Style& s = m_styles[i];
            out += "<xf numFmtId=\"" + std::to_string(x.number_format) + "\" fontId=\"" +
                   std::to_string(x.font) + "\" fillId=\"" + std::to_string(x.fill) + "\" borderId=\"" +
                   std::to_string(x.border) + "\" xfId=\"0\"";
            if (x.number_format) out += " applyNumberFormat=\"1\"";
            if (x.font) out += " applyFont=\"1\"";
            if (x.fill) out += " applyFill=\"1\"";
            if (x.border) out += " applyBorder=\"1\"";
            if (s.align == Align::None) {
                out += "/>";
                continue;
            }
            out += " applyAlignment=\"1\"><alignment horizontal=\"";
            out += s.align == Align::Left ? "left" : s.align == Align::Center ? "center" : "right";
            out += "\"/></xf>";
        }
        out +=
            "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
            "</cellStyles><dxfs count=\"0\"/><tableStyles count=\"0\" "
            "defaultTableStyle=\"TableStyleMedium9\" "
            "defaultPivotStyle=\"PivotStyleLight16\"/></styleSheet>";
        return out;
    }

private:
    const ExcelSession& m_excel;
    std::vector<Style> m_styles;
    std::map<Style, uint32_t> m_index;
    TextCleaner m_cleaner;
};

// ---------------------------------------------------------------------------------------------
// Worksheets

// A print range of a sheet, as the workbook part names it.
struct DefinedName {
    std::string name;  // "_xlnm.Print_Area"
    int sheet = 0;     // 0-based tab position
    std::string sheet_name, formula;
};

void check_sheet_name(const std::string& name, const std::vector<std::string>& earlier) {
    const bool bad = name.empty() || utf8_length(name) > 31 ||
                     name.find_first_of("[]:*?/\\") != std::string::npos || name.front() == '\'' ||
                     name.back() == '\'' ||
                     std::any_of(earlier.begin(), earlier.end(),
                                 [&](const std::string& other) { return equals_ci(other, name); });
    if (bad) throw InvalidSheetName{name};
}

class SheetPart {
public:
    SheetPart(const Sheet& sheet, bool active, Styles& styles, FormulaEvaluator& eval)
        : m_sheet(sheet), m_active(active), m_styles(styles), m_eval(eval) {}

    // The library numbers the cell formats as it meets them: the cells of each row when the next
    // row begins, so the last row of every sheet only when the workbook is closed; there, sheet
    // after sheet, that row and then the formats of the columns.
    void number_cell_formats() {
        m_held_row = 0;
        for (int32_t row = m_sheet.last_row(); row >= 1 && !m_held_row; --row) {
            if (m_sheet.outline_level(row)) m_held_row = row;
            for (const Sheet::Cell& c : m_sheet.row_cells(row))
                if (written(c)) m_held_row = row;
        }
        for (int32_t row = 1; row < m_held_row; ++row) number_row(row);
    }
    void number_last_row_and_columns() {
        number_row(m_held_row);
        m_cols = columns();
    }

    // Writes the part; returns its number of cells.
    template <class RowWritten>
    int64_t write(PartStream& out, RowWritten&& row_written) {
        const PageSetup& p = m_sheet.page_setup();
        std::string& t = out.text();
        t += kXmlDeclaration;
        t += "<worksheet xmlns=\"";
        t += kMainNamespace;
        t += "\" xmlns:r=\"";
        t += kRelationships;
        t += "\">";
        const bool outline_above = !m_sheet.outline_settings().summary_row_below;
        const bool fit = p.zoom == 0;
        if (outline_above || fit) {
            t += "<sheetPr>";
            if (outline_above) t += "<outlinePr summaryBelow=\"0\"/>";
            if (fit) t += "<pageSetUpPr fitToPage=\"1\"/>";
            t += "</sheetPr>";
        }
        t += "<dimension ref=\"" + dimension() + "\"/>";
        sheet_view(t);
        t += "<sheetFormatPr defaultRowHeight=\"15\"";
        if (m_max_level) t += " outlineLevelRow=\"" + std::to_string(m_max_level) + "\"";
        t += "/>";
        t += m_cols;
        t += "<sheetData>";
        for (int32_t row = 1; row <= m_sheet.last_row(); ++row) {
            write_row(t, row);
            out.chunk_done();
            row_written();
        }
        t += "</sheetData>";
        page(t);
        return m_cells;
    }

private:
    // Whether a cell reaches the file: the library drops a blank cell and an empty text that
    // have no format.
    void number_row(int32_t row) {
        for (const Sheet::Cell& c : m_sheet.row_cells(row))
            if (written(c)) style_of(c);
    }

    bool written(const Sheet::Cell& c) const {
        switch (c.kind) {
            case CellKind::Number:
            case CellKind::Formula:
                return true;
            case CellKind::Empty:
                return c.format != 0;
            case CellKind::Text:
                return !m_sheet.cell_string(c).empty() || c.format != 0 ||
                       !(m_sheet.column_format(c.col) == CellFormat{});
        }
        return false;
    }

    std::string dimension() {
        int32_t row1 = 0, row2 = 0, col1 = m_format_col1, col2 = m_format_col2;
        for (int32_t row = 1; row <= m_sheet.last_row(); ++row) {
            const uint8_t level = std::min<uint8_t>(m_sheet.outline_level(row), 7);
            m_max_level = std::max(m_max_level, level);
            bool any = level > 0;
            for (const Sheet::Cell& c : m_sheet.row_cells(row)) {
                if (!written(c)) continue;
                any = true;
                col1 = col1 ? std::min(col1, c.col) : c.col;
                col2 = std::max(col2, c.col);
            }
            if (any) {
                if (!row1) row1 = row;
                row2 = row;
            }
        }
        if (!row1 && !col1) return "A1";
        if (!row1) return range_name(1, col1, 1, col2);
        if (!col1) return range_name(row1, 1, row2, 1);
        return range_name(row1, col1, row2, col2);
    }

    void sheet_view(std::string& t) const {
        const WindowSettings& w = m_sheet.window();
        t += "<sheetViews><sheetView";
        if (m_active) t += " tabSelected=\"1\"";
        const int zoom = std::clamp(w.zoom, 10, 400);
        if (w.zoom != 100) {
            const std::string z = std::to_string(zoom);
            t += " zoomScale=\"" + z + "\" zoomScaleNormal=\"" + z + "\"";
        }
        t += " workbookViewId=\"0\"";
        const auto [sel_row, sel_col] = m_sheet.selected_cell();
        std::string selected;
        if (sel_row != 1 || sel_col != 1) selected = cell_name(sel_row, sel_col);
        const auto selection = [&selected](std::string_view pane) {
            std::string s = "<selection";
            if (!pane.empty()) s += " pane=\"" + std::string(pane) + "\"";
            if (!selected.empty()) s += " activeCell=\"" + selected + "\" sqref=\"" + selected + "\"";
            return s + "/>";
        };
        if (w.freeze_panes && (w.split_row > 0 || w.split_column > 0)) {
            const int32_t row = std::clamp(w.split_row, 0, kMaxRow - 1);
            const int32_t col = std::clamp(w.split_column, 0, kMaxCol - 1);
            t += ">";
            std::string pane = "<pane";
            if (col) pane += " xSplit=\"" + std::to_string(col) + "\"";
            if (row) pane += " ySplit=\"" + std::to_string(row) + "\"";
            pane += " topLeftCell=\"" + cell_name(row + 1, col + 1) + "\"";
            if (row && col) {
                t += pane + " activePane=\"bottomRight\" state=\"frozen\"/>";
                const std::string right = cell_name(1, col + 1), below = cell_name(row + 1, 1);
                t += "<selection pane=\"topRight\" activeCell=\"" + right + "\" sqref=\"" + right + "\"/>";
                t += "<selection pane=\"bottomLeft\" activeCell=\"" + below + "\" sqref=\"" + below + "\"/>";
                t += selection("bottomRight");
            } else if (col) {
                t += pane + " activePane=\"topRight\" state=\"frozen\"/>" + selection("topRight");
            } else {
                t += pane + " activePane=\"bottomLeft\" state=\"frozen\"/>" + selection("bottomLeft");
            }
            t += "</sheetView></sheetViews>";
        } else if (!selected.empty()) {
            t += ">" + selection("") + "</sheetView></sheetViews>";
        } else {
            t += "/></sheetViews>";
        }
    }

    // Column defaults and widths, runs of equal columns in one entry.
    std::string columns() {
        int32_t last = m_sheet.last_col();
        for (int32_t col = 1; col <= kMaxCol; ++col)
            if (m_sheet.column_width(col) || m_sheet.column_format(col) != CellFormat{})
                last = std::max(last, col);
        std::string out;
        int32_t run_start = 0;
        double run_width = 0;
        uint32_t run_style = 0;
        const CellFormat* run_format = nullptr;
        const auto flush = [&](int32_t run_end) {
            if (run_start == 0) return;
            // A column format widens the used range by its columns, not by rows.
            if (!(*run_format == CellFormat{})) {
                m_format_col1 = m_format_col1 ? std::min(m_format_col1, run_start) : run_start;
                m_format_col2 = std::max(m_format_col2, run_end);
            }
            out += "<col min=\"" + std::to_string(run_start) + "\" max=\"" + std::to_string(run_end) +
                   "\" width=\"" + attribute_number(file_width(run_width)) + "\"";
            if (run_style) out += " style=\"" + std::to_string(run_style) + "\"";
            if (run_width != kDefaultColumnWidth) out += " customWidth=\"1\"";
            out += "/>";
            run_start = 0;
        };
        bool any = false;
        for (int32_t col = 1; col <= last; ++col) {
            const std::optional<double> width = m_sheet.column_width(col);
            const CellFormat& format = m_sheet.column_format(col);
            if (!width && format == CellFormat{}) {
                flush(col - 1);
                continue;
            }
            any = true;
            const double w = width.value_or(kDefaultColumnWidth);
            const uint32_t style = m_styles.index_of(format);
            // Formats the file cannot tell apart still end a run, as the library's do.
            if (run_start != 0 && (w != run_width || !(format == *run_format))) flush(col - 1);
            if (run_start == 0) {
                run_start = col;
                run_width = w;
                run_style = style;
                run_format = &format;
            }
        }
        flush(last);
        return any ? "<cols>" + out + "</cols>" : std::string();
    }

    // A width in characters as the file keeps it: in whole pixels of the default font (7 pixels
    // a digit) with its 5 pixels of padding, in 256ths.
    static double file_width(double width) {
        if (width <= 0) return width;
        constexpr double kDigit = 7.0, kPadding = 5.0;
        if (width < 1)
            return static_cast<uint16_t>(static_cast<uint16_t>(width * (kDigit + kPadding) + 0.5) / kDigit *
                                         256.0) /
                   256.0;
        return static_cast<uint16_t>((static_cast<uint16_t>(width * kDigit + 0.5) + kPadding) / kDigit *
                                     256.0) /
               256.0;
    }

    uint32_t style_of(const Sheet::Cell& c) {
        const uint64_t key = (static_cast<uint64_t>(c.col) << 32) | c.format;
        if (key == m_last_key) return m_last_style;
        auto [it, fresh] = m_cell_styles.try_emplace(key, 0);
        if (fresh) it->second = m_styles.index_of(merged_format(c));
        m_last_key = key;
        m_last_style = it->second;
        return it->second;
    }

    CellFormat merged_format(const Sheet::Cell& c) const {
        return merged(m_sheet.column_format(c.col), m_sheet.format_of(c));
    }

    void write_row(std::string& t, int32_t row) {
        const uint8_t level = std::min<uint8_t>(m_sheet.outline_level(row), 7);
        const auto& cells = m_sheet.row_cells(row);
        bool any = false;
        for (const Sheet::Cell& c : cells) any = any || written(c);
        if (!any && level == 0) return;
        char number[16];
        const std::string_view row_text(
            number, static_cast<size_t>(std::to_chars(number, number + sizeof number, row).ptr - number));
        t += "<row r=\"";
        t += row_text;
        t += '"';
        if (level) {
            t += " outlineLevel=\"";
            t += static_cast<char>('0' + level);
            t += '"';
        }
        if (!any) {
            t += "/>";
            return;
        }
        t += '>';
        for (const Sheet::Cell& c : cells) {
            if (!written(c)) continue;
            ++m_cells;
            t += "<c r=\"";
            t += letters(c.col);
            t += row_text;
            t += '"';
            if (const uint32_t style = style_of(c)) {
                t += " s=\"";
                append_int(t, style);
                t += '"';
            }
            switch (c.kind) {
                case CellKind::Empty:
                    t += "/>";
                    break;
                case CellKind::Number:
                    t += "><v>";
                    append_number(t, c.num);
                    t += "</v></c>";
                    break;
                case CellKind::Text: {
                    const std::string& text = m_cleaner.clean(m_sheet.cell_string(c), true);
                    if (text.empty()) {
                        t += "/>";
                        break;
                    }
                    // Blanks at either end are kept only when the element says so.
                    const auto kept = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\n'; };
                    t += kept(text.front()) || kept(text.back())
                             ? " t=\"inlineStr\"><is><t xml:space=\"preserve\">"
                             : " t=\"inlineStr\"><is><t>";
                    append_cell_text(t, text);
                    t += "</t></is></c>";
                    break;
                }
                case CellKind::Formula: {
                    // Every formula carries its result, so that no viewer has to recalculate.
                    const FormulaResult result = m_eval.evaluate(m_sheet, row, c.col);
                    std::string_view formula = m_cleaner.clean(m_sheet.cell_string(c), false);
                    if (!formula.empty() && formula.front() == '=') formula.remove_prefix(1);
                    if (result.is_error) t += " t=\"str\"";
                    t += "><f>";
                    append_escaped(t, formula, false);
                    t += "</f><v>";
                    if (result.is_error)
                        t += result.error;
                    else
                        append_number(t, result.value);
                    t += "</v></c>";
                    break;
                }
            }
        }
        t += "</row>";
    }

    const std::string& letters(int32_t col) {
        if (m_letters.size() <= static_cast<size_t>(col)) m_letters.resize(static_cast<size_t>(col) + 1);
        std::string& l = m_letters[static_cast<size_t>(col)];
        if (l.empty()) l = column_letters(col);
        return l;
    }

    void page(std::string& t) const {
        const PageSetup& p = m_sheet.page_setup();
        if (p.center_horizontally) t += "<printOptions horizontalCentered=\"1\"/>";
        t += "<pageMargins left=\"" + attribute_number(p.left_margin / kPointsPerInch) + "\" right=\"" +
             attribute_number(p.right_margin / kPointsPerInch) + "\" top=\"" +
             attribute_number(p.top_margin / kPointsPerInch) + "\" bottom=\"" +
             attribute_number(p.bottom_margin / kPointsPerInch) + "\" header=\"" +
             attribute_number(p.header_margin / kPointsPerInch) + "\" footer=\"" +
             attribute_number(p.footer_margin / kPointsPerInch) + "\"/>";
        const bool paper = p.paper_size > 0 && p.paper_size <= 255;
        const int wide = std::clamp(p.fit_to_pages_wide, 0, 32767),
                  tall = std::clamp(p.fit_to_pages_tall, 0, 32767);
        const bool scaled = p.zoom != 0 && p.zoom != 100;
        if (p.orientation == 2 || paper || p.zoom == 0 || scaled) {
            t += "<pageSetup";
            if (paper) t += " paperSize=\"" + std::to_string(p.paper_size) + "\"";
            if (scaled) t += " scale=\"" + std::to_string(std::clamp(p.zoom, 10, 400)) + "\"";
            if (p.zoom == 0 && wide != 1) t += " fitToWidth=\"" + std::to_string(wide) + "\"";
            if (p.zoom == 0 && tall != 1) t += " fitToHeight=\"" + std::to_string(tall) + "\"";
            t += p.orientation == 2 ? " orientation=\"landscape\"/>" : " orientation=\"portrait\"/>";
        }
        const std::string footer = footer_codes(p);
        if (!footer.empty())
            t += "<headerFooter><oddFooter>" + escaped(footer, false) + "</oddFooter></headerFooter>";
        t += "</worksheet>";
    }

    const Sheet& m_sheet;
    bool m_active;
    Styles& m_styles;
    FormulaEvaluator& m_eval;
    std::unordered_map<uint64_t, uint32_t> m_cell_styles;
    uint64_t m_last_key = ~uint64_t{0};
    uint32_t m_last_style = 0;
    std::vector<std::string> m_letters;
    TextCleaner m_cleaner;
    uint8_t m_max_level = 0;
    int64_t m_cells = 0;
    std::string m_cols;
    int32_t m_format_col1 = 0, m_format_col2 = 0;
    int32_t m_held_row = 0;
};

// The print titles and print area of a sheet as defined names.
void print_names(const Sheet& sheet, int index, const std::string& name, std::vector<DefinedName>& out) {
    const PageSetup& p = sheet.page_setup();
    const std::string quoted = quoted_sheet_name(name);
    if (!p.print_title_rows.empty()) {
        const Range r = Range::parse(p.print_title_rows);
        out.push_back({"_xlnm.Print_Titles", index, name,
                       quoted + "!$" + std::to_string(r.row1) + ":$" + std::to_string(r.row2)});
    }
    if (!p.print_area.empty()) {
        const Range r = Range::parse(p.print_area);
        // The whole sheet is no print area at all.
        if (r.row1 == 1 && r.col1 == 1 && r.row2 == kMaxRow && r.col2 == kMaxCol) return;
        std::string area;
        if (r.row1 == 1 && r.row2 == kMaxRow)
            area = "$" + column_letters(r.col1) + ":$" + column_letters(r.col2);
        else if (r.col1 == 1 && r.col2 == kMaxCol)
            area = "$" + std::to_string(r.row1) + ":$" + std::to_string(r.row2);
        else
            area = "$" + column_letters(r.col1) + "$" + std::to_string(r.row1) + ":$" +
                   column_letters(r.col2) + "$" + std::to_string(r.row2);
        out.push_back({"_xlnm.Print_Area", index, name, quoted + "!" + area});
    }
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& ch : out)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return out;
}

std::string workbook_xml(const std::vector<std::string>& names, int active,
                         const std::vector<DefinedName>& defined) {
    std::string out(kXmlDeclaration);
    out += "<workbook xmlns=\"";
    out += kMainNamespace;
    out += "\" xmlns:r=\"";
    out += kRelationships;
    out +=
        "\"><fileVersion appName=\"xl\" lastEdited=\"4\" lowestEdited=\"4\" rupBuild=\"4505\"/>"
        "<workbookPr defaultThemeVersion=\"124226\"/><bookViews><workbookView xWindow=\"240\" yWindow=\"15\" "
        "windowWidth=\"16095\" windowHeight=\"9660\"";
    if (active) out += " activeTab=\"" + std::to_string(active) + "\"";
    out += "/></bookViews><sheets>";
    for (size_t i = 0; i < names.size(); ++i)
        out += "<sheet name=\"" + escaped(names[i]) + "\" sheetId=\"" + std::to_string(i + 1) +
               "\" r:id=\"rId" + std::to_string(i + 1) + "\"/>";
    out += "</sheets>";
    if (!defined.empty()) {
        out += "<definedNames>";
        for (const DefinedName& d : defined)
            out += "<definedName name=\"" + d.name + "\" localSheetId=\"" + std::to_string(d.sheet) + "\">" +
                   escaped(d.formula, false) + "</definedName>";
        out += "</definedNames>";
    }
    out += "<calcPr calcId=\"124519\" fullCalcOnLoad=\"1\"/></workbook>";
    return out;
}

std::string app_xml(const std::string& application, const std::vector<std::string>& names,
                    const std::vector<DefinedName>& defined) {
    std::string out(kXmlDeclaration);
    out +=
        "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
        "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\"><Application>";
    out += escaped(document_text(application), false);
    out +=
        "</Application><DocSecurity>0</DocSecurity><ScaleCrop>false</ScaleCrop><HeadingPairs><vt:vector "
        "size=\"";
    out += defined.empty() ? "2" : "4";
    out +=
        "\" "
        "baseType=\"variant\"><vt:variant><vt:lpstr>Worksheets</vt:lpstr></vt:variant><vt:variant><vt:i4>" +
        std::to_string(names.size()) + "</vt:i4></vt:variant>";
    if (!defined.empty())
        out += "<vt:variant><vt:lpstr>Named Ranges</vt:lpstr></vt:variant><vt:variant><vt:i4>" +
               std::to_string(defined.size()) + "</vt:i4></vt:variant>";
    out += "</vt:vector></HeadingPairs><TitlesOfParts><vt:vector size=\"" +
           std::to_string(names.size() + defined.size()) + "\" baseType=\"lpstr\">";
    for (const std::string& n : names) out += "<vt:lpstr>" + escaped(n, false) + "</vt:lpstr>";
    for (const DefinedName& d : defined)
        out += "<vt:lpstr>" + escaped(quoted_sheet_name(d.sheet_name) + "!" + d.name.substr(6), false) +
               "</vt:lpstr>";
    out +=
        "</vt:vector></TitlesOfParts><Company></Company><LinksUpToDate>false</LinksUpToDate>"
        "<SharedDoc>false</SharedDoc><HyperlinksChanged>false</HyperlinksChanged><AppVersion>12.0000</"
        "AppVersion>"
        "</Properties>";
    return out;
}

std::string core_xml(const DocumentProperties& properties) {
    std::string out(kXmlDeclaration);
    out +=
        "<cp:coreProperties "
        "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
        "xmlns:dcmitype=\"http://purl.org/dc/dcmitype/\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">";
    const std::string title = document_text(properties.title), subject = document_text(properties.subject);
    if (!title.empty()) out += "<dc:title>" + escaped(title, false) + "</dc:title>";
    if (!subject.empty()) out += "<dc:subject>" + escaped(subject, false) + "</dc:subject>";
    // Fixed dates: equal models give byte-equal files.
    out +=
        "<dc:creator></dc:creator><cp:lastModifiedBy></cp:lastModifiedBy>"
        "<dcterms:created xsi:type=\"dcterms:W3CDTF\">2000-01-01T00:00:00Z</dcterms:created>"
        "<dcterms:modified xsi:type=\"dcterms:W3CDTF\">2000-01-01T00:00:00Z</dcterms:modified>"
        "</cp:coreProperties>";
    return out;
}

std::string content_types_xml(size_t sheets) {
    std::string out(kXmlDeclaration);
    out +=
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/docProps/app.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.extended-properties+xml\"/>"
        "<Override PartName=\"/docProps/core.xml\" "
        "ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
        "<Override PartName=\"/xl/styles.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
        "<Override PartName=\"/xl/theme/theme1.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.theme+xml\"/>"
        "<Override PartName=\"/xl/workbook.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
    for (size_t i = 1; i <= sheets; ++i)
        out += "<Override PartName=\"/xl/worksheets/sheet" + std::to_string(i) +
               ".xml\" "
               "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    out += "</Types>";
    return out;
}

std::string relationship(size_t id, std::string_view type, std::string_view target) {
    return "<Relationship Id=\"rId" + std::to_string(id) + "\" Type=\"" + std::string(type) + "\" Target=\"" +
           std::string(target) + "\"/>";
}

std::string workbook_rels_xml(size_t sheets) {
    const std::string base = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    std::string out(kXmlDeclaration);
    out += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (size_t i = 1; i <= sheets; ++i)
        out += relationship(i, base + "worksheet", "worksheets/sheet" + std::to_string(i) + ".xml");
    out += relationship(sheets + 1, base + "theme", "theme/theme1.xml");
    out += relationship(sheets + 2, base + "styles", "styles.xml");
    out += "</Relationships>";
    return out;
}

std::string root_rels_xml() {
    std::string out(kXmlDeclaration);
    out += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    out +=
        relationship(1, "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument",
                     "xl/workbook.xml");
    out += relationship(
        2, "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties",
        "docProps/core.xml");
    out += relationship(
        3, "http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties",
        "docProps/app.xml");
    out += "</Relationships>";
    return out;
}

}  // namespace

ZipExpectation write_package(int fd, const ExcelSession& excel, const Workbook& book, RowProgress rows) {
    const std::vector<Sheet*> sheets = book.sheets_in_tab_order();
    std::vector<std::string> names;
    TextCleaner cleaner;
    for (const Sheet* sheet : sheets) {
        const std::string name = cleaner.clean(sheet->name(), false);
        check_sheet_name(name, names);
        names.push_back(name);
    }
    int active = 0;
    for (size_t i = 0; i < sheets.size(); ++i)
        if (sheets[i] == book.active()) active = static_cast<int>(i);

    std::vector<DefinedName> defined;
    for (size_t i = 0; i < sheets.size(); ++i)
        print_names(*sheets[i], static_cast<int>(i), names[i], defined);
    // Sorted by name, then sheet, as the library orders them.
    std::stable_sort(defined.begin(), defined.end(), [](const DefinedName& a, const DefinedName& b) {
        const std::string an = lower(a.name.substr(6)), bn = lower(b.name.substr(6));
        if (an != bn) return an < bn;
        return lower(a.sheet_name) < lower(b.sheet_name);
    });

    ZipExpectation expected;
    ZipWriter zip(fd);
    PiecePacker packer;
    Styles styles(excel);
    FormulaEvaluator eval(book);
    size_t formula_cells = 0;
    int64_t rows_total = 0, rows_written = 0;
    for (const Sheet* sheet : sheets) {
        rows_total += sheet->last_row();
        for (int32_t row = 1; row <= sheet->last_row(); ++row)
            for (const Sheet::Cell& c : sheet->row_cells(row)) formula_cells += c.kind == CellKind::Formula;
    }
    eval.reserve(formula_cells);
    const auto row_written = [&] { rows(++rows_written, rows_total); };
    std::vector<std::unique_ptr<SheetPart>> parts;
    for (size_t i = 0; i < sheets.size(); ++i)
        parts.push_back(std::make_unique<SheetPart>(*sheets[i], static_cast<int>(i) == active, styles, eval));
    for (auto& part : parts) part->number_cell_formats();
    for (auto& part : parts) part->number_last_row_and_columns();
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string name = "xl/worksheets/sheet" + std::to_string(i + 1) + ".xml";
        PartStream stream(zip, packer, name);
        expected.parts[name] = parts[i]->write(stream, row_written);
        stream.finish();
    }
    add_part(zip, packer, "xl/workbook.xml", workbook_xml(names, active, defined));
    add_part(zip, packer, "docProps/app.xml", app_xml(book.properties().application, names, defined));
    add_part(zip, packer, "docProps/core.xml", core_xml(book.properties()));
    add_part(zip, packer, "xl/theme/theme1.xml", kThemeXml);
    add_part(zip, packer, "xl/styles.xml", styles.xml());
    add_part(zip, packer, "[Content_Types].xml", content_types_xml(sheets.size()));
    add_part(zip, packer, "xl/_rels/workbook.xml.rels", workbook_rels_xml(sheets.size()));
    add_part(zip, packer, "_rels/.rels", root_rels_xml());
    zip.finish();
    for (const char* part :
         {"[Content_Types].xml", "_rels/.rels", "docProps/app.xml", "docProps/core.xml", "xl/workbook.xml",
          "xl/_rels/workbook.xml.rels", "xl/styles.xml", "xl/theme/theme1.xml"})
        expected.parts[part] = -1;
    return expected;
}

}  // namespace workbook::xlsx
