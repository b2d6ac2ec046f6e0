// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include <fmt/format.h>

namespace app {

std::string usage_line() {
    return "Aufruf: bremora-cli [OPTIONEN] EINGABEDATEI [-o AUSGABE.xlsx]";
}

std::string help_text() {
    return usage_line() +
           "\n"
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
           "  --help                      diese Hilfe anzeigen\n"
           "  --version                   die Programmversion anzeigen\n"
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
           "     Ebenso nach einer abgebrochenen Konvertierung, deren Arbeitsmappe nicht gespeichert werden "
           "konnte\n"
           "\n"
           "Meldungen erscheinen auf der Standardfehlerausgabe.\n";
}

CommandLine parse_command_line(const std::vector<std::string>& args) {
    CommandLine cl;
    bool only_positional = false;
    auto fail = [&](std::string text) {
        if (cl.error.empty()) cl.error = std::move(text);
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (only_positional || a.empty() || a[0] != '-' || a == "-") {
            if (!cl.input.empty())
                fail(fmt::format("Es ist nur eine Eingabedatei erlaubt: {}", a));
            else if (a.empty())
                fail("Der Name der Eingabedatei ist leer.");
            else
                cl.input = a;
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
        } else if (a == "--help" || a == "-h") {
            cl.help = true;
        } else if (a == "--version") {
            cl.version = true;
        } else {
            fail(fmt::format("Unbekannte Option: {}", a));
        }
    }
    if (!cl.help && !cl.version && cl.error.empty() && cl.input.empty())
        fail("Es wurde keine Eingabedatei angegeben.");
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

}  // namespace app
