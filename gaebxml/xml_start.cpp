// SPDX-License-Identifier: MIT
// Entry of the GAEB DA XML reader: sheets, open check, document, root, OZ mask, exchange phase,
// header block, then the notes and the range walk, and the finishing pass.
#include <fmt/format.h>

#include <fstream>

#include "gaebxml/gaebxml.h"
#include "gaebxml/reader.h"
#include "workbook/finish.h"
#include "workbook/layout.h"

namespace gaebxml {

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

// After the connection is released every call on the session throws; the run ends regardless.
void show_and_release(workbook::Conversion& c) {
    try {
        c.excel.set_visible(true);
        c.excel.Release();
    } catch (const std::exception&) {
    }
}

}  // namespace

void XmlReader::report(std::string_view prefix, const std::exception& e) {
    m_c.ui.message(std::string(prefix) + workbook::step_report(e));
}

// A document this reader does not convert: nothing is written, the program ends.
void XmlReader::refuse(std::string_view text) {
    try {
        m_c.excel.Release();
    } catch (const std::exception&) {
    }
    m_c.ui.progress_finish();
    m_c.ui.busy_cursor(false);
    m_c.ui.error_dialog(text);
    m_c.ui.unlock_controls();
    m_c.end_program(RunEnd::Refused);
}

std::string XmlReader::funcOZMaske(Node root) {
    std::string mask;
    for (Node node = ChildPath(root, {"Award", "BoQ", "BoQInfo", "BoQBkdn"});
         node && NodeName(node) == "BoQBkdn"; node = NextSibling(node)) {
        const auto length = ChildText(node, "Length");
        if (!length) continue;
        // Only the first characters of the mask are kept; more entries still set the lengths.
        if (mask.size() < 4 * kOzMaskCapacity) mask += workbook::utf8_prefix(*length, kOzMaskCapacity);
        const std::string_view type = RequireText(ChildText(node, "Type"), "Type");
        if (workbook::equals_ci(type, "ITEM")) m_st.ItemLength = *length;
        if (workbook::equals_ci(type, "INDEX")) m_st.IndexLength = *length;
    }
    return mask;
}

void XmlReader::Kopfdaten(Node root) {
    std::string project, project_label, boq_label, client;
    try {
        const Node prj = ChildElement(root, "PrjInfo");
        project = ChildText(prj, "NamePrj").value_or("");
        project_label = ChildText(prj, "LblPrj").value_or("");
        boq_label = ChildText(ChildPath(root, {"Award", "BoQ", "BoQInfo"}), "LblBoQ").value_or("");
        client = ChildText(ChildPath(root, {"Award", "OWN", "Address"}), "Name1").value_or("");
    } catch (const std::exception& e) {
        report("XML-Modul, Fehler bei der Ermittlung von Kopfdaten\n\n", e);
    }
    try {
        workbook::WriteHeaderBlock(m_c, 1, "Projektname:", project);
        workbook::WriteHeaderBlock(m_c, 2, "Projektbezeichnung:", project_label);
        workbook::WriteHeaderBlock(m_c, 3, "LV-Bezeichnung:", boq_label);
        workbook::WriteHeaderBlock(m_c, 4, "Auftraggeber:", client);
        workbook::WriteHeaderBlock(m_c, 5, "OZ-Maske:", m_st.OzMask);
        m_st.MaskLength = static_cast<int>(workbook::utf8_length(m_st.OzMask));
        workbook::WriteColumnHeaderRow(m_c, m_rows);
    } catch (const std::exception& e) {
        report("XML-Modul, Fehler bei der Formatierung von Kopfdaten\n\n", e);
    }
}

void XmlReader::XML_start() {
    m_st = XmlReaderState{};
    m_rows = workbook::SheetRows{};
    const std::string file = m_c.file_name.string();
    bool broken = false;

    try {
        m_doc.load_file(m_c.file_name);
    } catch (const std::exception& e) {
        m_c.ui.busy_cursor(false);
        show_and_release(m_c);
        m_c.ui.process_events();
        m_c.ui.message("GAEB XML, Prozedur \"LoadFromFile\"\n" + workbook::step_report(e));
        m_c.end_program(RunEnd::Refused);
        return;
    }

    const Node root = m_doc.root();
    // A document of another kind is refused, not converted into an empty workbook.
    if (workbook::to_upper_ascii(NodeName(root)) != "GAEB") {
        refuse(fmt::format(
            "--- GAEB XML ---\nDie Datei {} ist keine GAEB-XML-Datei:\nihr Wurzelelement heißt \"{}\", "
            "nicht \"GAEB\".\nProgrammabbruch.",
            file, workbook::utf8_prefix(NodeName(root), 100)));
        return;
    }

    try {
        m_st.OzMask = workbook::utf8_prefix(funcOZMaske(root), kOzMaskCapacity);
        if (const auto dp = ChildText(ChildElement(root, "Award"), "DP"))
            m_st.Phase = workbook::utf8_prefix(*dp, kPhaseCapacity);
        if (!accepted_phase(m_st.Phase)) {
            refuse("--- GAEB XML ---\nKann die Austauschphase von " + file + " nicht ermitteln!" + "\n" +
                   "Programmabbruch.");
            return;
        }
        workbook::PreparePositionsSheet(m_c);
        m_c.ui.busy_cursor(true);
        m_c.ui.elapsed_resume();

        Kopfdaten(root);

        const Node body = ChildPath(root, {"Award", "BoQ", "BoQBody"});
        if (m_c.options.ExportNotesText) {
            try {
                XMLHauptHinweistext(body);
            } catch (const std::exception&) {
                m_c.ui.message("XML-Modul/XML_Start\nFehler beim Export des Haupthinweistextes");
            }
        }
        try {
            Hauptteil(body);
        } catch (const std::exception&) {
            m_c.ui.message("XML-Modul/XML_Start\nFehler bei der Verarbeitung des Hauptteils");
        }
    } catch (const std::exception&) {
        m_c.ui.message("Es ist keine GAEB-XML-Datei\nVorgang abgebrochen");
        broken = true;
    } catch (const SheetFull& full) {
        m_c.ui.error_dialog(
            fmt::format("Das Tabellenblatt \"{}\" ist voll ({} Zeilen).\nDie Konvertierung wird abgebrochen.",
                        full.sheet, workbook::kMaxRow));
        workbook::FormatNachFehler(m_c);
        return;
    }

    workbook::FinishWorkbook(m_c, m_rows, workbook::FinishInfo{m_st.MaskLength});
    // The workbook is tidied and saved, but a run that was told "Vorgang abgebrochen" did not
    // complete: it must not end as a success.
    if (broken) m_c.end = RunEnd::Aborted;
}

void gaebxml_start(workbook::Conversion& c) {
    try {
        try {
            workbook::CreateSheets_Positionsteil(c);
        } catch (const std::exception& e) {
            show_and_release(c);
            c.ui.message("XML-Start\n\n" + workbook::step_report(e));
            c.end_program(RunEnd::Refused);
            return;
        }
        try {
            workbook::CreateSheets_Auxiliary(c);
        } catch (const std::exception& e) {
            show_and_release(c);
            c.ui.message(workbook::step_report(e));
            c.end_program(RunEnd::Refused);
            return;
        }

        if (!readable(c.file_name)) {
            show_and_release(c);
            c.ui.message("--- GAEB XML ---\nKann die Datei " + c.file_name.string() + " nicht öffnen.");
            c.end_program(RunEnd::Refused);
            return;
        }

        XmlReader reader(c);
        reader.XML_start();
    } catch (const RunStopped&) {
        // The walk has ended the program after its own message.
    } catch (const std::exception& e) {
        // Nothing the steps above leave uncaught should get here; if it does, the run ends tidily.
        c.ui.message("XML-Modul\n\n" + workbook::step_report(e));
        if (!c.ended()) {
            if (c.excel.connected()) workbook::FormatNachFehler(c);
            c.end_program(RunEnd::Aborted);
        }
    }
}

}  // namespace gaebxml
