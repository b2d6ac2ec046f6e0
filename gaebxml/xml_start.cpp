// SPDX-License-Identifier: MIT
// Entry of the GAEB DA XML reader: sheets, open check, document, root, OZ mask, exchange phase,
// header block, then the notes and the range walk, and the finishing pass.
#include <fmt/format.h>

#include <fstream>

#include "gaebxml/gaebxml.h"
#include "gaebxml/reader.h"
#include "workbook/finish.h"
#include "workbook/guarded.h"
#include "workbook/layout.h"
#include "workbook/run_end.h"

namespace gaebxml {

using workbook::guarded;
using workbook::RunEnd;

namespace {

bool accepted_phase(std::string_view phase) {
    return phase == "80" || phase == "81" || phase == "82" || phase == "83" || phase == "84";
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

void XmlReader::Kopfdaten(Node root) {
    std::string project, project_label, boq_label, client;
    guarded(m_c.ui, "XML-Modul, Fehler bei der Ermittlung von Kopfdaten\n\n", [&] {
        const Node prj = ChildElement(root, "PrjInfo");
        project = ChildText(prj, "NamePrj").value_or("");
        project_label = ChildText(prj, "LblPrj").value_or("");
        boq_label = ChildText(child_path(root, {"Award", "BoQ", "BoQInfo"}), "LblBoQ").value_or("");
        client = ChildText(child_path(root, {"Award", "OWN", "Address"}), "Name1").value_or("");
    });
    guarded(m_c.ui, "XML-Modul, Fehler bei der Formatierung von Kopfdaten\n\n", [&] {
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

    const bool loaded =
        guarded([&] { m_doc.load_file(m_c.file_name); },
                [&](const std::exception& e) {
                    m_c.ui.busy_cursor(false);
                    workbook::release_application(m_c);
                    m_c.ui.process_events();
                    m_c.ui.message("GAEB XML, Prozedur \"LoadFromFile\"\n" + workbook::step_report(e));
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
        if (const auto dp = ChildText(ChildElement(root, "Award"), "DP"))
            m_st.Phase = workbook::utf8_prefix(*dp, kPhaseCapacity);
        m_c.exchange_phase = m_st.Phase;
        if (!accepted_phase(m_st.Phase)) {
            refuse("--- GAEB XML ---\nKann die Austauschphase von " + file + " nicht ermitteln!" + "\n" +
                   "Programmabbruch.");
            return;
        }
        workbook::PreparePositionsSheet(m_c);
        m_c.ui.busy_cursor(true);
        m_c.ui.elapsed_resume();

        Kopfdaten(root);

        const Node body = child_path(root, {"Award", "BoQ", "BoQBody"});
        if (m_c.options.ExportNotesText) {
            guarded([&] { XMLHauptHinweistext(body); },
                    [&](const std::exception&) {
                        m_c.ui.message("XML-Modul/XML_Start\nFehler beim Export des Haupthinweistextes");
                    });
        }
        guarded([&] { Hauptteil(body); },
                [&](const std::exception&) {
                    m_c.ui.message("XML-Modul/XML_Start\nFehler bei der Verarbeitung des Hauptteils");
                });
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
