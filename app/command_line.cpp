// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include <fmt/format.h>

#include <algorithm>

#include "app/options.h"
#include "workbook/output_file.h"

namespace app {

std::string usage_line() {
    return "Aufruf: bremora-cli [OPTIONEN] EINGABEDATEI [-o AUSGABE.xlsx]";
}

namespace {

// A section of options in --help: its heading and its options' lines.
std::string section(std::string_view title) {
    return std::string(title) + ":\n" + option_lines(title);
}

}  // namespace

std::string help_text() {
    return usage_line() +
           "\n"
           "        bremora-cli [OPTIONEN] EINGABE... [--ausgabeordner ORDNER]\n"
           "        bremora-cli --angebot LV ARBEITSMAPPE.xlsx [-o ANGEBOT.x84] [ANGEBOTSOPTIONEN]\n"
           "\n"
           "Wandelt ein Leistungsverzeichnis im Format GAEB 90 (d81-d84), GAEB 2000 (p81, p83, p84)\n"
           "oder GAEB DA XML (x80-x84, x86) in eine Excel-Arbeitsmappe (.xlsx) zum Kalkulieren um.\n"
           "\n"
           "Das Format wird am Inhalt erkannt, nicht an der Endung: GAEB 2000 an \"#begin[GAEB]\" in der\n"
           "ersten Zeile, GAEB DA XML an der XML-Deklaration oder, wo sie fehlt, am Wurzelelement <GAEB>,\n"
           "GAEB 90 am Eröffnungssatz \"00\". Gelesen werden die Austauschphasen 81 bis 84 (GAEB 2000: 81,\n"
           "83 und 84; GAEB DA XML: 80 bis 84 und 86), andere werden abgewiesen. In den Phasen 84 und 86\n"
           "übernimmt die Arbeitsmappe die Preise der Datei.\n"
           "\n"
           "Die Arbeitsmappe zeigt je Position eine Zeile mit Menge, Einheit und Preisformeln, darunter "
           "ihre\n"
           "Texte als Gliederungsgruppe (das +/- steht an der Position), und unter der letzten Zeile des\n"
           "Positionsteils die Summe der Gesamtpreise, \"Summe Leistungsverzeichnis\". Gedruckt wird auf "
           "A4,\n"
           "eine Seite breit, mit dem Namen des Leistungsverzeichnisses und \"Seite N von M\" in der "
           "Fußzeile.\n"
           "\n"
           "Mit --angebot entsteht aus dem Leistungsverzeichnis und der damit kalkulierten Arbeitsmappe\n"
           "das Angebot als GAEB DA XML 3.3 der Austauschphase 84 (.x84).\n"
           "\n" +
           section(kTextOptions) + "\n" + section(kExcelOptions) + "\n" + section(kFurtherOptions) + "\n" +
           section(kBidOptions) +
           "\n"
           "Alle Fehler der Arbeitsmappe werden auf einmal genannt, mit Zelle und OZ. Eine Arbeitsmappe\n"
           "ohne Tabellenblatt \"Positionsteil\" oder aus einem anderen Leistungsverzeichnis wird\n"
           "abgewiesen. --angebot geht nur mit -o, --ueberschreiben, --leise und den Angebotsoptionen.\n"
           "\n" +
           section(kSeveralInputs) +
           "\n"
           "Mehrere Eingaben (oder --rekursiv) werden jede für sich in einem eigenen Prozess umgewandelt,\n"
           "genau wie ein Aufruf mit ihr allein; scheitert eine oder stürzt sie ab, laufen die anderen "
           "weiter.\n"
           "Die Meldungen jeder Datei erscheinen unter \"==> DATEI <==\", sobald sie fertig ist; am Ende\n"
           "steht auf der Standardausgabe eine Tabelle mit Datei, Format, Phase, Positionen, Gesamtsumme,\n"
           "fehlerhaften Zeilen, Rückgabewert und der Arbeitsmappe, die daraus wurde. Gefragt wird dabei\n"
           "nicht: ohne --regelungen gilt \"nein\". Dateien, die --rekursiv nicht umwandelt (andere Endung,\n"
           "andere Austauschphase, keine gewöhnliche Datei), werden mit dem Grund genannt, mit --leise\n"
           "gezählt. Gleichnamige Eingaben werden in ihrer Reihenfolge zu \"Name.xlsx\", \"Name (2).xlsx\"\n"
           "usw.; mit --ueberschreiben erhält jede wieder denselben Namen wie beim vorigen Aufruf.\n"
           "Die Option -o und die Standardeingabe gehen nur mit einer einzigen Eingabe.\n"
           "\n"
           "EINGABEDATEI \"-\" liest von der Standardeingabe. Eine Eingabe, die keine gewöhnliche Datei ist\n"
           "(Standardeingabe, Pipe, FIFO, Gerät), wird einmal in den temporären Ordner gelesen (höchstens\n"
           "2 GiB) und braucht -o.\n"
           "\n"
           "Rückgabewerte:\n"
           "  0  Konvertierung abgeschlossen, Arbeitsmappe geschrieben (--angebot: Angebot vollständig\n"
           "     geschrieben)\n"
           "  1  Eingabedatei abgewiesen (nicht lesbar, nicht erkannt, Austauschphase nicht unterstützt,\n"
           "     kein Eröffnungssatz, größer als 2 GiB), oder nicht genügend Arbeitsspeicher, um die\n"
           "     Arbeitsmappe zu speichern; nichts geschrieben. --angebot: Leistungsverzeichnis oder\n"
           "     Arbeitsmappe abgewiesen, Preise fehlen oder sind ungültig (ohne --unvollstaendig); kein\n"
           "     Angebot geschrieben\n"
           "  2  Aufruffehler (auch: eine Ausgabedatei, die nicht ersetzt werden darf)\n"
           "  3  Konvertierung abgebrochen (auch: nicht genügend Arbeitsspeicher, oder die Datei endet ohne\n"
           "     Schlusssatz und ist möglicherweise unvollständig); die bis dahin erstellte Arbeitsmappe\n"
           "     wurde geschrieben. --angebot mit --unvollstaendig: Angebot geschrieben, aber Positionen\n"
           "     ohne Preis\n"
           "  4  Konvertierung abgeschlossen, Arbeitsmappe nicht geschrieben (Speichern fehlgeschlagen, z. "
           "B.\n"
           "     kein Speicherplatz oder keine Schreibberechtigung); eine vorhandene Datei bleibt "
           "unverändert.\n"
           "     Ebenso nach einer abgebrochenen Konvertierung, deren Arbeitsmappe nicht gespeichert werden\n"
           "     konnte, und wenn der Bericht (--bericht) nicht geschrieben werden konnte. --angebot: "
           "Angebot\n"
           "     nicht gespeichert\n"
           "  5  nur bei mehreren Eingaben: eine Konvertierung endete unerwartet (Absturz, Signal, vom "
           "System\n"
           "     beendet)\n"
           "\n"
           "Bei mehreren Eingaben ist der Rückgabewert der höchste ihrer Konvertierungen; ein Aufruffehler,\n"
           "der alle betrifft, ergibt 2, bevor eine beginnt; fehlt dem Aufruf selbst der Arbeitsspeicher, "
           "1.\n"
           "Die Tabelle nennt den Rückgabewert, mit dem das Programm endet.\n"
           "\n"
           "Meldungen erscheinen auf der Standardfehlerausgabe. Eine Meldung über einen Fehler in der\n"
           "Eingabedatei nennt davor, soweit bekannt, Zeile und Spalte und bei einer Position ihre OZ:\n"
           "\"Zeile 1234, Spalte 17: ...\", \"Zeile 88, Position 01.02.0010: ...\". An einem Terminal zeigt\n"
           "eine Fortschrittszeile das Lesen und danach das Speichern der Arbeitsmappe in Prozent.\n";
}

CommandLine parse_command_line(const std::vector<std::string>& args) {
    CommandLine cl;
    bool only_positional = false;
    auto fail = [&](std::string text) {
        if (cl.error.empty()) cl.error = std::move(text);
    };
    // The value of an option given as "--name=value" or as "--name value"; empty when it is missing.
    auto value_of = [&](size_t& i, const std::string& name) -> std::optional<std::string> {
        const std::string& a = args[i];
        if (a.size() > name.size() && a[name.size()] == '=') return a.substr(name.size() + 1);
        if (a.size() == name.size() && i + 1 < args.size()) return args[++i];
        return std::nullopt;
    };
    auto is_option = [](const std::string& a, const std::string& name) {
        return a.rfind(name, 0) == 0 && (a.size() == name.size() || a[name.size()] == '=');
    };
    auto set_jobs = [&](const std::string& value) {
        int n = 0;
        bool number = !value.empty() && value.size() <= 4;
        for (char ch : value) {
            if (ch < '0' || ch > '9') number = false;
            if (number) n = n * 10 + (ch - '0');
        }
        if (number && n >= 1 && n <= kMaxJobs)
            cl.jobs = n;
        else
            fail(fmt::format("-j erwartet eine Zahl von 1 bis {}, nicht \"{}\".", kMaxJobs, value));
    };
    // Options of a conversion into a workbook, which a bid does not take.
    std::string conversion_option;
    std::string bid_option;  // an option of the bid
    auto bid_only = [&](const std::string& name) {
        if (bid_option.empty()) bid_option = name;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (only_positional || a.empty() || a[0] != '-' || a == "-") {
            if (a.empty())
                fail("Der Name der Eingabedatei ist leer.");
            else
                cl.inputs.emplace_back(a);
            continue;
        }
        const OptionSpec* const spec = find_option(a);
        if (spec && spec->scope == OptionScope::Workbook && conversion_option.empty())
            conversion_option = spec->name;
        if (spec && spec->scope == OptionScope::Bid) bid_only(std::string(spec->name));
        if (a == "--") {
            only_positional = true;
        } else if (spec && spec->field && a == spec->name) {
            cl.options.*spec->field = spec->given;
        } else if (a.rfind("--regelungen", 0) == 0) {
            std::string value;
            if (a.size() > 12 && a[12] == '=')
                value = a.substr(13);
            else if (a.size() == 12 && i + 1 < args.size())
                value = args[++i];
            if (value == "ja")
                cl.rules_answer = true;
            else if (value == "nein")
                cl.rules_answer = false;
            else
                fail(fmt::format("--regelungen erwartet \"ja\" oder \"nein\", nicht \"{}\".", value));
        } else if (a == "-o" || a == "--ausgabe") {
            if (i + 1 >= args.size() || args[i + 1].empty())
                fail(fmt::format("{} erwartet einen Dateinamen.", a));
            else
                cl.output = args[++i];
        } else if (a.rfind("--ausgabe=", 0) == 0) {
            if (a.size() == 10)
                fail("--ausgabe erwartet einen Dateinamen.");
            else
                cl.output = a.substr(10);
        } else if (a.rfind("-o", 0) == 0 && a.size() > 2 && a[1] == 'o') {
            cl.output = a.substr(2);
        } else if (a == "--ueberschreiben") {
            cl.overwrite = true;
        } else if (is_option(a, "--ausgabeordner")) {
            const auto value = value_of(i, "--ausgabeordner");
            if (!value || value->empty())
                fail("--ausgabeordner erwartet einen Ordner.");
            else
                cl.folder = *value;
        } else if (is_option(a, "--bericht")) {
            const auto value = value_of(i, "--bericht");
            if (!value || value->empty())
                fail("--bericht erwartet einen Dateinamen.");
            else
                cl.report = *value;
        } else if (a == "-j" || is_option(a, "--parallel")) {
            const auto value = value_of(i, a == "-j" ? "-j" : "--parallel");
            set_jobs(value.value_or(""));
        } else if (a.rfind("-j", 0) == 0) {
            set_jobs(a.substr(2));
        } else if (a == "--rekursiv") {
            cl.recursive = true;
        } else if (a == "--leise") {
            cl.quiet = true;
        } else if (a == "--angebot") {
            cl.bid = true;
        } else if (a == "--unvollstaendig") {
            cl.incomplete = true;
        } else if (is_option(a, "--bieter-name")) {
            const auto value = value_of(i, "--bieter-name");
            if (!value || value->empty())
                fail("--bieter-name erwartet den Namen des Bieters.");
            else
                cl.bidder_name = *value;
        } else if (is_option(a, "--bieter-anschrift")) {
            const auto value = value_of(i, "--bieter-anschrift");
            if (!value || value->empty()) {
                fail("--bieter-anschrift erwartet eine Zeile der Anschrift.");
            } else {
                // A value with line breaks gives several lines at once.
                size_t start = 0;
                while (start <= value->size()) {
                    size_t end = value->find('\n', start);
                    if (end == std::string::npos) end = value->size();
                    std::string line = value->substr(start, end - start);
                    if (!line.empty() && line.back() == '\r') line.pop_back();
                    if (!line.empty()) cl.bidder_address.push_back(std::move(line));
                    start = end + 1;
                }
            }
        } else if (a == "--help" || a == "-h") {
            cl.help = true;
        } else if (a == "--version") {
            cl.version = true;
        } else {
            fail(fmt::format("Unbekannte Option: {}", a));
        }
    }
    if (!cl.inputs.empty()) cl.input = cl.inputs.front();
    if (!cl.help && !cl.version && cl.error.empty() && cl.bid) {
        // A bid is one call of its own: two named files, no batch, no workbook options.
        const char* batch_option = cl.folder      ? "--ausgabeordner"
                                   : cl.report    ? "--bericht"
                                   : cl.recursive ? "--rekursiv"
                                   : cl.jobs      ? "--parallel"
                                                  : nullptr;
        if (cl.inputs.size() != 2)
            fail(
                "--angebot erwartet zwei Dateien: das Leistungsverzeichnis und die bepreiste Arbeitsmappe "
                "(.xlsx), in dieser Reihenfolge.");
        else if (batch_option)
            fail(
                fmt::format("{} gilt nicht zusammen mit --angebot: ein Angebot entsteht aus genau einem "
                            "Leistungsverzeichnis und seiner Arbeitsmappe.",
                            batch_option));
        else if (!conversion_option.empty())
            fail(fmt::format(
                "{} gilt nur für die Umwandlung in eine Arbeitsmappe, nicht zusammen mit --angebot.",
                conversion_option));
        else if (std::find(cl.inputs.begin(), cl.inputs.end(), "-") != cl.inputs.end())
            fail(
                "Die Standardeingabe (-) geht nicht mit --angebot: beide Dateien werden mit Namen "
                "angegeben.");
        else if (!cl.bidder_address.empty() && cl.bidder_name.empty())
            fail("--bieter-anschrift braucht --bieter-name: die Anschrift gehört zum Namen des Bieters.");
    } else if (!cl.help && !cl.version && cl.error.empty() && !bid_option.empty()) {
        fail(fmt::format("{} gilt nur zusammen mit --angebot.", bid_option));
    }
    if (!cl.help && !cl.version && cl.error.empty() && !cl.bid) {
        if (cl.inputs.empty())
            fail("Es wurde keine Eingabedatei angegeben.");
        else if (cl.output && cl.folder)
            fail("-o und --ausgabeordner schließen einander aus.");
        else if (cl.output && cl.batch())
            fail("-o gilt nur für eine einzige Eingabedatei; für mehrere Eingaben --ausgabeordner angeben.");
        else if (cl.batch() && std::find(cl.inputs.begin(), cl.inputs.end(), "-") != cl.inputs.end())
            fail("Die Standardeingabe (-) geht nur als einzige Eingabe und ohne --rekursiv.");
    }
    return cl;
}

std::filesystem::path derived_output(const std::filesystem::path& input) {
    std::filesystem::path out = input;
    out.replace_extension(".xlsx");
    return workbook::free_name(out);
}

std::filesystem::path derived_output(const std::filesystem::path& input,
                                     const std::filesystem::path& folder) {
    return workbook::free_name(folder / input.filename().replace_extension(".xlsx"));
}

}  // namespace app
