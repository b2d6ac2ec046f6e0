// SPDX-License-Identifier: MIT
// Entry of the GAEB DA XML reader: open check, document, root, OZ mask, exchange phase, header,
// then the notes and the range walk, and the end.
#include <fmt/format.h>

#include <cmath>
#include <fstream>

#include "gaebxml/gaebxml.h"
#include "gaebxml/reader.h"
#include "workbook/errors.h"
#include "workbook/guarded.h"
#include "workbook/numbers.h"

namespace gaebxml {

using workbook::guarded;
using workbook::RunEnd;

namespace {

std::string text_of(Node holder, const char* name) {
    return std::string(workbook::trim_ctl(inline_text(ChildElement(holder, name))));
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

std::optional<double> declared_total(Node holder) {
    return workbook::parse_decimal(workbook::trim_ctl(inline_text(child_path(holder, {"Totals", "Total"}))));
}

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

// A document this reader does not convert: nothing is kept, the run ends.
void XmlReader::refuse(std::string_view text) {
    m_r.run.busy(false);
    m_r.fault(std::string(text), true);
    m_r.finish({bill::Ending::Refused, false, {}});
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
                    m_r.fault(
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
    guarded(m_r, "XML-Modul, Fehler bei der Ermittlung von Kopfdaten\n\n", [&] {
        const Node prj = ChildElement(root, "PrjInfo");
        project = ChildText(prj, "NamePrj").value_or("");
        project_label = ChildText(prj, "LblPrj").value_or("");
        boq_label = ChildText(child_path(root, {"Award", "BoQ", "BoQInfo"}), "LblBoQ").value_or("");
        client = ChildText(child_path(root, {"Award", "OWN", "Address"}), "Name1").value_or("");
    });
    guarded(m_r, "XML-Modul, Fehler bei der Formatierung von Kopfdaten\n\n", [&] {
        m_r.sink.header_field(bill::HeaderField::Project, project);
        m_r.sink.header_field(bill::HeaderField::ProjectLabel, project_label);
        m_r.sink.header_field(bill::HeaderField::Label, boq_label);
        m_r.sink.header_field(bill::HeaderField::Client, client);
        m_r.sink.header_field(bill::HeaderField::Mask, m_st.OzMask);
        m_st.MaskLength = static_cast<int>(workbook::utf8_length(m_st.OzMask));
    });
}

// What the bill says of itself beyond the header block: its ID, name, date, currency and the
// breakdown of its OZ.
bill::Header XmlReader::header_of(Node root) const {
    bill::Header h;
    h.format = bill::Format::Xml;
    h.exchange_phase = m_st.Phase;
    h.mask = m_st.OzMask;
    h.version = text_of(ChildElement(root, "GAEBInfo"), "Version");
    switch (m_doc.encoding()) {
        case SourceEncoding::Utf8:
            h.charset = "UTF-8";
            break;
        case SourceEncoding::Latin1:
            h.charset = "ISO-8859-1";
            break;
        case SourceEncoding::Latin9:
            h.charset = "ISO-8859-15";
            break;
        case SourceEncoding::Cp1252:
            h.charset = "windows-1252";
            break;
        case SourceEncoding::Utf16or32:
            h.charset = "UTF-16/UTF-32";
            break;
    }
    const Node award_info = child_path(root, {"Award", "AwardInfo"});
    h.currency = text_of(award_info, "Cur");
    h.currency_label = text_of(award_info, "CurLbl");
    const Node boq = child_path(root, {"Award", "BoQ"});
    h.boq_id = std::string(workbook::trim_ctl(AttributeText(boq, "ID")));
    const Node boq_info = ChildElement(boq, "BoQInfo");
    h.name = text_of(boq_info, "Name");
    h.date_text = text_of(boq_info, "Date");
    h.date = bill::iso_date(h.date_text);
    for (Node b = boq_info.child("BoQBkdn"); b; b = b.next_sibling("BoQBkdn")) {
        bill::Breakdown level;
        const std::string type = text_of(b, "Type");
        if (workbook::equals_ci(type, "Item"))
            level.type = bill::BreakdownType::Item;
        else if (workbook::equals_ci(type, "Index"))
            level.type = bill::BreakdownType::Index;
        else if (!workbook::equals_ci(type, "BoQLevel"))
            continue;
        const auto length = workbook::parse_decimal(text_of(b, "Length"));
        level.length = length && *length >= 1 && *length <= 9 ? static_cast<int>(*length) : 0;
        level.numeric = !workbook::equals_ci(text_of(b, "Num"), "No");
        level.label = text_of(b, "LblBoQBkdn");
        level.alignment = text_of(b, "Alignment");
        h.breakdown.push_back(std::move(level));
    }
    return h;
}

void XmlReader::XML_start() {
    m_st = XmlReaderState{};
    const std::string file = m_r.file_name.string();
    bool broken = false;

    const bool loaded = guarded(
        [&] { m_doc.load_file(m_r.file_name); },
        [&](const std::exception& e) {
            m_r.run.busy(false);
            m_r.run.process_events();
            std::string text = "GAEB XML, Prozedur \"LoadFromFile\"\n" + workbook::step_report(m_r.place, e);
            if (const auto* parse = dynamic_cast<const DomParseError*>(&e); parse && parse->ends_early())
                text += "\n" + ends_early_text(*parse);
            m_r.fault(std::move(text));
            m_r.finish({bill::Ending::Refused, false, {}});
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

    std::optional<double> total;
    const auto convert = [&] {
        m_st.OzMask = workbook::utf8_prefix(funcOZMaske(root), kOzMaskCapacity);
        m_st.Phase = workbook::utf8_prefix(exchange_phase(root), kPhaseCapacity);
        m_r.exchange_phase = m_st.Phase;
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
        total = declared_total(child_path(root, {"Award", "BoQ", "BoQInfo"}));
        if (total && std::isfinite(*total)) m_r.declared_total = total;
        m_r.sink.begin(header_of(root));
        m_r.run.busy(true);

        Kopfdaten(root);
        item_lengths();

        const Node body = child_path(root, {"Award", "BoQ", "BoQBody"});
        if (m_r.options.ExportNotesText) {
            guarded([&] { bill_notes(root, body); },
                    [&](const std::exception&) {
                        m_r.fault("XML-Modul/XML_Start\nFehler beim Export des Haupthinweistextes");
                    });
        }
        guarded([&] { Hauptteil(body); },
                [&](const std::exception&) {
                    m_r.fault("XML-Modul/XML_Start\nFehler bei der Verarbeitung des Hauptteils");
                });
    };
    // A full sheet leaves from here to the entry point, which ends the run.
    guarded(convert, [&](const std::exception&) {
        m_r.fault("Es ist keine GAEB-XML-Datei\nVorgang abgebrochen");
        broken = true;
    });
    // A refused document has ended the run.
    if (m_r.ended()) return;
    // A run that was told "Vorgang abgebrochen" is finished as far as it went, but did not complete.
    m_r.finish({broken ? bill::Ending::Incomplete : bill::Ending::Complete, true, total});
}

namespace {

void start(workbook::Reading& r) {
    r.sink.start(bill::Format::Xml);
    if (!readable(r.file_name)) {
        r.fault("--- GAEB XML ---\nKann die Datei " + r.file_name.string() + " nicht öffnen.");
        r.finish({bill::Ending::Refused, false, {}});
        return;
    }

    XmlReader reader(r);
    reader.XML_start();
}

}  // namespace

void gaebxml_start(workbook::Reading& r) {
    // Nothing the steps leave uncaught should get here; if it does, the run ends tidily.
    workbook::run_reader(
        r, [&] { start(r); },
        [&](const std::exception& e) {
            r.fault("XML-Modul\n\n" + workbook::step_report(e));
            r.finish({bill::Ending::GaveUp, false, {}});
        });
}

}  // namespace gaebxml
