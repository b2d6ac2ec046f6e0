// SPDX-License-Identifier: MIT
// Additional texts, main notes and the notes of the ranges.
#include <algorithm>

#include "gaeb2000/reader.h"
#include "gaeb2000/rtf_to_text.h"
#include "gaeb2000/text_ops.h"
#include "workbook/errors.h"
#include "workbook/guarded.h"
#include "workbook/text.h"

namespace gaeb2000 {

using workbook::guarded;

namespace {

// The text from the cut key on, without the key, without the first "[end]" (when the text holds
// it in small letters), its tabs blanks.
std::string cut_note(std::string text, std::string_view cut_key) {
    if (const size_t at = find_key(text, cut_key); at != std::string::npos)
        text = DeleteLineKey(cut_key, std::string_view(text).substr(at));
    if (text.find("[end]") != std::string::npos) text = DeleteLineKey("[end]", text);
    return tabs_to_blanks(text);
}

// The plain text of a note, as it goes into cells.
std::string note_text(std::string text, std::string_view cut_key) {
    return cell_text(RTFtoText(cut_note(std::move(text), cut_key)));
}

bool block_line(std::string_view l) {
    return holds_key(l, "#begin[") || holds_key(l, "#end[");
}

}  // namespace

void Reader::Zusatztext() {
    while (true) {
        m_st.RTFMemo3.clear();
        std::string text, title;
        if (m_st.StringList1.empty()) return;
        const int64_t b = FindeBereich("#begin[ZusText]");
        if (b == -1) return;
        const int64_t e = m_st.StringList1.find("#end[ZusText]", b + 1);
        const int64_t z = FindeBereich("#begin[LV]");
        const bool written = e != -1 && b < e && e < z;
        if (written) {
            at(m_st.StringList1.line(b));
            constexpr std::string_view kFailed = "GAEB2000-Modul, Zusatztext\n\n";
            const bool assembled = guarded(m_r, kFailed, [&] {
                for (int64_t i = b; i <= e; ++i) {
                    guarded(m_r, kFailed, [&] {
                        const std::string_view l = m_st.StringList1.line(i);
                        if (holds_key(l, "[Text]")) {
                            int64_t last = i;
                            title = cell_text(key_text(m_st.StringList1, i, "[Text]", 0, &last)) + "\r\n";
                            i = std::min(last, e);
                        } else if (!block_line(l) && !l.empty()) {
                            text.append(l);
                            text.append("\r\n");
                        }
                    });
                }
                m_st.RTFMemo3.assign(title + note_text(std::move(text), "[TextRTF]"));
            });
            m_r.sink.notes_begin({});
            if (assembled) {
                guarded(m_r, "GAEB2k-Haupthinweistext\n\n", [&] {
                    report_notes(m_st.RTFMemo3);
                    m_r.run.process_events();
                });
            }
            guarded(m_r, "GAEB2k-Modul\n\nFehler beim Löschen des Bereichs in StringList1\n\n", [&] {
                m_st.StringList1.erase(b, e);
                progress_to_remaining();
            });
        } else {
            m_r.sink.notes_begin({});
        }
        m_r.sink.notes_end();
        if (!written) return;
    }
}

void Reader::HauptHinweistext() {
    while (true) {
        m_st.RTFMemo3.clear();
        std::string text;
        if (m_st.StringList1.empty()) return;
        const int64_t b = FindeBereich("#begin[Hinweis]");
        if (b == -1) return;
        const int64_t e = m_st.StringList1.find("#end[Hinweis]", b + 1);
        const int64_t z = FindeBereich("#begin[LVBereich]");
        const bool written = e != -1 && b < e && e < z;
        m_r.sink.notes_begin({});
        if (written) {
            at(m_st.StringList1.line(b));
            guarded(m_r, "GAEB2k-Haupthinweistext\n\n", [&] {
                for (int64_t i = b; i <= e; ++i) {
                    const std::string_view l = m_st.StringList1.line(i);
                    if (block_line(l) || holds_key(l, "[Kurztext]") || holds_key(l, "[StLNr]") || l.empty())
                        continue;
                    text.append(l);
                    text.append("\r\n");
                }
                m_st.RTFMemo3.assign(note_text(std::move(text), "[Langtext]"));
            });
            guarded(m_r, "GAEB2k-Haupthinweistext\n\n", [&] {
                report_notes(m_st.RTFMemo3);
                m_r.run.process_events();
            });
            guarded(
                [&] {
                    m_st.StringList1.erase(b, e);
                    progress_to_remaining();
                },
                [&](const std::exception&) {
                    m_r.fault("GAEB2k-Modul\n\nFehler beim Löschen des Bereichs in StringList1");
                });
        }
        m_r.sink.notes_end();
        if (!written) return;
    }
}

// Each block is one note of the range; its lines as the file's notes are cut into lines (CR LF,
// LF or CR each end one).
void Reader::Hinweistext() {
    const auto notes = [&] {
        while (true) {
            m_st.RTFMemo3.clear();
            std::string text;
            if (m_st.StringList2.empty()) return;
            const int64_t b = FindeBereichStringList2("#begin[Hinweis]");
            const int64_t e = FindeBereichStringList2("#end[Hinweis]");
            if (b == -1 || e == -1 || e <= b) return;
            at(m_st.StringList2.line(b));
            guarded(
                [&] {
                    for (int64_t i = b; i <= e; ++i) {
                        const std::string_view l = m_st.StringList2.line(i);
                        if (block_line(l) || holds_key(l, "[Kurztext]") || holds_key(l, "[StLNr]")) continue;
                        text.append(l);
                        text.append("\r\n");
                    }
                    m_st.RTFMemo3.assign(plain_text(note_text(std::move(text), "[Langtext]")));
                    m_r.sink.notes_begin({});
                    report_notes(m_st.RTFMemo3);
                    m_r.sink.notes_end();
                },
                [&](const std::exception&) {
                    m_r.fault("GAEB2k-Modul\nFehler beim Sammeln des Hinweistextes");
                });
            guarded(
                [&] {
                    m_st.StringList2.erase(b, e);
                    m_r.run.progress_step(e - b);
                },
                [&](const std::exception&) {
                    m_r.fault("GAEB2k-Modul\nFehler beim Löschen des Hinweistextes in StringList2");
                });
        }
    };
    guarded(m_r, "Verarbeitungsfehler auf Hinweistext-Ebene, " + m_st.range_heading + "\n\n", notes);
}

}  // namespace gaeb2000
