// SPDX-License-Identifier: MIT
// Entry of the GAEB DA XML reader: sheets, open check, document, root, OZ mask, exchange phase,
// header block, then the notes and the range walk, and the finishing pass.
#include <fmt/format.h>

#include <cmath>
#include <fstream>

#include "gaebxml/gaebxml.h"
#include "gaebxml/reader.h"
#include "workbook/finish.h"
#include "workbook/guarded.h"
#include "workbook/layout.h"
#include "workbook/numbers.h"
#include "workbook/run_end.h"

namespace gaebxml {

using workbook::guarded;
using workbook::RunEnd;

namespace {

// The bill's total as the file declares it (BoQInfo/Totals/Total).
std::optional<double> declared_total(Node root) {
    const Node totals = child_path(root, {"Award", "BoQ", "BoQInfo", "Totals", "Total"});
    const auto value = workbook::parse_decimal(workbook::trim_ctl(inline_text(totals)));
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
}

// What a file cut off is, in plain words, and what to do.
std::string ends_early_text(const DomParseError& e) {
    const std::string where = e.line() > 0 ? e.column() > 0
                                                 ? fmt::format(" (Zeile {}, Spalte {})", e.line(), e.column())
                                                 : fmt::format(" (Zeile {})", e.line())
                                           : std::string();
    return "Die Datei endet zu früh" + where +
           ": sie ist unvollständig, etwa weil das Speichern oder die Übertragung abgebrochen wurde. Bitte "
           "die Datei noch einmal vollständig exportieren oder übertragen.";
}

// The open check: the file exists and its bytes can be read.
bool readable(const std::filesystem::path& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.peek();
    return !in.bad();
}

}  // namespace

std::string exchange_phase(Node root) {
    Node dp = child_path(root, {"Award", "DP"});
    // An invoice and the like keep the phase in their own part of the document.
    for (Node part = root.first_child(); !dp && part; part = part.next_sibling())
        dp = ChildElement(part, "DP");
    return std::string(workbook::trim_ctl(inline_text(dp)));
}

bool accepted_phase(std::string_view phase) {
    return phase == "80" || phase == "81" || phase == "82" || phase == "83" || phase == "84" || phase == "86";
}

bool known_unconverted_phase(std::string_view phase) {
    if (accepted_phase(phase)) return false;
    if (phase.size() < 2 || phase[0] != '8' || phase[1] < '5' || phase[1] > '9') return false;
    for (const char c : phase.substr(2))
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
    return true;
}

// A document this reader does not convert: nothing is written, the program ends.
void XmlReader::refuse(std::string_view text) {
    workbook::release_application(m_c, false);
    m_c.ui.progress_finish();
    m_c.ui.busy_cursor(false);
    m_c.ui.error_dialog(text);
    m_c.ui.unlock_controls();
    m_c.end_program(RunEnd::Refused);
}

std::string XmlReader::funcOZMaske(Node root) {
    std::string mask;
    for (Node node = child_path(root, {"Award", "BoQ", "BoQInfo", "BoQBkdn"});
         node && node_name(node) == "BoQBkdn"; node = NextSibling(node)) {
        const auto length = ChildText(node, "Length");
        if (!length) continue;
        // Only the first characters of the mask are kept; more entries still set the lengths.
        if (mask.size() < 4 * kOzMaskCapacity) mask += workbook::utf8_prefix(*length, kOzMaskCapacity);
        const std::string_view type = require_text(ChildText(node, "Type"), "Type");
        if (workbook::equals_ci(type, "ITEM")) m_st.ItemLength = *length;
        if (workbook::equals_ci(type, "INDEX")) m_st.IndexLength = *length;
    }
    return mask;
}

// The digit counts of item and index numbers. A length that is no usable number is reported
// once, and the numbers are then taken as the file writes them.
void XmlReader::item_lengths() {
    const auto digits = [&](const std::string& length, const char* what) {
        int n = 0;
        if (length.empty()) return n;
        guarded([&] { n = length_number(length); },
                [&](const std::exception&) {
                    m_c.ui.message(
                        fmt::format("Die Stellenzahl \"{}\" der {} in der OZ-Maske ist ungültig; die Nummern "
                                    "werden so übernommen, wie sie in der Datei stehen.",
                                    workbook::utf8_prefix(length, 40), what));
                });
        return n;
    };
    m_st.item_digits = digits(m_st.ItemLength, "Positionsnummer");
    m_st.index_digits = digits(m_st.IndexLength, "Indexnummer");
}

void XmlReader::Kopfdaten(Node root) {
    std::string project, project_label, boq_label, client;
    guarded(m_c, "XML-Modul, Fehler bei der Ermittlung von Kopfdaten\n\n", [&] {
        const Node prj = ChildElement(root, "PrjInfo");
        project = ChildText(prj, "NamePrj").value_or("");
        project_label = ChildText(prj, "LblPrj").value_or("");
        boq_label = ChildText(child_path(root, {"Award", "BoQ", "BoQInfo"}), "LblBoQ").value_or("");
        client = ChildText(child_path(root, {"Award", "OWN", "Address"}), "Name1").value_or("");
    });
    guarded(m_c, "XML-Modul, Fehler bei der Formatierung von Kopfdaten\n\n", [&] {
        workbook::WriteHeaderBlock(m_c, 1, "Projektname:", project);
        workbook::WriteHeaderBlock(m_c, 2, "Projektbezeichnung:", project_label);
        workbook::WriteHeaderBlock(m_c, 3, "LV-Bezeichnung:", boq_label);
        workbook::WriteHeaderBlock(m_c, 4, "Auftraggeber:", client);
        workbook::WriteHeaderBlock(m_c, 5, "OZ-Maske:", m_st.OzMask);
        m_st.MaskLength = static_cast<int>(workbook::utf8_length(m_st.OzMask));
        workbook::WriteColumnHeaderRow(m_c, m_rows);
    });
}

void XmlReader::XML_start() {
    m_st = XmlReaderState{};
    m_rows = workbook::SheetRows{};
    const std::string file = m_c.file_name.string();
    bool broken = false;

    const bool loaded = guarded(
        [&] { m_doc.load_file(m_c.file_name); },
        [&](const std::exception& e) {
            m_c.ui.busy_cursor(false);
            workbook::release_application(m_c);
            m_c.ui.process_events();
            std::string text = "GAEB XML, Prozedur \"LoadFromFile\"\n" + workbook::step_report(m_c.place, e);
            if (const auto* parse = dynamic_cast<const DomParseError*>(&e); parse && parse->ends_early())
                text += "\n" + ends_early_text(*parse);
            m_c.ui.message(text);
            m_c.end_program(RunEnd::Refused);
        });
    if (!loaded) return;

    const Node root = m_doc.root();
    // A document of another kind is refused, not converted into an empty workbook.
    if (workbook::to_upper_ascii(node_name(root)) != "GAEB") {
        refuse(fmt::format(
            "--- GAEB XML ---\nDie Datei {} ist keine GAEB-XML-Datei:\nihr Wurzelelement heißt \"{}\", "
            "nicht \"GAEB\".\nProgrammabbruch.",
            file, workbook::utf8_prefix(node_name(root), 100)));
        return;
    }

    const auto convert = [&] {
        m_st.OzMask = workbook::utf8_prefix(funcOZMaske(root), kOzMaskCapacity);
        m_st.Phase = workbook::utf8_prefix(exchange_phase(root), kPhaseCapacity);
        m_c.exchange_phase = m_st.Phase;
        if (known_unconverted_phase(m_st.Phase)) {
            refuse("--- GAEB XML ---\nDie Austauschphase " + m_st.Phase + " von " + file +
                   " wird nicht unterstützt!\nProgrammabbruch.");
            return;
        }
        if (!accepted_phase(m_st.Phase)) {
            refuse("--- GAEB XML ---\nKann die Austauschphase von " + file + " nicht ermitteln!" + "\n" +
                   "Programmabbruch.");
            return;
        }
        m_st.bid = m_st.Phase == "84" || m_st.Phase == "86";
        m_c.declared_total = declared_total(root);
        workbook::PreparePositionsSheet(m_c);
        m_c.ui.busy_cursor(true);
        m_c.ui.elapsed_resume();

        Kopfdaten(root);
        item_lengths();
        bid_info(root);

        const Node body = child_path(root, {"Award", "BoQ", "BoQBody"});
        if (m_c.options.ExportNotesText) {
            guarded([&] { bill_notes(root, body); },
                    [&](const std::exception&) {
                        m_c.ui.message("XML-Modul/XML_Start\nFehler beim Export des Haupthinweistextes");
                    });
        }
        guarded([&] { Hauptteil(body); },
                [&](const std::exception&) {
                    m_c.ui.message("XML-Modul/XML_Start\nFehler bei der Verarbeitung des Hauptteils");
                });
        if (!m_total_differences.empty()) {
            std::string text = "Die Summen der Arbeitsmappe weichen von den Summen der Datei ab:";
            for (const std::string& line : m_total_differences) text += "\n" + line;
            text +=
                "\nNachlässe, Zuschläge und Alternativen, die die Datei einrechnet, erklären solche "
                "Abweichungen.";
            m_c.ui.message(text);
        }
    };
    // A full sheet leaves from here to the entry point, which ends the run.
    guarded(convert, [&](const std::exception&) {
        m_c.ui.message("Es ist keine GAEB-XML-Datei\nVorgang abgebrochen");
        broken = true;
    });
    // A refused document has ended the run: nothing is formatted.
    if (m_c.ended()) return;

    workbook::FinishWorkbook(m_c, m_rows, workbook::FinishInfo{m_st.MaskLength});
    // The workbook is tidied and saved, but a run that was told "Vorgang abgebrochen" did not
    // complete: it must not end as a success.
    if (broken) m_c.end = RunEnd::Aborted;
}

namespace {

void start(workbook::Conversion& c) {
    if (!workbook::create_sheets_or_end(c, "XML-Start\n\n", RunEnd::Refused,
                                        [&] { workbook::create_positions_sheet(c); }))
        return;
    if (!workbook::create_sheets_or_end(c, "", RunEnd::Refused,
                                        [&] { workbook::create_auxiliary_sheets(c); }))
        return;

    if (!readable(c.file_name)) {
        workbook::release_application(c);
        c.ui.message("--- GAEB XML ---\nKann die Datei " + c.file_name.string() + " nicht öffnen.");
        c.end_program(RunEnd::Refused);
        return;
    }

    XmlReader reader(c);
    reader.XML_start();
}

}  // namespace

void gaebxml_start(workbook::Conversion& c) {
    // Nothing the steps leave uncaught should get here; if it does, the run ends tidily.
    workbook::run_reader(
        c, [&] { start(c); },
        [&](const std::exception& e) {
            c.ui.message("XML-Modul\n\n" + workbook::step_report(e));
            if (!c.ended()) {
                if (c.excel.connected()) workbook::FormatNachFehler(c);
                c.end_program(RunEnd::Aborted);
            }
        });
}

}  // namespace gaebxml
