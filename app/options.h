// SPDX-License-Identifier: MIT
// Every option of the console program in one table: its names, its value, its lines in --help
// and, for the six workbook options that the window shows as well, the field of ConversionOptions
// and the key in the window's settings file. Read by the command line and its help, the batch
// (which hands the options on to its children), the window, the fuzz targets (bit N of their first
// byte is the Nth workbook option) and, through --help, the check of the man page and the bash
// completion (tests/packaging/check_docs.sh).
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/conversion.h"

namespace app {

// Where an option is taken besides any call.
enum class OptionScope {
    Any,
    Workbook,  // a conversion into a workbook only, not with --angebot
    Bid,       // only with --angebot
};

struct OptionSpec {
    std::string_view section;     // its heading in --help
    std::string_view name;        // "--ausgabe"
    std::string_view alias = {};  // "-o"; empty when there is none
    std::string_view value = {};  // what follows the name in --help: " DATEI", "=ja|nein"; empty: a switch
    std::string_view help;        // its lines in --help, '\n' between them
    OptionScope scope = OptionScope::Any;
    // A workbook option: the field it sets, the value the switch gives it (the other one is the
    // field's default), and its key in the window's settings file (bremora.conf).
    bool workbook::ConversionOptions::*field = nullptr;
    bool given = true;
    std::string_view settings_key = {};
};

inline constexpr std::string_view kTextOptions = "Textoptionen";
inline constexpr std::string_view kExcelOptions = "Excel-Optionen";
inline constexpr std::string_view kFurtherOptions = "Weitere Optionen";
inline constexpr std::string_view kBidOptions = "Angebot (Austauschphase 84)";
inline constexpr std::string_view kSeveralInputs = "Mehrere Eingaben";

using workbook::ConversionOptions;

// In the order of --help. The workbook options keep their order: the fuzz targets' option byte
// and the corpora made with it depend on it.
inline constexpr OptionSpec kOptionTable[] = {
    {.section = kTextOptions,
     .name = "--nur-kurztexte",
     .help = "nur Kurztexte exportieren (keine Langtexte)",
     .scope = OptionScope::Workbook,
     .field = &ConversionOptions::OnlyShortText,
     .given = true,
     .settings_key = "Optionen/nur_kurztexte"},
    {.section = kTextOptions,
     .name = "--hinweistext",
     .help = "den Hinweistext in einer eigenen Tabelle \"Hinweistext\" exportieren;\n"
             "ohne die Option nennt bei GAEB 90 eine Meldung die Zahl seiner Zeilen",
     .scope = OptionScope::Workbook,
     .field = &ConversionOptions::ExportNotesText,
     .given = true,
     .settings_key = "Optionen/hinweistext"},
    {.section = kTextOptions,
     .name = "--ohne-fehlerprotokoll",
     .help = "fehlerhafte Zeilen (GAEB 90) nicht protokollieren: die Konvertierung\n"
             "bricht beim ersten fehlerhaften Satz ab",
     .scope = OptionScope::Workbook,
     .field = &ConversionOptions::LogFaultyLines,
     .given = false,
     .settings_key = "Optionen/fehlerprotokoll"},

    {.section = kExcelOptions,
     .name = "--ohne-runden",
     .help = "berechnete Preise nicht auf 2 Nachkommastellen runden",
     .scope = OptionScope::Workbook,
     .field = &ConversionOptions::RoundPrices,
     .given = false,
     .settings_key = "Optionen/runden"},
    {.section = kExcelOptions,
     .name = "--teilsummen",
     .help = "Tabellenblatt \"Teilsummen\" mit den Bereichsummen erstellen",
     .scope = OptionScope::Workbook,
     .field = &ConversionOptions::SubtotalsSheet,
     .given = true,
     .settings_key = "Optionen/teilsummen"},
    {.section = kExcelOptions,
     .name = "--ohne-kalkulationsspalten",
     .help = "keine Spalten \"Basispreis\" und \"Faktor\" anlegen",
     .scope = OptionScope::Workbook,
     .field = &ConversionOptions::CalcColumns,
     .given = false,
     .settings_key = "Optionen/kalkulationsspalten"},

    {.section = kFurtherOptions,
     .name = "--regelungen",
     .value = "=ja|nein",
     .help = "Antwort auf die Frage nach den vertraglichen Regelungen (GAEB 90);\n"
             "ohne Angabe wird am Terminal gefragt, sonst gilt \"nein\"",
     .scope = OptionScope::Workbook},
    {.section = kFurtherOptions,
     .name = "--ausgabe",
     .alias = "-o",
     .value = " DATEI",
     .help = "Name der Arbeitsmappe. Ohne Angabe: Eingabedatei mit der Endung\n"
             ".xlsx; ist diese Datei schon vorhanden, wird der nächste freie Name\n"
             "\"Name (2).xlsx\" gewählt"},
    {.section = kFurtherOptions,
     .name = "--ueberschreiben",
     .help = "eine mit -o genannte vorhandene Datei ersetzen, ebenso einen\n"
             "vorhandenen Bericht (--bericht) und bei mehreren Eingaben die\n"
             "Arbeitsmappen eines früheren Aufrufs; ohne diese Option wird nichts\n"
             "Vorhandenes angetastet. Die Eingabedateien, schreibgeschützte\n"
             "Dateien, Verzeichnisse, Verknüpfungen, Pipes und Geräte werden nie\n"
             "ersetzt"},
    {.section = kFurtherOptions,
     .name = "--bericht",
     .value = " DATEI.json",
     .help = "einen Bericht im JSON-Format schreiben: je Eingabe Format,\n"
             "Austauschphase, Zahl der Positionen, Gesamtsumme, angegebene\n"
             "Gesamtsumme, fehlerhafte Zeilen, alle Meldungen, die geschriebene\n"
             "Arbeitsmappe und der Rückgabewert. \"-\" schreibt ihn auf die\n"
             "Standardausgabe. Für die Datei gilt dieselbe Regel wie für -o;\n"
             "auch eine Arbeitsmappe desselben Aufrufs wird nie ersetzt"},
    {.section = kFurtherOptions,
     .name = "--leise",
     .help = "nur Fehlermeldungen ausgeben (alle Meldungen einer Konvertierung,\n"
             "die nicht mit 0 endet)"},
    {.section = kFurtherOptions, .name = "--help", .help = "diese Hilfe anzeigen"},
    {.section = kFurtherOptions, .name = "--version", .help = "die Programmversion anzeigen"},

    {.section = kBidOptions,
     .name = "--angebot",
     .help = "aus dem Leistungsverzeichnis LV (GAEB 90, GAEB 2000 oder GAEB DA XML,\n"
             "Austauschphase 81 oder 83) und der daraus erstellten, kalkulierten\n"
             "ARBEITSMAPPE das Angebot schreiben: je Position der Einheitspreis\n"
             "aus Spalte E-Preis (mit allen Nachkommastellen, bei Formeln ihr\n"
             "gespeichertes Ergebnis) und der Gesamtbetrag. Ohne -o: LV mit der\n"
             "Endung .x84 bzw. der nächste freie Name \"Name (2).x84\""},
    {.section = kBidOptions,
     .name = "--bieter-name",
     .value = " NAME",
     .help = "Name des Bieters im Angebot",
     .scope = OptionScope::Bid},
    {.section = kBidOptions,
     .name = "--bieter-anschrift",
     .value = " ZEILE",
     .help = "eine Zeile der Anschrift des Bieters; je Zeile einmal angeben (oder\n"
             "eine Angabe mit Zeilenumbrüchen), die letzte als \"PLZ Ort\", die\n"
             "vorletzte als Straße",
     .scope = OptionScope::Bid},
    {.section = kBidOptions,
     .name = "--unvollstaendig",
     .help = "das Angebot auch schreiben, wenn Positionen ohne gültigen Preis sind\n"
             "oder in der Arbeitsmappe fehlen (Rückgabewert 3); sonst wird es\n"
             "nicht geschrieben",
     .scope = OptionScope::Bid},

    {.section = kSeveralInputs,
     .name = "--rekursiv",
     .help = "Ordner samt Unterordnern nach GAEB-Dateien durchsuchen (Endungen\n"
             "d81-d84, p81, p83, p84, x80-x84, x86 und off in beliebiger\n"
             "Schreibweise)"},
    {.section = kSeveralInputs,
     .name = "--ausgabeordner",
     .value = " ORDNER",
     .help = "jede Arbeitsmappe in ORDNER unter dem Namen ihrer Eingabe schreiben\n"
             "statt neben die Eingabe; ist der Name vergeben, wird der nächste\n"
             "freie gewählt. Ein fehlender Ordner wird angelegt"},
    {.section = kSeveralInputs,
     .name = "--parallel",
     .alias = "-j",
     .value = " N",
     .help = "höchstens N Konvertierungen gleichzeitig (Vorgabe: die Zahl der\n"
             "Prozessorkerne)"},
};

// The options that set a field of ConversionOptions, in the table's order.
std::span<const OptionSpec> workbook_options();

// The switches that give `options` on the command line, in the table's order: what a batch hands
// on to each of its conversions.
std::vector<std::string> workbook_switches(const workbook::ConversionOptions& options);

// The entry of a command line word: the name or alias itself, or the name with "=value"; nullptr
// for anything else.
const OptionSpec* find_option(std::string_view arg);

// The section's lines of --help: "  -o, --ausgabe DATEI         Name der ...", each further line of
// the help indented to its column.
std::string option_lines(std::string_view section);

}  // namespace app
