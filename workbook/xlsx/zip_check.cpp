// SPDX-License-Identifier: MIT
#include "workbook/xlsx/zip_check.h"

#include <fcntl.h>
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

#include "workbook/xlsx/positioned_file.h"

namespace workbook::xlsx {

namespace {

constexpr size_t kChunk = size_t{1} << 16;
constexpr uint32_t kEndOfDirectory = 0x06054b50;
constexpr uint32_t kDirectoryEntry = 0x02014b50;
constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr uint16_t kDeflated = 8;

uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Follows the element nesting of an XML part fed in pieces: enough to tell a complete part from
// one that was cut short or lost a stretch in the middle. Counts the <c> (cell) elements.
class XmlScanner {
public:
    void feed(const char* data, size_t n) {
        for (size_t i = 0; i < n && m_fault.empty();) {
            i = skip(data, i, n);
            if (i < n) step(data[i++]);
        }
    }
    bool complete() const { return m_fault.empty() && m_root_closed && m_stack.empty(); }
    int64_t cells() const { return m_cells; }
    std::string fault() const {
        if (!m_fault.empty()) return m_fault;
        if (!m_root_closed)
            return m_stack.empty() ? "kein Wurzelelement"
                                   : "bricht in <" + std::string(m_stack.top()) + "> ab";
        return {};
    }

private:
    enum class State { Text, Open, Name, InTag, Value, EmptyEnd, CloseName, Instruction, Declaration };

    static bool is_space(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; }

    // The bytes that mean something inside a tag.
    static constexpr std::array<bool, 256> kTagStops = [] {
        std::array<bool, 256> stops{};
        for (const char ch : {'"', '\'', '/', '>', '<', '\0'}) stops[static_cast<unsigned char>(ch)] = true;
        return stops;
    }();

    // Past the bytes from `i` on that change nothing in the current state but the name being
    // read: text inside the root element up to the next '<', the inside of a tag up to a quote,
    // '/' or '>', an attribute's value up to its closing quote, a name up to its end. A null byte
    // always stops, so that it is reported.
    size_t skip(const char* data, size_t i, size_t n) {
        switch (m_state) {
            case State::Text: {
                if (m_stack.empty() || m_root_closed) return i;
                const auto* open = static_cast<const char*>(std::memchr(data + i, '<', n - i));
                const size_t end = open ? static_cast<size_t>(open - data) : n;
                const auto* nul = static_cast<const char*>(std::memchr(data + i, '\0', end - i));
                return nul ? static_cast<size_t>(nul - data) : end;
            }
            case State::InTag:
                while (i < n && !kTagStops[static_cast<unsigned char>(data[i])]) ++i;
                return i;
            case State::Value:
                while (i < n && data[i] != m_quote && data[i] != '<' && data[i] != '\0') ++i;
                return i;
            case State::Name:
            case State::CloseName: {
                const size_t start = i;
                const bool close = m_state == State::CloseName;
                while (i < n && data[i] != '>' && data[i] != '<' && data[i] != '\0' &&
                       (close || (data[i] != '/' && !is_space(data[i]))) &&
                       m_name.size() + (i - start) <= 256)
                    ++i;
                m_name.append(data + start, i - start);
                return i;
            }
            default:
                return i;
        }
    }

    void open_element() {
        if (m_root_closed) return fail("zweites Wurzelelement");
        if (m_stack.size() > 256) return fail("zu tief geschachtelt");
        if (m_name == "c") ++m_cells;
        m_stack.push(m_name);
    }
    void close_element() {
        m_stack.pop();
        if (m_stack.empty()) m_root_closed = true;
    }
    void fail(std::string what) { m_fault = std::move(what); }

    void step(char ch) {
        if (ch == '\0') return fail("Nullbyte");
        switch (m_state) {
            case State::Text:
                if (ch == '<')
                    m_state = State::Open;
                else if ((m_root_closed || m_stack.empty()) && !is_space(ch))
                    fail("Text außerhalb des Wurzelelements");
                break;
            case State::Open:
                m_name.clear();
                if (ch == '?') {
                    m_state = State::Instruction;
                    m_previous = 0;
                } else if (ch == '!') {
                    m_state = State::Declaration;
                } else if (ch == '/') {
                    if (m_stack.empty()) return fail("schließendes Element ohne öffnendes");
                    m_state = State::CloseName;
                } else if (is_space(ch) || ch == '>' || ch == '<' || ch == '=') {
                    fail("ungültiger Elementname");
                } else {
                    m_name.push_back(ch);
                    m_state = State::Name;
                }
                break;
            case State::Name:
                if (is_space(ch) || ch == '/' || ch == '>') {
                    open_element();
                    m_state = ch == '/' ? State::EmptyEnd : ch == '>' ? State::Text : State::InTag;
                } else if (ch == '<' || m_name.size() > 256) {
                    fail("ungültiger Elementname");
                } else {
                    m_name.push_back(ch);
                }
                break;
            case State::InTag:
                if (ch == '"' || ch == '\'') {
                    m_quote = ch;
                    m_state = State::Value;
                } else if (ch == '/') {
                    m_state = State::EmptyEnd;
                } else if (ch == '>') {
                    m_state = State::Text;
                } else if (ch == '<') {
                    fail("'<' in einem Element");
                }
                break;
            case State::Value:
                if (ch == m_quote)
                    m_state = State::InTag;
                else if (ch == '<')
                    fail("'<' in einem Attribut");
                break;
            case State::EmptyEnd:
                if (ch != '>') return fail("'/' ohne '>'");
                close_element();
                m_state = State::Text;
                break;
            case State::CloseName:
                if (ch == '>') {
                    while (!m_name.empty() && is_space(m_name.back())) m_name.pop_back();
                    if (m_name != m_stack.top())
                        return fail("</" + m_name + "> schließt <" + std::string(m_stack.top()) + ">");
                    close_element();
                    m_state = State::Text;
                } else if (ch == '<' || m_name.size() > 256) {
                    fail("ungültiges schließendes Element");
                } else {
                    m_name.push_back(ch);
                }
                break;
            case State::Instruction:
                if (ch == '>' && m_previous == '?') m_state = State::Text;
                m_previous = ch;
                break;
            case State::Declaration:
                if (ch == '>') m_state = State::Text;
                break;
        }
    }

    State m_state = State::Text;
    // The names of the open elements, one after the other in one string: no allocation for the
    // millions of elements of a large sheet.
    class NameStack {
    public:
        void push(std::string_view name) {
            m_starts.push_back(m_names.size());
            m_names += name;
        }
        void pop() {
            m_names.resize(m_starts.back());
            m_starts.pop_back();
        }
        std::string_view top() const { return std::string_view(m_names).substr(m_starts.back()); }
        bool empty() const { return m_starts.empty(); }
        size_t size() const { return m_starts.size(); }

    private:
        std::string m_names;
        std::vector<size_t> m_starts;
    };
    NameStack m_stack;
    std::string m_name;
    char m_quote = 0, m_previous = 0;
    bool m_root_closed = false;
    int64_t m_cells = 0;
    std::string m_fault;
};

bool is_xml_part(std::string_view name) {
    return name.ends_with(".xml") || name.ends_with(".rels");
}

struct Entry {
    std::string name;
    uint16_t flags = 0, method = 0;
    uint32_t crc = 0;
    uint64_t packed = 0, size = 0, header = 0;
};

// Bytes of packed data read, for whoever shows the progress.
struct ReadMeter {
    const ZipProgress* progress = nullptr;
    uint64_t done = 0, total = 0;
    void add(size_t n) {
        done += n;
        if (progress) (*progress)(done, total);
    }
};

// Inflates (or copies) one part, checks its CRC and size and scans it when it is XML.
std::string check_entry(const PositionedFile& file, const Entry& e, uint64_t directory, int& read_error,
                        int64_t& cells, ReadMeter& meter) {
    unsigned char local[30];
    if (!file.read(e.header, local, sizeof local)) {
        read_error = errno;
        return "lokaler Kopf fehlt";
    }
    if (le32(local) != kLocalHeader) return "lokaler Kopf beschädigt";
    uint64_t offset = e.header + 30 + le16(local + 26) + le16(local + 28);
    if (offset + e.packed > directory) return "Daten reichen in das Verzeichnis";
    if (e.flags & 1) return "verschlüsselt";
    if (e.method != 0 && e.method != kDeflated) return "unbekannte Kompression";

    XmlScanner scanner;
    const bool xml = is_xml_part(e.name);
    uint32_t crc = 0;
    uint64_t size = 0;
    auto take = [&](const unsigned char* data, size_t n) {
        crc = libdeflate_crc32(crc, data, n);
        size += n;
        if (xml) scanner.feed(reinterpret_cast<const char*>(data), n);
    };

    std::vector<unsigned char> in(kChunk), out(kChunk);
    uint64_t left = e.packed;
    if (e.method == 0) {
        while (left > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
            if (!file.read(offset, in.data(), n)) {
                read_error = errno;
                return "Daten fehlen";
            }
            take(in.data(), n);
            meter.add(n);
            offset += n;
            left -= n;
        }
    } else {
        // ISA-L's inflate: the same stream read at twice zlib's pace.
        const auto state = std::make_unique<inflate_state>();
        isal_inflate_init(state.get());
        state->crc_flag = ISAL_DEFLATE;
        int status = ISAL_DECOMP_OK;
        bool ended = false;
        while (!ended) {
            if (state->avail_in == 0) {
                if (left == 0) break;
                const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
                if (!file.read(offset, in.data(), n)) {
                    read_error = errno;
                    break;
                }
                meter.add(n);
                offset += n;
                left -= n;
                state->next_in = in.data();
                state->avail_in = static_cast<uint32_t>(n);
            }
            state->next_out = out.data();
            state->avail_out = static_cast<uint32_t>(out.size());
            status = isal_inflate(state.get());
            take(out.data(), out.size() - state->avail_out);
            if (status < 0) break;
            ended = state->block_state == ISAL_BLOCK_FINISH;
        }
        ended = ended && state->avail_in == 0 && left == 0;
        if (read_error) return "Daten fehlen";
        if (!ended) return "Kompression unvollständig";
    }
    if (crc != e.crc) return "Prüfsumme falsch";
    if (size != e.size) return "Größe falsch";
    if (xml) {
        if (size == 0) return "leer";
        if (!scanner.complete()) return scanner.fault();
        cells = scanner.cells();
    }
    return {};
}

}  // namespace

namespace {

ZipCheck check(const std::filesystem::path& path, const ZipExpectation& expected,
               const ZipProgress* progress) {
    ZipCheck result;
    auto fault = [&](std::string what) {
        result.fault = std::move(what);
        return result;
    };
    const PositionedFile file(path, O_RDONLY);
    if (!file.is_open()) {
        result.read_error = errno;
        return fault("nicht lesbar");
    }
    const int64_t file_size = file.size();
    if (file_size < 22) return fault("zu kurz für ein Zip-Archiv");

    // The end record is the last 22 bytes unless a comment (at most 65535 bytes) follows it.
    const uint64_t tail_size = static_cast<uint64_t>(std::min<int64_t>(file_size, 22 + 65535));
    std::vector<unsigned char> tail(tail_size);
    const uint64_t tail_start = static_cast<uint64_t>(file_size) - tail_size;
    if (!file.read(tail_start, tail.data(), tail.size())) {
        result.read_error = errno;
        return fault("Ende nicht lesbar");
    }
    size_t end = tail.size() - 22 + 1;
    while (end-- > 0)
        if (le32(&tail[end]) == kEndOfDirectory && end + 22 + le16(&tail[end + 20]) == tail.size()) break;
    if (end == static_cast<size_t>(-1)) return fault("kein Zip-Verzeichnis");
    const unsigned char* eocd = &tail[end];
    const uint16_t entries = le16(eocd + 10);
    const uint32_t directory_size = le32(eocd + 12), directory = le32(eocd + 16);
    if (le16(eocd + 4) != 0 || le16(eocd + 6) != 0 || le16(eocd + 8) != entries)
        return fault("mehrteiliges Archiv");
    if (uint64_t{directory} + directory_size > tail_start + end)
        return fault("Verzeichnis außerhalb der Datei");

    std::vector<unsigned char> dir(directory_size);
    if (!file.read(directory, dir.data(), dir.size())) {
        result.read_error = errno;
        return fault("Verzeichnis nicht lesbar");
    }
    std::set<std::string> seen;
    ReadMeter meter{progress, 0, directory};
    size_t at = 0;
    for (uint16_t i = 0; i < entries; ++i) {
        if (at + 46 > dir.size() || le32(&dir[at]) != kDirectoryEntry) return fault("Verzeichnis beschädigt");
        const unsigned char* p = &dir[at];
        Entry e;
        e.flags = le16(p + 8);
        e.method = le16(p + 10);
        e.crc = le32(p + 16);
        e.packed = le32(p + 20);
        e.size = le32(p + 24);
        const size_t name_length = le16(p + 28), extra = le16(p + 30), comment = le16(p + 32);
        e.header = le32(p + 42);
        if (at + 46 + name_length + extra + comment > dir.size()) return fault("Verzeichnis beschädigt");
        e.name.assign(reinterpret_cast<const char*>(p + 46), name_length);
        at += 46 + name_length + extra + comment;

        int64_t cells = -1;
        const std::string problem = check_entry(file, e, directory, result.read_error, cells, meter);
        if (!problem.empty()) return fault(e.name + ": " + problem);
        const auto wanted = expected.parts.find(e.name);
        if (wanted != expected.parts.end() && wanted->second >= 0 && wanted->second != cells)
            return fault(e.name + ": " + std::to_string(cells) + " statt " + std::to_string(wanted->second) +
                         " Zellen");
        seen.insert(e.name);
    }
    for (const auto& [name, cells] : expected.parts)
        if (!seen.count(name)) return fault(name + " fehlt");
    result.ok = true;
    return result;
}

}  // namespace

ZipCheck check_zip(const std::filesystem::path& path, const ZipExpectation& expected) {
    return check(path, expected, nullptr);
}

ZipCheck check_zip(const std::filesystem::path& path, const ZipExpectation& expected, ZipProgress progress) {
    return check(path, expected, &progress);
}

}  // namespace workbook::xlsx
