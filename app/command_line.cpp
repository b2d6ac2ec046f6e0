// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include <fmt/format.h>

#include <algorithm>

namespace app {

std::string usage_line() {
    return "Aufruf: bremora-cli [OPTIONEN] EINGABEDATEI [-o AUSGABE.xlsx]";
}

std::string help_text() {
    return usage_line() +
           "\n"
           "        bremora-cli [OPTIONEN] EINGABE... [--ausgabeordner ORDNER]\n"
           "\n"
           "Wandelt ein Leistungsverzeichnis im Format GAEB 90 (d81-d84), GAEB 2000 (p81, p83, p84)\n"
           "oder GAEB DA XML (x80-x84) in eine Excel-Arbeitsmappe (.xlsx) zum Kalkulieren um.\n"
           "\n"
           "Textoptionen:\n"
           "  --nur-kurztexte             nur Kurztexte exportieren (keine Langtexte)\n"
           "  --hinweistext               den Hinweistext in einer eigenen Tabelle \"Hinweistext\" "
           "exportieren\n"
           "  --ohne-fehlerprotokoll      fehlerhafte Zeilen (GAEB 90) nicht protokollieren: die "
           "Konvertierung\n"
           "                              bricht beim ersten fehlerhaften Satz ab\n"
           "\n"
           "Excel-Optionen:\n"
           "  --ohne-runden               berechnete Preise nicht auf 2 Nachkommastellen runden\n"
           "  --teilsummen                Tabellenblatt \"Teilsummen\" mit den Bereichsummen erstellen\n"
           "  --ohne-kalkulationsspalten  keine Spalten \"Basispreis\" und \"Faktor\" anlegen\n"
           "\n"
           "Weitere Optionen:\n"
           "  --regelungen=ja|nein        Antwort auf die Frage nach den vertraglichen Regelungen (GAEB "
           "90);\n"
           "                              ohne Angabe wird am Terminal gefragt, sonst gilt \"nein\"\n"
           "  -o, --ausgabe DATEI         Name der Arbeitsmappe. Ohne Angabe: Eingabedatei mit der Endung\n"
           "                              .xlsx; ist diese Datei schon vorhanden, wird der nächste freie "
           "Name\n"
           "                              \"Name (2).xlsx\" gewählt\n"
           "  --ueberschreiben            eine mit -o genannte vorhandene Datei ersetzen; ohne diese Option\n"
           "                              wird sie nicht angetastet. Die Eingabedatei selbst, "
           "schreibgeschützte\n"
           "                              Dateien, Verzeichnisse, Verknüpfungen, Pipes und Geräte werden "
           "nie\n"
           "                              ersetzt\n"
           "  --bericht DATEI.json        einen Bericht im JSON-Format schreiben: je Eingabe Format,\n"
           "                              Austauschphase, Zahl der Positionen, Gesamtsumme, angegebene\n"
           "                              Gesamtsumme, fehlerhafte Zeilen, alle Meldungen, die geschriebene\n"
           "                              Arbeitsmappe und der Rückgabewert. \"-\" schreibt ihn auf die\n"
           "                              Standardausgabe\n"
           "  --leise                     nur Fehlermeldungen ausgeben (alle Meldungen einer Konvertierung,\n"
           "                              die nicht mit 0 endet)\n"
           "  --help                      diese Hilfe anzeigen\n"
           "  --version                   die Programmversion anzeigen\n"
           "\n"
           "Mehrere Eingaben:\n"
           "  --rekursiv                  Ordner samt Unterordnern nach GAEB-Dateien durchsuchen (Endungen\n"
           "                              d81-d84, p81, p83, p84, x80-x84 und off in beliebiger "
           "Schreibweise)\n"
           "  --ausgabeordner ORDNER      jede Arbeitsmappe in ORDNER unter dem Namen ihrer Eingabe "
           "schreiben\n"
           "                              statt neben die Eingabe; ist der Name vergeben, wird der nächste\n"
           "                              freie gewählt. Ein fehlender Ordner wird angelegt\n"
           "  -j, --parallel N            höchstens N Konvertierungen gleichzeitig (Vorgabe: die Zahl der\n"
           "                              Prozessorkerne)\n"
           "\n"
           "Mehrere Eingaben (oder --rekursiv) werden jede für sich in einem eigenen Prozess umgewandelt,\n"
           "genau wie ein Aufruf mit ihr allein; scheitert eine oder stürzt sie ab, laufen die anderen "
           "weiter.\n"
           "Die Meldungen jeder Datei erscheinen unter \"==> DATEI <==\", sobald sie fertig ist; am Ende\n"
           "steht auf der Standardausgabe eine Tabelle mit Datei, Format, Phase, Positionen, Gesamtsumme,\n"
           "fehlerhaften Zeilen und Rückgabewert. Gefragt wird dabei nicht: ohne --regelungen gilt "
           "\"nein\".\n"
           "Die Option -o und die Standardeingabe gehen nur mit einer einzigen Eingabe.\n"
           "\n"
           "EINGABEDATEI \"-\" liest von der Standardeingabe. Eine Eingabe, die keine gewöhnliche Datei ist\n"
           "(Standardeingabe, Pipe, FIFO, Gerät), wird einmal in den temporären Ordner gelesen (höchstens\n"
           "2 GiB) und braucht -o.\n"
           "\n"
           "Rückgabewerte:\n"
           "  0  Konvertierung abgeschlossen, Arbeitsmappe geschrieben\n"
           "  1  Eingabedatei abgewiesen (nicht lesbar, nicht erkannt, Austauschphase nicht unterstützt,\n"
           "     kein Eröffnungssatz, größer als 2 GiB), oder nicht genügend Arbeitsspeicher, um die\n"
           "     Arbeitsmappe zu speichern; nichts geschrieben\n"
           "  2  Aufruffehler (auch: eine Ausgabedatei, die nicht ersetzt werden darf)\n"
           "  3  Konvertierung abgebrochen (auch: nicht genügend Arbeitsspeicher); die bis dahin erstellte\n"
           "     Arbeitsmappe wurde geschrieben\n"
           "  4  Konvertierung abgeschlossen, Arbeitsmappe nicht geschrieben (Speichern fehlgeschlagen, z. "
           "B.\n"
           "     kein Speicherplatz oder keine Schreibberechtigung); eine vorhandene Datei bleibt "
           "unverändert.\n"
           "     Ebenso nach einer abgebrochenen Konvertierung, deren Arbeitsmappe nicht gespeichert werden\n"
           "     konnte, und wenn der Bericht (--bericht) nicht geschrieben werden konnte\n"
           "  5  nur bei mehreren Eingaben: eine Konvertierung endete unerwartet (Absturz, Signal, vom "
           "System\n"
           "     beendet)\n"
           "\n"
           "Bei mehreren Eingaben ist der Rückgabewert der höchste ihrer Konvertierungen; ein Aufruffehler,\n"
           "der alle betrifft, ergibt 2, bevor eine beginnt.\n"
           "\n"
           "Meldungen erscheinen auf der Standardfehlerausgabe.\n";
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
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (only_positional || a.empty() || a[0] != '-' || a == "-") {
            if (a.empty())
                fail("Der Name der Eingabedatei ist leer.");
            else
                cl.inputs.emplace_back(a);
            continue;
        }
        if (a == "--") {
            only_positional = true;
        } else if (a == "--nur-kurztexte") {
            cl.options.OnlyShortText = true;
        } else if (a == "--hinweistext") {
            cl.options.ExportNotesText = true;
        } else if (a == "--ohne-fehlerprotokoll") {
            cl.options.LogFaultyLines = false;
        } else if (a == "--ohne-runden") {
            cl.options.RoundPrices = false;
        } else if (a == "--teilsummen") {
            cl.options.SubtotalsSheet = true;
        } else if (a == "--ohne-kalkulationsspalten") {
            cl.options.CalcColumns = false;
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
        } else if (a == "--help" || a == "-h") {
            cl.help = true;
        } else if (a == "--version") {
            cl.version = true;
        } else {
            fail(fmt::format("Unbekannte Option: {}", a));
        }
    }
    if (!cl.inputs.empty()) cl.input = cl.inputs.front();
    if (!cl.help && !cl.version && cl.error.empty()) {
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

std::filesystem::path free_name(const std::filesystem::path& wanted) {
    std::error_code ec;
    if (!std::filesystem::exists(wanted, ec) && !std::filesystem::is_symlink(wanted, ec)) return wanted;
    const std::filesystem::path folder = wanted.parent_path();
    const std::string stem = wanted.stem().string();
    const std::string ext = wanted.extension().string();
    for (int n = 2;; ++n) {
        std::filesystem::path candidate = folder / fmt::format("{} ({}){}", stem, n, ext);
        if (!std::filesystem::exists(candidate, ec) && !std::filesystem::is_symlink(candidate, ec))
            return candidate;
    }
}

std::filesystem::path derived_output(const std::filesystem::path& input) {
    std::filesystem::path out = input;
    out.replace_extension(".xlsx");
    return free_name(out);
}

std::filesystem::path derived_output(const std::filesystem::path& input,
                                     const std::filesystem::path& folder) {
    return free_name(folder / input.filename().replace_extension(".xlsx"));
}

}  // namespace app
