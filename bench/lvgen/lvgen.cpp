// SPDX-License-Identifier: MIT
#include "bench/lvgen/lvgen.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace lvgen {

namespace {

// ---------------------------------------------------------------------------------------------
// Random numbers: splitmix64, the same on every platform and standard library. Every item and
// every range draws from a stream of its own, so that an option that leaves something out (the
// prices, the notes) never shifts what the others get: a bill of phase 83 and its bid of phase
// 84 made with the same seed have the same items.

class Rng {
public:
    explicit Rng(uint64_t state) : m_state(state) {}
    uint64_t next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // lo..hi, both included.
    int64_t between(int64_t lo, int64_t hi) {
        if (hi <= lo) return lo;
        return lo + static_cast<int64_t>(next() % static_cast<uint64_t>(hi - lo + 1));
    }
    bool percent(int p) { return between(0, 99) < p; }
    template <typename T, size_t N>
    const T& pick(const std::array<T, N>& list) {
        return list[static_cast<size_t>(between(0, static_cast<int64_t>(N) - 1))];
    }

private:
    uint64_t m_state;
};

enum Stream : uint64_t { kPlan = 1, kItem = 2, kRange = 3, kHeader = 4, kDamage = 5 };

Rng stream(uint64_t seed, Stream what, uint64_t index) {
    Rng mix(seed * 0xD1B54A32D192ED03ull + what);
    return Rng(mix.next() ^ (index * 0x9E3779B97F4A7C15ull));
}

// ---------------------------------------------------------------------------------------------
// What the bills say. Only letters that code page 850 and Windows-1252 both have.

struct CatalogueEntry {
    const char* text;
    const char* unit;
    int64_t min_cents, max_cents;  // unit price
    int64_t min_qty, max_qty;      // quantity in whole units
    bool whole;                    // counted in whole units (St, h, psch)
};

constexpr std::array<CatalogueEntry, 50> kCatalogue = {{
    {"Oberboden abtragen und seitlich lagern, Dicke 20 cm", "m2", 180, 650, 50, 4000, false},
    {"Baugrube ausheben, Boden der Klassen 3 bis 5, Tiefe bis 2,50 m", "m3", 900, 2600, 20, 3000, false},
    {"Grabenaushub für Leitungen, Sohlbreite 0,60 m", "m3", 1800, 4500, 5, 600, false},
    {"Schottertragschicht 0/32, Dicke 30 cm, lagenweise verdichten", "m2", 900, 2400, 40, 5000, false},
    {"Sauberkeitsschicht aus Beton C8/10, Dicke 5 cm", "m2", 700, 1600, 20, 1500, false},
    {"Ortbeton-Bodenplatte C30/37, Dicke 25 cm, herstellen", "m3", 16000, 32000, 5, 800, false},
    {"Betonstahl B500B, liefern, schneiden, biegen und verlegen", "t", 95000, 180000, 1, 80, false},
    {"Schalung für Wände, glatt, Höhe bis 3,00 m", "m2", 2800, 6500, 20, 2500, false},
    {"Mauerwerk aus Kalksandstein KS 20-2,0, Dicke 17,5 cm", "m2", 4200, 8500, 20, 2500, false},
    {"Mauerwerk aus Porenbeton, Dicke 36,5 cm, im Dünnbettmörtel", "m2", 6800, 12500, 20, 1800, false},
    {"Stahlbetonstütze 30 x 30 cm, Beton C30/37", "m", 9000, 21000, 3, 120, false},
    {"Perimeterdämmung aus XPS, d = 160 mm, WLS 035", "m2", 3200, 6800, 20, 1200, false},
    {"Abdichtung erdberührter Bauteile mit Bitumendickbeschichtung", "m2", 2900, 5800, 20, 1500, false},
    {"Dachlattung 30 x 50 mm, Nadelholz S10, imprägniert", "m2", 900, 2100, 50, 2500, false},
    {"Dachziegel aus Ton, Biberschwanz, Doppeldeckung", "m2", 5500, 9800, 50, 2000, false},
    {"Dachrinne aus Titanzink, halbrund, Größe 333", "m", 3800, 7200, 5, 300, false},
    {"Fallrohr aus Titanzink, DN 100, liefern und montieren", "m", 3300, 6400, 3, 200, false},
    {"Innenputz als Kalkzementputz, zweilagig, Dicke 15 mm", "m2", 1900, 3600, 50, 6000, false},
    {"Wärmedämm-Verbundsystem, Mineralwolle 140 mm, Oberputz 2 mm", "m2", 8500, 14500, 30, 3000, false},
    {"Zementestrich CT-C25-F4 auf Trennlage, Dicke 50 mm", "m2", 1800, 3400, 20, 4000, false},
    {"Bodenfliesen aus Feinsteinzeug, R 10, 30 x 60 cm, im Dünnbett verlegen", "m2", 5200, 9800, 5, 1200,
     false},
    {"Wandfliesen aus Steingut, 20 x 40 cm, Fugenbreite 3 mm", "m2", 4800, 8900, 5, 900, false},
    {"Gipskarton-Ständerwand, Unterkonstruktion CW 75, beidseitig zweilagig beplankt", "m2", 5600, 9900, 10,
     2500, false},
    {"Abgehängte Decke aus Gipskarton, Fugen gespachtelt, Qualitätsstufe Q2", "m2", 4300, 7800, 10, 2000,
     false},
    {"Innentür aus Holz, Röhrenspan, 885 x 2010 mm, komplett", "St", 28000, 95000, 1, 40, true},
    {"Stahltür T30-1, Lichtmaß 1000 x 2125 mm, mit Obentürschließer", "St", 85000, 190000, 1, 12, true},
    {"Fenster aus Kunststoff, Dreifachverglasung Ug = 0,6, 1,01 x 1,26 m", "St", 45000, 98000, 1, 60, true},
    {"Anstrich auf Putz, Dispersionsfarbe, zweimal deckend, weiß", "m2", 450, 1100, 50, 9000, false},
    {"Lackierung von Stahlzargen, Grundierung und zwei Zwischenanstriche", "St", 3500, 7500, 1, 80, true},
    {"Linoleum-Belag 2,5 mm, vollflächig geklebt, Fugen verschweißt", "m2", 3900, 6900, 10, 2500, false},
    {"Sockelleiste aus Eiche, 60 x 16 mm, geschraubt", "m", 1200, 2600, 10, 900, false},
    {"Treppengeländer aus Flachstahl, feuerverzinkt, Höhe 1,00 m", "m", 22000, 48000, 2, 60, false},
    {"Arbeitsgerüst, Lastklasse 3, Breitenklasse W09, Standzeit 4 Wochen", "m2", 600, 1500, 50, 5000, false},
    {"Baustelleneinrichtung, vorhalten und räumen", "psch", 150000, 2500000, 1, 1, true},
    {"Kunststoffrohr PVC-U KG, DN 150, in Rohrgraben verlegen", "m", 2400, 5200, 5, 600, false},
    {"Kontrollschacht aus Betonfertigteilen, DN 1000, Tiefe bis 2,00 m", "St", 120000, 260000, 1, 15, true},
    {"Pflaster aus Betonsteinen, 20 x 10 x 8 cm, im Fischgrätverband", "m2", 3900, 6800, 20, 3000, false},
    {"Rasenfläche herstellen, Oberboden andecken, Saatgut RSM 2.3", "m2", 350, 950, 50, 8000, false},
    {"Stundenlohnarbeiten Facharbeiter, nur auf Anordnung", "h", 4500, 7500, 5, 200, true},
    {"Entsorgung von Bauschutt, Zuordnungsklasse Z 1.1, einschließlich Gebühren", "t", 2500, 9500, 1, 400,
     false},
    {"Heizkörper aus Stahl, Typ 22, 600 x 1000 mm, mit Thermostatventil", "St", 32000, 61000, 1, 90, true},
    {"Kupferrohr 15 x 1 mm, in Schlitzen verlegen, mit Dämmung", "m", 2100, 4300, 10, 1500, false},
    {"Waschtischanlage aus Sanitärporzellan, 600 x 480 mm, komplett", "St", 38000, 79000, 1, 40, true},
    {"Steckdose, zweifach, unter Putz, Schalterprogramm reinweiß", "St", 2900, 6400, 1, 400, true},
    {"Kabel NYM-J 3 x 1,5 mm², unter Putz verlegen", "m", 350, 900, 50, 6000, false},
    {"Dämmung der obersten Geschossdecke, Mineralwolle 240 mm", "m2", 2200, 4100, 20, 1500, false},
    {"Öffnungen bis 2,50 m² in Mauerwerk herstellen, Sturz ausbilden", "St", 18000, 42000, 1, 30, true},
    {"Zulage für Sichtbeton SB 3, Schalhaut glatt", "m2", 1100, 2600, 10, 1500, false},
    {"Abbruch von Mauerwerk aus Ziegel, Dicke bis 36,5 cm", "m3", 6500, 14500, 1, 200, false},
    {"Fugenabdichtung mit Silikon, Breite bis 10 mm", "m", 450, 1100, 10, 2000, false},
}};

constexpr std::array<const char*, 34> kSentences = {
    "Ausführung nach DIN 18331 und den Angaben des Herstellers.",
    "Die Abrechnung erfolgt nach Aufmaß am fertigen Bauteil.",
    "Ebenheitsabweichungen über 4 mm auf 1 m Messlänge sind nachzuarbeiten.",
    "Toleranzen nach DIN 18202, Tabelle 3, Zeile 6.",
    "Öffnungen bis 2,50 m² werden übermessen.",
    "Einschließlich aller Neben- und Anpassungsarbeiten.",
    "Das Material ist vor Feuchtigkeit geschützt zu lagern.",
    "Höhenangaben beziehen sich auf ±0,00 = 212,40 m ü. NHN.",
    "Bohrungen Ø 12 mm nach Angabe des Herstellers.",
    "Wärmeleitfähigkeit höchstens 0,035 W/(mK), Rohdichte mindestens 30 kg/m³.",
    "Verarbeitungstemperatur nicht unter +5 °C.",
    "Prüfzeugnisse sind vor dem Einbau vorzulegen.",
    "Farbton nach Wahl des Auftraggebers aus der Standardkollektion.",
    "Vorhandene Leitungen sind zu sichern und vor Beginn der Arbeiten zu orten.",
    "Überschüssiger Boden geht in das Eigentum des Auftragnehmers über und ist abzufahren.",
    "Anschlüsse an angrenzende Bauteile sind dauerelastisch auszubilden.",
    "Die Schichtdicke beträgt im Mittel 15 mm, an keiner Stelle unter 10 mm.",
    "Kanten mit Kantenschutzprofil aus verzinktem Stahl ausbilden.",
    "Baustoffklasse A1 nach DIN EN 13501-1.",
    "Befestigung mit zugelassenen Dübeln, 6 Stück je m².",
    "Der Schutz der fertigen Flächen bis zur Abnahme ist einzurechnen.",
    "Bedenken sind dem Auftraggeber unverzüglich schriftlich mitzuteilen.",
    "Korngröße 0/32 mm, Verdichtungsgrad DPr mindestens 100 %.",
    "Die Leistung umfasst Liefern, Abladen, Lagern und fachgerechtes Einbauen.",
    "Gemessen wird die Länge in der Achse, Formstücke werden übermessen.",
    "Die Oberfläche ist staubfrei, tragfähig und frei von Trennmitteln herzustellen.",
    "Der Nachweis der Standsicherheit obliegt dem Auftragnehmer.",
    "Rückstände sind täglich zu beseitigen und getrennt nach Abfallschlüssel zu entsorgen.",
    "Mindestens 60 µm Trockenschichtdicke je Anstrich.",
    "Eine Bemusterung von drei Varianten ist in den Einheitspreis einzurechnen.",
    "Maße sind vor der Fertigung am Bau zu nehmen, Abweichungen sind zu melden.",
    "Gefälle 2 % zum Bodenablauf hin, Ausführung mit Kehlen.",
    "Einbauteile bis 0,5 m³ Rauminhalt werden nicht abgezogen.",
    "Größtkorn 16 mm, Konsistenz F3, Expositionsklassen XC4 und XF1.",
};

constexpr std::array<const char*, 6> kNoteHeadings = {
    "Hinweise zur Ausführung", "Vorbemerkungen",          "Allgemeine Vorbemerkungen",
    "Baustellenbedingungen",   "Hinweise zur Abrechnung", "Technische Vorbemerkungen",
};

constexpr std::array<const char*, 12> kNoteSentences = {
    "Arbeitszeiten: Montag bis Freitag von 7:00 bis 18:00 Uhr.",
    "Lagerflächen stehen nur nach Absprache mit der Bauleitung zur Verfügung.",
    "Für die Ausführung gelten die beigefügten Pläne und Details.",
    "Sämtliche Abfälle sind getrennt zu sammeln und nachweislich zu entsorgen.",
    "Baustrom und Bauwasser stellt der Auftraggeber; die Verbräuche werden umgelegt.",
    "Vor Ausführung sind alle Maße am Bau zu prüfen.",
    "Die Zufahrt zur Baustelle erfolgt ausschließlich über die Nordstraße.",
    "Der Schulbetrieb läuft während der Bauzeit weiter; lärmintensive Arbeiten sind abzustimmen.",
    "Die Einheitspreise gelten für alle Geschosse und Höhenlagen.",
    "Stundenlohnarbeiten werden nur nach vorheriger schriftlicher Anordnung vergütet.",
    "Der Auftragnehmer führt täglich Bautagesberichte.",
    "Abweichungen von den Vorgaben bedürfen der Zustimmung des Auftraggebers.",
};

constexpr std::array<const char*, 6> kRules = {
    "Es gelten die VOB/B und die VOB/C in der bei Vertragsschluss gültigen Fassung.",
    "Die Ausführungsfristen ergeben sich aus dem beigefügten Bauzeitenplan.",
    "Für jeden Werktag der Überschreitung wird eine Vertragsstrafe von 0,2 % der Auftragssumme vereinbart.",
    "Die Verjährungsfrist für Mängelansprüche beträgt fünf Jahre ab Abnahme.",
    "Als Sicherheit für Mängelansprüche werden 5 % der Abrechnungssumme einbehalten.",
    "Abschlagszahlungen werden monatlich nach dem Leistungsstand geleistet.",
};

constexpr std::array<const char*, 20> kTrades = {
    "Erdarbeiten",
    "Beton- und Stahlbetonarbeiten",
    "Mauerarbeiten",
    "Zimmer- und Holzbauarbeiten",
    "Dachdeckungsarbeiten",
    "Klempnerarbeiten",
    "Putz- und Stuckarbeiten",
    "Wärmedämm-Verbundsysteme",
    "Estricharbeiten",
    "Fliesen- und Plattenarbeiten",
    "Trockenbauarbeiten",
    "Tischlerarbeiten",
    "Metallbauarbeiten",
    "Maler- und Lackierarbeiten",
    "Bodenbelagarbeiten",
    "Gerüstarbeiten",
    "Entwässerungskanalarbeiten",
    "Landschaftsbauarbeiten",
    "Abbruch- und Rückbauarbeiten",
    "Heizungs- und Sanitärinstallation",
};

constexpr std::array<const char*, 12> kParts = {
    "Untergeschoss",    "Erdgeschoss",  "1. Obergeschoss", "2. Obergeschoss", "Dachgeschoss", "Außenanlagen",
    "Treppenhaus Nord", "Nebengebäude", "Tiefgarage",      "Bauteil A",       "Bauteil B",    "Bauteil Süd",
};

constexpr std::array<const char*, 4> kDeeper = {"Bauabschnitt", "Achse", "Raumgruppe", "Teilleistung"};

constexpr std::array<const char*, 8> kSubDescriptions = {
    "Zulage für Arbeiten über Kopf",    "Mehrpreis für Sichtflächen in Qualität SB 3",
    "Zulage für Kleinflächen bis 2 m²", "Ausführung in Räumen unter 4 m² Grundfläche",
    "Zulage für gebogene Ausführung",   "Mehrpreis für Farbton nach RAL-Karte",
    "Ausführung im Gefälle über 5 %",   "Zulage für Arbeiten in Höhen über 3,50 m",
};

struct Project {
    const char* name;
    const char* client;
    const char* street;
    const char* postcode;
    const char* city;
};
constexpr std::array<Project, 6> kProjects = {{
    {"Erweiterung Feuerwehrgerätehaus Süd", "Gemeinde Großbüllesheim", "Rathausplatz 1", "53881",
     "Großbüllesheim"},
    {"Neubau Kindertagesstätte Am Mühlbach", "Stadt Mühlhausen", "Marktstraße 12", "99974", "Mühlhausen"},
    {"Sanierung Grundschule Östliche Vorstadt", "Kirchengemeinde St. Ägidius", "Kirchplatz 2", "28203",
     "Bremen"},
    {"Umbau Rathaus, 2. Bauabschnitt", "Landkreis Südheide", "Schloßstraße 7", "29221", "Celle"},
    {"Neubau Sporthalle Güterbahnhof", "Stadtwerke Überlingen GmbH", "Bahnhofstraße 30", "88662",
     "Überlingen"},
    {"Erschließung Gewerbegebiet Nord", "Wohnungsbaugesellschaft Mönchberg eG", "Am Hügel 4", "97234",
     "Reichenberg"},
}};

// ---------------------------------------------------------------------------------------------
// Text: UTF-8 inside, the file's code page outside.

// The code point at `i`, advancing `i`; the tables above hold valid UTF-8 only.
char32_t next_code_point(std::string_view s, size_t& i) {
    const auto b = static_cast<unsigned char>(s[i++]);
    if (b < 0x80) return b;
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
    char32_t cp = b & (0x3F >> extra);
    while (extra-- > 0 && i < s.size()) cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
    return cp;
}

size_t length(std::string_view s) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++n) next_code_point(s, i);
    return n;
}

// The letters beyond ASCII that the texts use, in code page 850.
const std::map<char32_t, unsigned char>& cp850_table() {
    static const std::map<char32_t, unsigned char> table = {
        {U'ä', 0x84}, {U'ö', 0x94}, {U'ü', 0x81}, {U'Ä', 0x8E}, {U'Ö', 0x99}, {U'Ü', 0x9A}, {U'ß', 0xE1},
        {U'²', 0xFD}, {U'³', 0xFC}, {U'°', 0xF8}, {U'±', 0xF1}, {U'Ø', 0x9D}, {U'µ', 0xE6}, {U'é', 0x82},
    };
    return table;
}

// UTF-8 to a single-byte code page: Windows-1252 equals Latin-1 for every letter used here.
std::string to_code_page(std::string_view utf8, bool cp850) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const char32_t cp = next_code_point(utf8, i);
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp850) {
            const auto it = cp850_table().find(cp);
            if (it == cp850_table().end()) throw std::logic_error("lvgen: letter without code page 850 byte");
            out.push_back(static_cast<char>(it->second));
        } else {
            if (cp > 0xFF) throw std::logic_error("lvgen: letter outside Windows-1252");
            out.push_back(static_cast<char>(cp));
        }
    }
    return out;
}

// Lines of at most `width` characters, cut at blanks (a longer word is cut where it must).
std::vector<std::string> wrap(std::string_view text, size_t width) {
    std::vector<std::string> lines;
    std::string line;
    size_t line_len = 0;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        const size_t start = i;
        while (i < text.size() && text[i] != ' ') ++i;
        std::string_view word = text.substr(start, i - start);
        if (word.empty()) break;
        size_t word_len = length(word);
        if (line_len > 0 && line_len + 1 + word_len > width) {
            lines.push_back(std::move(line));
            line.clear();
            line_len = 0;
        }
        while (word_len > width) {  // no blank to cut at
            size_t cut = 0;
            for (size_t n = 0; n < width; ++n) next_code_point(word, cut);
            lines.emplace_back(word.substr(0, cut));
            word.remove_prefix(cut);
            word_len -= width;
        }
        if (line_len > 0) {
            line += ' ';
            ++line_len;
        }
        line += word;
        line_len += word_len;
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

std::string xml_escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out.push_back(c);
    }
    return out;
}

// RTF of paragraphs, the way GAEB 2000 long texts carry them: letters beyond ASCII as \'xx of
// Windows-1252, one paragraph per line of the file.
std::string rtf(const std::vector<std::string>& paragraphs) {
    std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}";
    for (size_t p = 0; p < paragraphs.size(); ++p) {
        if (p > 0) out += "\r\n";
        out += "\\pard\\plain\\f0\\fs20 ";
        for (const char c : to_code_page(paragraphs[p], false)) {
            const auto b = static_cast<unsigned char>(c);
            if (b >= 0x80)
                out += fmt::format("\\'{:02x}", b);
            else if (c == '\\' || c == '{' || c == '}')
                out += std::string("\\") + c;
            else
                out.push_back(c);
        }
        out += "\\par";
    }
    return out + "}";
}

// "1234.50" of 123450 cents; `decimals` 2 or 3 (thousandths).
std::string decimal(int64_t value, int decimals, char separator = '.') {
    const int64_t unit = decimals == 3 ? 1000 : 100;
    const bool negative = value < 0;
    const int64_t v = negative ? -value : value;
    return fmt::format("{}{}{}{:0{}}", negative ? "-" : "", v / unit, separator, v % unit, decimals);
}

// ---------------------------------------------------------------------------------------------
// The bill's shape: lowest ranges, their numbers, their item counts.

enum class Kind { Normal, WithTotal, WithoutTotal };

struct Item {
    std::string text;  // short text
    std::string unit;
    int64_t quantity = 0;  // thousandths
    int64_t price = 0;     // cents
    int64_t total = 0;     // cents, quantity x price rounded half up
    Kind kind = Kind::Normal;
    std::vector<std::string> paragraphs;  // long text
    char index = 0;                       // 'A'.. or 0
    bool sub = false;                     // a sub-description follows
    std::string sub_text;
    int64_t sub_quantity = 0;  // thousandths, 0: none
    std::string sub_paragraph;
};

struct Shape {
    int levels = 0;
    int level_width = 2;                  // digits of each range level
    int item_width = 4;                   // digits of the item number
    std::vector<int64_t> sizes;           // items of each lowest range, in order
    std::vector<std::vector<int>> paths;  // numbers of each lowest range, one per level
};

int digits(int64_t n) {
    int d = 1;
    while (n >= 10) {
        n /= 10;
        ++d;
    }
    return d;
}

Shape make_shape(const Options& o) {
    Shape s;
    s.levels = o.levels;
    s.level_width = o.format == Format::Gaeb90 && o.levels > 2 ? 1 : 2;
    Rng rng = stream(o.seed, kPlan, 0);
    if (o.levels == 0) {
        s.sizes = {o.items};
        s.paths = {{}};
    } else {
        const int64_t cap = s.level_width == 1 ? 9 : 99;
        int64_t capacity = 1;
        for (int l = 0; l < o.levels; ++l) capacity *= cap;
        // Ranges hold at least half the average, so the average is raised until they fit.
        int64_t per_group = std::max<int64_t>(o.per_group, (2 * o.items + capacity - 1) / capacity + 1);
        const int64_t lo = std::max<int64_t>(1, per_group / 2), hi = std::max(lo, per_group + per_group / 2);
        for (int64_t left = o.items; left > 0;) {
            const int64_t n = std::min(left, rng.between(lo, hi));
            s.sizes.push_back(n);
            left -= n;
        }
        const auto groups = static_cast<double>(s.sizes.size());
        const auto inner = std::clamp<int64_t>(
            static_cast<int64_t>(std::ceil(std::pow(groups, 1.0 / o.levels) - 1e-9)), 2, cap);
        std::vector<int> path(static_cast<size_t>(o.levels), 1);
        for (size_t g = 0; g < s.sizes.size(); ++g) {
            if (g > 0) {
                int l = o.levels - 1;
                while (l > 0 && path[static_cast<size_t>(l)] >= inner) path[static_cast<size_t>(l--)] = 1;
                ++path[static_cast<size_t>(l)];
            }
            s.paths.push_back(path);
        }
    }
    const int64_t largest = *std::max_element(s.sizes.begin(), s.sizes.end());
    s.item_width = std::max(4, digits(10 * largest));
    return s;
}

std::string padded(int64_t n, int width) {
    return fmt::format("{:0{}}", n, width);
}

// The digits of a range down to `level` (0 the top).
std::string range_number(const Shape& s, const std::vector<int>& path, int level) {
    std::string out;
    for (int l = 0; l <= level; ++l) out += padded(path[static_cast<size_t>(l)], s.level_width);
    return out;
}

std::string range_title(const Options& o, int level, int number, int64_t ordinal) {
    Rng rng = stream(o.seed, kRange, static_cast<uint64_t>(ordinal));
    if (level == 0)
        return kTrades[static_cast<size_t>(number - 1 + static_cast<int>(o.seed % 7)) % kTrades.size()];
    if (level == 1) return rng.pick(kParts);
    const char* word = kDeeper[static_cast<size_t>(level - 2) % kDeeper.size()];
    return level == 3 ? fmt::format("{} {}", word, static_cast<char>('A' + (number - 1) % 26))
                      : fmt::format("{} {}", word, number);
}

// Notes of the bill (ordinal -1) or of a range: a heading and a few sentences.
struct Notes {
    std::string heading;
    std::vector<std::string> sentences;
};

std::optional<Notes> range_notes(const Options& o, int level, int64_t ordinal) {
    if (!o.notes) return std::nullopt;
    Rng rng = stream(o.seed, kRange, static_cast<uint64_t>(ordinal) + 0x5EED0000ull);
    if (level > 0 && !rng.percent(25)) return std::nullopt;
    Notes n;
    n.heading = rng.pick(kNoteHeadings);
    const int64_t count = rng.between(2, 4);
    for (int64_t i = 0; i < count; ++i) n.sentences.emplace_back(rng.pick(kNoteSentences));
    return n;
}

std::string paragraph(Rng& rng, int64_t sentences) {
    std::string p;
    for (int64_t i = 0; i < sentences; ++i) {
        if (i > 0) p += ' ';
        p += rng.pick(kSentences);
    }
    return p;
}

Item make_item(const Options& o, int64_t number) {
    Rng rng = stream(o.seed, kItem, static_cast<uint64_t>(number));
    const CatalogueEntry& e = rng.pick(kCatalogue);
    Item it;
    it.text = e.text;
    it.unit = e.unit;
    if (e.whole) {
        it.quantity = rng.between(e.min_qty, e.max_qty) * 1000;
    } else {
        it.quantity = rng.between(e.min_qty * 1000, e.max_qty * 1000);
        if (rng.percent(40)) it.quantity = std::max<int64_t>(10, it.quantity / 10 * 10);
    }
    it.price = rng.between(e.min_cents, e.max_cents);
    it.total = (it.quantity * it.price + 500) / 1000;
    const int64_t k = rng.between(0, 99);
    if (number > 0) it.kind = k < 3 ? Kind::WithoutTotal : k < 6 ? Kind::WithTotal : Kind::Normal;
    const bool indexed = rng.percent(4);
    const char index = static_cast<char>('A' + rng.between(0, 2));
    if (o.index && indexed) it.index = index;
    const bool sub = rng.percent(12);
    it.sub_text = rng.pick(kSubDescriptions);
    it.sub_paragraph = rng.pick(kSentences);
    const bool sub_quantity = rng.percent(50);
    const int64_t sub_units = rng.between(1, 50);
    it.sub_quantity = sub_quantity ? std::min(it.quantity, sub_units * 1000) : 0;
    it.sub = o.subdescr && sub;
    // Long text last, as its length depends on --long-lines: paragraphs of one to three
    // sentences, now and then a long one.
    const bool long_one = rng.percent(5);
    for (int p = 0; p < std::max(o.long_lines, 1); ++p)
        it.paragraphs.push_back(paragraph(rng, long_one && p == 0 ? rng.between(6, 10) : rng.between(1, 3)));
    return it;
}

// Whether the item counts in the bill's total as the file shows it.
bool counts(const Options& o, const Item& it) {
    // A GAEB 90 bid carries a total for every item, and the workbook takes it.
    if (o.format == Format::Gaeb90 && o.phase == 84) return true;
    return it.kind != Kind::WithoutTotal;
}

bool with_prices(const Options& o) {
    return o.phase == 84 || !o.no_prices;
}

std::string date_text(const Options& o, bool four_digit_year, bool iso) {
    Rng rng = stream(o.seed, kHeader, 1);
    const int64_t day = rng.between(1, 28), month = rng.between(1, 12), year = 2024 + rng.between(0, 2);
    if (iso) return fmt::format("{}-{:02}-{:02}", year, month, day);
    return four_digit_year ? fmt::format("{:02}.{:02}.{}", day, month, year)
                           : fmt::format("{:02}.{:02}.{:02}", day, month, year % 100);
}

const Project& project(const Options& o) {
    Rng rng = stream(o.seed, kHeader, 2);
    return rng.pick(kProjects);
}

std::string bill_name(const Options& o) {
    Rng rng = stream(o.seed, kHeader, 3);
    return fmt::format("LV {:02} {}", rng.between(1, 30),
                       o.levels > 0 ? kTrades[o.seed % 7] : "Gesamtleistung");
}

// ---------------------------------------------------------------------------------------------
// Output: a buffer written out in pieces, or kept whole in memory.

class Sink {
public:
    explicit Sink(std::FILE* file) : m_file(file) { m_buffer.reserve(kPiece + 4096); }

    void put(std::string_view bytes) {
        m_buffer.append(bytes);
        m_bytes += static_cast<int64_t>(bytes.size());
        if (m_file && m_buffer.size() >= kPiece) flush();
    }
    void flush() {
        if (!m_file || m_buffer.empty()) return;
        if (std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_file) != m_buffer.size())
            throw std::runtime_error(std::string("Schreiben fehlgeschlagen: ") + std::strerror(errno));
        m_buffer.clear();
    }
    std::string& memory() { return m_buffer; }
    int64_t bytes() const { return m_bytes; }

private:
    static constexpr size_t kPiece = size_t{1} << 20;
    std::FILE* m_file;
    std::string m_buffer;
    int64_t m_bytes = 0;
};

// Walks the shape: ranges opened and closed around the items, in file order.
class Walk {
public:
    Walk(const Options& o, const Shape& s) : m_o(o), m_s(s) {}
    virtual ~Walk() = default;

    void run() {
        std::vector<int> open;
        int64_t item = 0;
        for (size_t g = 0; g < m_s.sizes.size(); ++g) {
            const std::vector<int>& path = m_s.paths[g];
            int same = 0;
            while (same < static_cast<int>(open.size()) &&
                   open[static_cast<size_t>(same)] == path[static_cast<size_t>(same)])
                ++same;
            for (int l = static_cast<int>(open.size()) - 1; l >= same; --l) close_range(open, l);
            open.resize(static_cast<size_t>(same));
            for (int l = same; l < m_s.levels; ++l) {
                open.push_back(path[static_cast<size_t>(l)]);
                open_range(open, l, m_ranges++);
            }
            begin_items();
            for (int64_t n = 1; n <= m_s.sizes[g]; ++n, ++item) {
                const Item it = make_item(m_o, item);
                if (counts(m_o, it)) m_total += it.total;
                write_item(it, range_prefix(open) + padded(10 * n, m_s.item_width), item);
            }
            end_items();
        }
        for (int l = static_cast<int>(open.size()) - 1; l >= 0; --l) close_range(open, l);
    }

    int64_t ranges() const { return m_ranges; }
    int64_t total() const { return m_total; }

protected:
    std::string range_prefix(const std::vector<int>& open) const {
        return open.empty() ? std::string() : range_number(m_s, open, static_cast<int>(open.size()) - 1);
    }
    virtual void open_range(const std::vector<int>& open, int level, int64_t ordinal) = 0;
    virtual void close_range(const std::vector<int>& open, int level) = 0;
    virtual void begin_items() {}
    virtual void end_items() {}
    virtual void write_item(const Item& it, const std::string& oz, int64_t number) = 0;

    const Options& m_o;
    const Shape& m_s;
    int64_t m_ranges = 0;
    int64_t m_total = 0;
};

// The bill's total before it is written (GAEB DA XML states it in its header).
int64_t bill_total(const Options& o, const Shape& s) {
    int64_t total = 0, item = 0;
    for (const int64_t size : s.sizes)
        for (int64_t n = 0; n < size; ++n, ++item) {
            const Item it = make_item(o, item);
            if (counts(o, it)) total += it.total;
        }
    return total;
}

// ---------------------------------------------------------------------------------------------
// GAEB 90: records of 80 columns in code page 850. Record 00 holds the exchange phase (columns
// 11-12) and the OZ mask (63-71); 01 to 03 the header; 11/12/31 open, name and close a range;
// 21 an item (OZ 3-11, kind 12-14, quantity 24-34, unit 35-38), 23 its prices (unit price 12-23,
// total 24-36), 24 a sub-description, 25 short-text lines, 26 long-text lines (6-60); 20 turns
// the long-text lines that follow into notes; T0/T1/T9 the contractual rules; 99 the end.

class Gaeb90Writer : public Walk {
public:
    Gaeb90Writer(const Options& o, const Shape& s, Sink& out) : Walk(o, s), m_out(out) {}

    void write() {
        if (m_o.rules) {
            record("T0", {{3, "Vertragliche Regelungen"}});
            for (const char* rule : kRules)
                for (const std::string& line : wrap(rule, 72)) record("T1", {{3, line}});
            record("T9", {});
        }
        std::string mask;
        for (int l = 0; l < m_s.levels; ++l)
            mask += std::string(static_cast<size_t>(m_s.level_width), static_cast<char>('1' + l));
        mask += std::string(static_cast<size_t>(m_s.item_width), 'P');
        if (m_o.index) mask += 'I';
        record("00", {{11, std::to_string(m_o.phase)}, {63, mask}});
        const Project& p = project(m_o);
        record("01", {{3, field(bill_name(m_o), 40)}, {43, date_text(m_o, false, false)}});
        record("02", {{3, field(p.name, 60)}});
        record("03", {{3, field(p.client, 60)}});
        if (m_o.notes) {
            Rng rng = stream(m_o.seed, kHeader, 4);
            notes({rng.pick(kNoteHeadings),
                   {rng.pick(kNoteSentences), rng.pick(kNoteSentences), rng.pick(kNoteSentences)}});
        }
        run();
        record("99", {});
    }

private:
    struct Field {
        int column;        // 1-based
        std::string text;  // UTF-8
    };

    // A text cut to `width` characters.
    static std::string field(std::string_view text, size_t width) {
        const std::vector<std::string> lines = wrap(text, width);
        return lines.empty() ? std::string() : lines.front();
    }

    std::string numeric(int64_t value, int width) const {
        std::string digits_text = std::to_string(value);
        const size_t fill =
            static_cast<size_t>(width) - std::min(static_cast<size_t>(width), digits_text.size());
        return std::string(fill, m_o.pad_blank ? ' ' : '0') + digits_text;
    }

    void record(std::string_view type, const std::vector<Field>& fields) {
        std::string line(80, ' ');
        line.replace(0, 2, type);
        for (const Field& f : fields) {
            const std::string bytes = to_code_page(f.text, true);
            const size_t at = static_cast<size_t>(f.column - 1);
            line.replace(at, std::min(bytes.size(), 80 - at), bytes.substr(0, 80 - at));
        }
        if (m_o.ragged) line.erase(line.find_last_not_of(' ') + 1);
        line += "\r\n";
        m_out.put(line);
    }

    void notes(const Notes& n) {
        record("20", {});
        record("26", {{6, field(n.heading, 55)}});
        std::string text;
        for (const std::string& s : n.sentences) text += (text.empty() ? "" : " ") + s;
        for (const std::string& line : wrap(text, 55)) record("26", {{6, line}});
    }

    void open_range(const std::vector<int>& open, int level, int64_t ordinal) override {
        record("11", {{3, range_number(m_s, open, level)}});
        record("12", {{3, field(range_title(m_o, level, open.back(), ordinal), 40)}});
        if (const auto n = range_notes(m_o, level, ordinal)) notes(*n);
    }

    void close_range(const std::vector<int>& open, int level) override {
        record("31", {{3, range_number(m_s, open, level)}});
    }

    void write_item(const Item& it, const std::string& oz, int64_t number) override {
        const std::string full_oz = oz + (it.index ? std::string(1, it.index) : "");
        const char* kind = it.kind == Kind::WithoutTotal ? "NEN" : it.kind == Kind::WithTotal ? "NMN" : "NNN";
        record("21", {{3, full_oz},
                      {12, kind},
                      {24, numeric(it.quantity / 1000, 8)},
                      {32, padded(it.quantity % 1000, 3)},
                      {35, it.unit}});
        if (with_prices(m_o)) {
            record("23", {{3, full_oz},
                          {12, numeric(it.price / 100, 9)},
                          {21, padded(it.price % 100 * 10, 3)},
                          {25, numeric(it.total / 100, 10)},
                          {35, padded(it.total % 100, 2)}});
        }
        for (const std::string& line : wrap(it.text, 70)) record("25", {{3, line}});
        if (m_o.long_lines > 0) {
            std::string text;
            for (const std::string& p : it.paragraphs) text += (text.empty() ? "" : " ") + p;
            std::vector<std::string> lines = wrap(text, 55);
            // Exactly as many lines as asked for: more sentences where the text is short.
            Rng more = stream(m_o.seed, kItem, static_cast<uint64_t>(number) | (uint64_t{1} << 62));
            while (lines.size() < static_cast<size_t>(m_o.long_lines)) {
                for (std::string& l : wrap(more.pick(kSentences), 55)) lines.push_back(std::move(l));
            }
            lines.resize(static_cast<size_t>(m_o.long_lines));
            for (const std::string& line : lines) record("26", {{6, line}});
        }
        if (it.sub) {
            std::vector<Field> f = {{3, "01"}};
            if (it.sub_quantity > 0) {
                f.push_back({6, numeric(it.sub_quantity / 1000, 8)});
                f.push_back({14, padded(it.sub_quantity % 1000, 3)});
                f.push_back({17, it.unit});
            }
            record("24", f);
            record("25", {{3, field(it.sub_text, 70)}});
            for (const std::string& line : wrap(it.sub_paragraph, 55)) record("26", {{6, line}});
        }
    }

    Sink& m_out;
};

// ---------------------------------------------------------------------------------------------
// GAEB 2000: blocks from #begin[NAME] to #end[NAME], values as [KEY]value[end]; Windows-1252
// unless the file starts with a UTF-8 byte-order mark; long texts as RTF.

class Gaeb2000Writer : public Walk {
public:
    Gaeb2000Writer(const Options& o, const Shape& s, Sink& out) : Walk(o, s), m_out(out) {}

    void write() {
        if (utf8()) m_out.put("\xEF\xBB\xBF");
        const Project& p = project(m_o);
        line("#begin[GAEB]");
        line("#begin[GAEBInfo]");
        key("Version", "1.2");
        key("Datum", date_text(m_o, true, false));
        key("Zeit", "08:15");
        key("Programmsystem", "Bremora LV-Generator");
        line("#end[GAEBInfo]");
        line("#begin[PrjInfo]");
        key("Name", fmt::format("P-{}-{:03}", 2024 + m_o.seed % 3, m_o.seed % 1000));
        key("Bez", p.name);
        line("#end[PrjInfo]");
        line("#begin[Vergabe]");
        key("DP", std::to_string(m_o.phase));
        line("#begin[VergabeInfo]");
        key("Wae", "EUR");
        line("#end[VergabeInfo]");
        line("#begin[AG]");
        line("#begin[Adresse]");
        key("Name1", p.client);
        key("Strasse", p.street);
        key("PLZ", p.postcode);
        key("Ort", p.city);
        line("#end[Adresse]");
        line("#end[AG]");
        Rng rng = stream(m_o.seed, kHeader, 4);
        if (m_o.notes) {
            line("#begin[ZusText]");
            key("Text", rng.pick(kNoteHeadings));
            key("TextRTF", rtf({rng.pick(kNoteSentences), rng.pick(kNoteSentences)}));
            line("#end[ZusText]");
        }
        line("#begin[LV]");
        line("#begin[LVInfo]");
        key("Bez", bill_name(m_o));
        key("Datum", date_text(m_o, true, false));
        for (int l = 0; l < m_s.levels; ++l) glied("LVStufe", m_s.level_width);
        glied("Position", m_s.item_width);
        line("#end[LVInfo]");
        if (m_o.notes)
            hinweis({rng.pick(kNoteHeadings), {rng.pick(kNoteSentences), rng.pick(kNoteSentences)}});
        run();
        line("#end[LV]");
        line("#end[Vergabe]");
        line("#end[GAEB]");
    }

private:
    bool utf8() const { return m_o.encoding == "utf-8-sig"; }

    void line(std::string_view text) {
        m_out.put(utf8() ? std::string(text) : to_code_page(text, false));
        m_out.put("\r\n");
    }
    void key(std::string_view name, std::string_view value) { line(fmt::format("[{}]{}[end]", name, value)); }
    void glied(std::string_view type, int length) {
        line("#begin[LVGlied]");
        key("Typ", type);
        key("Laenge", std::to_string(length));
        line("#end[LVGlied]");
    }
    void hinweis(const Notes& n) {
        line("#begin[Hinweis]");
        key("Kurztext", n.heading);
        key("Langtext", rtf(n.sentences));
        line("#end[Hinweis]");
    }
    std::string money(int64_t cents) const { return decimal(cents, 2, m_o.price_comma ? ',' : '.'); }

    void open_range(const std::vector<int>& open, int level, int64_t ordinal) override {
        line("#begin[LVBereich]");
        key("OZ", range_number(m_s, open, level));
        key("Bez", range_title(m_o, level, open.back(), ordinal));
        if (const auto n = range_notes(m_o, level, ordinal)) hinweis(*n);
    }
    void close_range(const std::vector<int>&, int) override { line("#end[LVBereich]"); }

    void write_item(const Item& it, const std::string& oz, int64_t) override {
        line("#begin[Position]");
        key("OZ", oz);
        if (it.kind == Kind::WithoutTotal) key("Bedarf", "E");
        if (it.kind == Kind::WithTotal) key("Bedarf", "M");
        key("Menge", decimal(it.quantity, 3));
        key("ME", it.unit);
        if (with_prices(m_o)) key("EP", money(it.price));
        if (m_o.phase == 84 && it.kind != Kind::WithoutTotal) key("GB", money(it.total));
        key("Kurztext", it.text);
        if (m_o.long_lines > 0) {
            line("#begin[Beschreibung]");
            key("Langtext", rtf(it.paragraphs));
            line("#end[Beschreibung]");
        }
        if (it.sub) {
            line("#begin[UnterBeschr]");
            key("UbNr", "01");
            if (it.sub_quantity > 0) {
                key("Menge", decimal(it.sub_quantity, 3));
                key("ME", it.unit);
            }
            key("Kurztext", it.sub_text);
            line("#begin[Beschreibung]");
            key("Langtext", rtf({it.sub_paragraph}));
            line("#end[Beschreibung]");
            line("#end[UnterBeschr]");
        }
        line("#end[Position]");
    }

    Sink& m_out;
};

// ---------------------------------------------------------------------------------------------
// GAEB DA XML 3.3 in UTF-8: BoQCtgy ranges (RNoPart), Itemlist/Item with Qty, QU, UP and in phase
// 84 IT, texts as Description/CompleteText (DetailTxt long text, OutlineText short text), notes
// as Remark; in phase 84 the totals of every range and of the bill.

class XmlWriter : public Walk {
public:
    XmlWriter(const Options& o, const Shape& s, Sink& out) : Walk(o, s), m_out(out) {}

    void write() {
        if (m_o.encoding == "utf-8-sig") m_out.put("\xEF\xBB\xBF");
        const Project& p = project(m_o);
        m_out.put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
        open(fmt::format("GAEB xmlns=\"http://www.gaeb.de/GAEB_DA_XML/DA{}/3.3\"", m_o.phase));
        open("GAEBInfo");
        element("Version", "3.3");
        element("VersDate", "2021-05");
        element("Date", date_text(m_o, true, true));
        element("Time", "08:15:00");
        element("ProgSystem", "Bremora LV-Generator");
        close("GAEBInfo");
        open("PrjInfo");
        element("NamePrj", fmt::format("P-{}-{:03}", 2024 + m_o.seed % 3, m_o.seed % 1000));
        element("LblPrj", p.name);
        element("Cur", "EUR");
        element("CurLbl", "Euro");
        close("PrjInfo");
        open("Award");
        element("DP", std::to_string(m_o.phase));
        open("AwardInfo");
        element("Cur", "EUR");
        element("CurLbl", "Euro");
        close("AwardInfo");
        open("OWN");
        open("Address");
        element("Name1", p.client);
        element("Street", p.street);
        element("PCode", p.postcode);
        element("City", p.city);
        close("Address");
        close("OWN");
        open("BoQ ID=\"B1\"");
        open("BoQInfo");
        element("Name", "LV1");
        element("LblBoQ", bill_name(m_o));
        element("Date", date_text(m_o, true, true));
        for (int l = 0; l < m_s.levels; ++l) breakdown("BoQLevel", m_s.level_width, true);
        breakdown("Item", m_s.item_width, true);
        if (m_o.index) breakdown("Index", 1, false);
        if (m_o.phase == 84) totals(bill_total(m_o, m_s));
        close("BoQInfo");
        open("BoQBody");
        if (m_o.notes) {
            Rng rng = stream(m_o.seed, kHeader, 4);
            remark({rng.pick(kNoteHeadings), {rng.pick(kNoteSentences), rng.pick(kNoteSentences)}});
        }
        run();
        close("BoQBody");
        close("BoQ");
        close("Award");
        close("GAEB");
    }

private:
    void indent() { m_out.put(std::string(static_cast<size_t>(m_depth), '\t')); }
    void open(std::string_view tag) {
        indent();
        m_out.put(fmt::format("<{}>\n", tag));
        ++m_depth;
    }
    void close(std::string_view name) {
        --m_depth;
        indent();
        m_out.put(fmt::format("</{}>\n", name));
    }
    void element(std::string_view name, std::string_view text) {
        indent();
        m_out.put(fmt::format("<{0}>{1}</{0}>\n", name, xml_escaped(text)));
    }
    void raw(std::string_view text) {
        indent();
        m_out.put(text);
        m_out.put("\n");
    }
    static std::string span(std::string_view text) {
        return fmt::format("<p><span>{}</span></p>", xml_escaped(text));
    }
    void breakdown(std::string_view type, int length, bool numeric) {
        raw(fmt::format("<BoQBkdn><Type>{}</Type><Length>{}</Length><Num>{}</Num></BoQBkdn>", type, length,
                        numeric ? "Yes" : "No"));
    }
    void totals(int64_t cents) {
        open("Totals");
        element("Total", decimal(cents, 2));
        close("Totals");
    }
    void description(std::string_view short_text, const std::vector<std::string>& paragraphs) {
        open("Description");
        open("CompleteText");
        if (!paragraphs.empty()) {
            open("DetailTxt");
            open("Text");
            for (const std::string& p : paragraphs) raw(span(p));
            close("Text");
            close("DetailTxt");
        }
        open("OutlineText");
        open("OutlTxt");
        raw("<TextOutlTxt>" + span(short_text) + "</TextOutlTxt>");
        close("OutlTxt");
        close("OutlineText");
        close("CompleteText");
        close("Description");
    }
    void remark(const Notes& n) {
        open(fmt::format("Remark ID=\"R{}\"", ++m_remarks));
        description(n.heading, n.sentences);
        close("Remark");
    }

    void open_range(const std::vector<int>& open_path, int level, int64_t ordinal) override {
        open(fmt::format("BoQCtgy ID=\"C{}\" RNoPart=\"{}\"", ordinal + 1,
                         padded(open_path.back(), m_s.level_width)));
        raw("<LblTx>" + span(range_title(m_o, level, open_path.back(), ordinal)) + "</LblTx>");
        open("BoQBody");
        if (const auto n = range_notes(m_o, level, ordinal)) remark(*n);
        m_range_totals.push_back(0);
    }
    void close_range(const std::vector<int>&, int) override {
        close("BoQBody");
        const int64_t sum = m_range_totals.back();
        m_range_totals.pop_back();
        if (!m_range_totals.empty()) m_range_totals.back() += sum;
        if (m_o.phase == 84) totals(sum);
        close("BoQCtgy");
    }
    void begin_items() override { open("Itemlist"); }
    void end_items() override { close("Itemlist"); }

    void write_item(const Item& it, const std::string& oz, int64_t number) override {
        const std::string item_number = oz.substr(oz.size() - static_cast<size_t>(m_s.item_width));
        open(fmt::format("Item ID=\"I{}\" RNoPart=\"{}\"{}", number + 1, item_number,
                         it.index ? fmt::format(" RNoIndex=\"{}\"", it.index) : std::string()));
        if (it.kind == Kind::WithTotal) element("Provis", "WithTotal");
        if (it.kind == Kind::WithoutTotal) element("Provis", "WithoutTotal");
        element("Qty", decimal(it.quantity, 3));
        element("QU", it.unit);
        if (with_prices(m_o)) element("UP", decimal(it.price, 2));
        if (m_o.phase == 84 && it.kind != Kind::WithoutTotal) {
            element("IT", decimal(it.total, 2));
            if (!m_range_totals.empty()) m_range_totals.back() += it.total;
        }
        description(it.text, m_o.long_lines > 0 ? it.paragraphs : std::vector<std::string>{});
        if (it.sub) {
            open("SubDescr");
            element("SubDNo", "1");
            if (it.sub_quantity > 0) {
                element("Qty", decimal(it.sub_quantity, 3));
                element("QU", it.unit);
            }
            description(it.sub_text, {it.sub_paragraph});
            close("SubDescr");
        }
        close("Item");
    }

    Sink& m_out;
    int m_depth = 0;
    int64_t m_remarks = 0;
    std::vector<int64_t> m_range_totals;
};

// ---------------------------------------------------------------------------------------------
// Damage, applied to the finished bill in memory.

size_t find_line_start(const std::string& bill, size_t from) {
    const size_t nl = bill.find('\n', from);
    return nl == std::string::npos ? bill.size() : nl + 1;
}

void damage(const Options& o, std::string& bill) {
    Rng rng = stream(o.seed, kDamage, 0);
    const auto size = static_cast<int64_t>(bill.size());
    switch (o.damage) {
        case Damage::None:
            return;
        case Damage::Truncate:
            bill.resize(static_cast<size_t>(rng.between(size / 4, size * 3 / 4)));
            return;
        case Damage::Flip: {
            const int64_t flips = rng.between(3, 8);
            for (int64_t i = 0; i < flips; ++i) {
                const auto at = static_cast<size_t>(rng.between(size / 10, size - 1));
                bill[at] = static_cast<char>(bill[at] ^ (1 << rng.between(0, 6)));
            }
            return;
        }
        case Damage::Phase: {
            const std::string phase = std::to_string(o.phase);
            size_t at = std::string::npos;
            if (o.format == Format::Gaeb90) {
                // Record 00 begins a line; its phase stands in columns 11-12.
                for (size_t line = 0; line < bill.size(); line = find_line_start(bill, line))
                    if (bill.compare(line, 2, "00") == 0) {
                        at = line + 10;
                        break;
                    }
            } else {
                at = bill.find(o.format == Format::Xml ? "<DP>" + phase : "[DP]" + phase);
                if (at != std::string::npos) at += 4;
            }
            if (at != std::string::npos) bill.replace(at, 2, "85");
            return;
        }
        case Damage::BadRecord: {
            // Records of types without a handler, after the opening record.
            size_t line = bill.compare(0, 2, "00") == 0 ? 0 : bill.find("\n00");
            line = line == std::string::npos ? bill.size() : find_line_start(bill, line == 0 ? 0 : line + 1);
            std::vector<size_t> starts;
            for (size_t l = line; l < bill.size(); l = find_line_start(bill, l)) starts.push_back(l);
            const int64_t count = rng.between(2, 4);
            std::vector<size_t> at;
            for (int64_t i = 0; i < count && !starts.empty(); ++i)
                at.push_back(
                    starts[static_cast<size_t>(rng.between(0, static_cast<int64_t>(starts.size()) - 1))]);
            std::sort(at.rbegin(), at.rend());
            for (const size_t a : at) {
                std::string bad = rng.percent(50) ? "22" : "5X";
                bad += "Fehlerhafter Satz";
                bad.resize(80, ' ');
                bill.insert(a, bad + "\r\n");
            }
            return;
        }
        case Damage::NoEnd: {
            // Some "[end]" of values and some "#end[...]" lines of blocks left out.
            std::vector<size_t> ends;
            for (size_t at = bill.find("[end]"); at != std::string::npos; at = bill.find("[end]", at + 1))
                ends.push_back(at);
            const int64_t count = std::min<int64_t>(rng.between(2, 6), static_cast<int64_t>(ends.size()));
            std::vector<size_t> chosen;
            for (int64_t i = 0; i < count; ++i)
                chosen.push_back(
                    ends[static_cast<size_t>(rng.between(0, static_cast<int64_t>(ends.size()) - 1))]);
            std::sort(chosen.rbegin(), chosen.rend());
            chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
            for (const size_t a : chosen) {
                // "#end[...]" loses its whole line, "[end]" of a value only itself.
                if (a > 0 && bill[a - 1] == '#') {
                    const size_t start = bill.rfind('\n', a) + 1;
                    bill.erase(start, find_line_start(bill, a) - start);
                } else {
                    bill.erase(a, 5);
                }
            }
            return;
        }
        case Damage::Unbalanced: {
            // An end tag in the middle of the document taken away.
            std::vector<size_t> tags;
            for (size_t at = bill.find("</", size / 4);
                 at != std::string::npos && at < static_cast<size_t>(size * 3 / 4);
                 at = bill.find("</", at + 2))
                tags.push_back(at);
            if (tags.empty()) tags.push_back(bill.rfind("</"));
            const size_t at =
                tags[static_cast<size_t>(rng.between(0, static_cast<int64_t>(tags.size()) - 1))];
            bill.erase(at, bill.find('>', at) + 1 - at);
            return;
        }
    }
}

Summary write(const Options& o, Sink& out) {
    const Shape shape = make_shape(o);
    Summary summary;
    summary.items = o.items;
    auto finish = [&](Walk& w) {
        summary.ranges = w.ranges();
        summary.total_cents = w.total();
    };
    switch (o.format) {
        case Format::Gaeb90: {
            Gaeb90Writer w(o, shape, out);
            w.write();
            finish(w);
            break;
        }
        case Format::Gaeb2000: {
            Gaeb2000Writer w(o, shape, out);
            w.write();
            finish(w);
            break;
        }
        case Format::Xml: {
            XmlWriter w(o, shape, out);
            w.write();
            finish(w);
            break;
        }
    }
    return summary;
}

// ---------------------------------------------------------------------------------------------
// The command line.

std::optional<int64_t> to_number(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    int64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

const char* format_name(Format f) {
    return f == Format::Gaeb90 ? "GAEB 90" : f == Format::Gaeb2000 ? "GAEB 2000" : "GAEB DA XML";
}

std::optional<Format> format_of(std::string_view text) {
    if (text == "90") return Format::Gaeb90;
    if (text == "2000") return Format::Gaeb2000;
    if (text == "xml") return Format::Xml;
    return std::nullopt;
}

// Options after the format; `need_output`: -o must be given.
std::optional<Options> parse(std::optional<Format> format, const std::vector<std::string>& args,
                             bool need_output, std::string& error) {
    Options o;
    bool have_items = false;
    const auto fail = [&](std::string text) -> std::optional<Options> {
        error = std::move(text);
        return std::nullopt;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> attached;
        if (arg.starts_with("--") && arg.find('=') != std::string::npos) {
            attached = arg.substr(arg.find('=') + 1);
            arg.resize(arg.find('='));
        }
        const auto value = [&]() -> std::optional<std::string> {
            if (attached) return attached;
            if (i + 1 < args.size()) return args[++i];
            return std::nullopt;
        };
        const auto number = [&](int64_t lo, int64_t hi) -> std::optional<int64_t> {
            const auto v = value();
            const auto n = v ? to_number(*v) : std::nullopt;
            if (!n || *n < lo || *n > hi) return std::nullopt;
            return n;
        };
        const auto bad_value = [&] {
            return fail(fmt::format("{} braucht eine Zahl im erlaubten Bereich", arg));
        };
        if (arg == "--items") {
            const auto n = number(1, int64_t{1} << 40);
            if (!n) return bad_value();
            o.items = *n;
            have_items = true;
        } else if (arg == "--levels") {
            const auto n = number(0, 6);
            if (!n) return bad_value();
            o.levels = static_cast<int>(*n);
        } else if (arg == "--phase") {
            const auto n = number(80, 89);
            if (!n) return bad_value();
            o.phase = static_cast<int>(*n);
        } else if (arg == "--long-lines") {
            const auto n = number(0, 1000);
            if (!n) return bad_value();
            o.long_lines = static_cast<int>(*n);
        } else if (arg == "--seed") {
            const auto n = number(0, int64_t{1} << 60);
            if (!n) return bad_value();
            o.seed = static_cast<uint64_t>(*n);
        } else if (arg == "--per-group") {
            const auto n = number(1, 1000000);
            if (!n) return bad_value();
            o.per_group = static_cast<int>(*n);
        } else if (arg == "--notes") {
            o.notes = true;
        } else if (arg == "--subdescr") {
            o.subdescr = true;
        } else if (arg == "--rules") {
            o.rules = true;
        } else if (arg == "--no-prices") {
            o.no_prices = true;
        } else if (arg == "--index") {
            o.index = true;
        } else if (arg == "--ragged") {
            o.ragged = true;
        } else if (arg == "--price-comma") {
            o.price_comma = true;
        } else if (arg == "--pad") {
            const auto v = value();
            if (!v || (*v != "zero" && *v != "blank")) return fail("--pad braucht zero oder blank");
            o.pad_blank = *v == "blank";
        } else if (arg == "--encoding") {
            const auto v = value();
            if (!v) return fail("--encoding braucht einen Namen");
            o.encoding = *v;
        } else if (arg == "--corrupt") {
            const auto v = value();
            static const std::map<std::string, Damage, std::less<>> modes = {
                {"truncate", Damage::Truncate}, {"flip", Damage::Flip},
                {"phase", Damage::Phase},       {"badrecord", Damage::BadRecord},
                {"noend", Damage::NoEnd},       {"unbalanced", Damage::Unbalanced}};
            const auto it = v ? modes.find(*v) : modes.end();
            if (it == modes.end())
                return fail("--corrupt braucht truncate, flip, phase, badrecord, noend oder unbalanced");
            o.damage = it->second;
        } else if (arg == "-o" || arg == "--output") {
            const auto v = value();
            if (!v || v->empty()) return fail(arg + " braucht einen Dateinamen");
            o.output = *v;
        } else if (arg == "-q" || arg == "--quiet") {
            o.quiet = true;
        } else if (!arg.starts_with("-") && !format) {
            format = format_of(arg);
            if (!format) return fail("unbekanntes Format " + arg + " (90, 2000 oder xml)");
        } else {
            return fail("unbekannte Angabe " + args[i]);
        }
    }
    if (!format) return fail("das Format fehlt (90, 2000 oder xml)");
    o.format = *format;
    if (!have_items) return fail("--items N fehlt");
    if (need_output && o.output.empty()) return fail("-o DATEI fehlt");

    const bool g90 = o.format == Format::Gaeb90, g2000 = o.format == Format::Gaeb2000;
    const std::string name = format_name(o.format);
    if (o.levels > (g90 ? 4 : 6)) return fail(fmt::format("{} hat höchstens {} Ebenen", name, g90 ? 4 : 6));
    const bool phase_ok = g90     ? o.phase >= 81 && o.phase <= 84
                          : g2000 ? o.phase == 81 || o.phase == 83 || o.phase == 84
                                  : o.phase >= 80 && o.phase <= 84;
    if (!phase_ok)
        return fail(fmt::format("{} kennt die Austauschphase {} nicht ({})", name, o.phase,
                                g90     ? "81 bis 84"
                                : g2000 ? "81, 83 oder 84"
                                        : "80 bis 84"));
    if (o.no_prices && o.phase == 84) return fail("--no-prices geht nicht mit Austauschphase 84");
    if (!g90 && (o.rules || o.pad_blank || o.ragged))
        return fail("--rules, --pad und --ragged gibt es nur für GAEB 90");
    if (!g2000 && o.price_comma) return fail("--price-comma gibt es nur für GAEB 2000");
    if (g2000 && o.index) return fail("--index gibt es für GAEB 90 und GAEB DA XML");
    const std::vector<std::string> encodings = g90     ? std::vector<std::string>{"cp850"}
                                               : g2000 ? std::vector<std::string>{"cp1252", "utf-8-sig"}
                                                       : std::vector<std::string>{"utf-8", "utf-8-sig"};
    if (o.encoding.empty()) o.encoding = encodings.front();
    if (std::find(encodings.begin(), encodings.end(), o.encoding) == encodings.end())
        return fail(fmt::format("{} gibt es nicht als {}", name, o.encoding));
    if ((o.damage == Damage::BadRecord && !g90) || (o.damage == Damage::NoEnd && !g2000) ||
        (o.damage == Damage::Unbalanced && o.format != Format::Xml))
        return fail("diese Beschädigung passt nicht zum Format " + name);
    if (g90) {
        // The OZ has nine columns in record 21.
        const Shape shape = make_shape(o);
        if (shape.levels * shape.level_width + shape.item_width + (o.index ? 1 : 0) > 9)
            return fail(
                "zu viele Positionen je Gruppe für die neun Stellen der GAEB-90-OZ (--per-group, --levels)");
    }
    return o;
}

}  // namespace

std::optional<Options> parse_arguments(const std::vector<std::string>& args, std::string& error) {
    return parse(std::nullopt, args, true, error);
}

std::optional<Options> parse_arguments(Format format, const std::string& args, std::string& error) {
    std::vector<std::string> words;
    std::istringstream in(args);
    for (std::string w; in >> w;) words.push_back(w);
    return parse(format, words, false, error);
}

std::string usage() {
    return "Aufruf: bremora-lvgen FORMAT --items N [OPTIONEN] -o DATEI\n"
           "Schreibt ein synthetisches Leistungsverzeichnis: FORMAT 90 (GAEB 90), 2000 (GAEB 2000) oder\n"
           "xml (GAEB DA XML). Dieselben Angaben ergeben Byte für Byte dieselbe Datei.\n"
           "  --items N          Zahl der Positionen (mindestens 1)\n"
           "  --levels L         Bereichsebenen über den Positionen: 0-4 (GAEB 90), sonst 0-6 (Vorgabe 2)\n"
           "  --phase P          Austauschphase: 81-84 (GAEB 90), 81/83/84 (GAEB 2000), 80-84 (XML);\n"
           "                     Vorgabe 83; in 84 mit Einheitspreisen und Gesamtbeträgen\n"
           "  --long-lines K     Langtextzeilen (GAEB 90) bzw. Absätze je Position (Vorgabe 2)\n"
           "  --seed S           Startwert des Zufalls (Vorgabe 1)\n"
           "  --per-group M      Positionen je unterstem Bereich im Mittel (Vorgabe 20)\n"
           "  --notes            Hinweistexte im LV und in Bereichen\n"
           "  --subdescr         manche Positionen mit Unterbeschreibung\n"
           "  --rules            GAEB 90: vertragliche Regelungen (T0/T1/T9) vor Satz 00\n"
           "  --no-prices        ohne Einheitspreise (nicht in Phase 84)\n"
           "  --index            Index in der OZ-Maske, einige Positionen mit Index (GAEB 90, XML)\n"
           "  --pad zero|blank   GAEB 90: Zahlenfelder mit Nullen (Vorgabe) oder Leerzeichen auffüllen\n"
           "  --ragged           GAEB 90: Leerzeichen am Satzende weglassen\n"
           "  --price-comma      GAEB 2000: [EP] und [GB] mit Dezimalkomma\n"
           "  --encoding NAME    cp850 (GAEB 90); cp1252 oder utf-8-sig (GAEB 2000); utf-8 oder\n"
           "                     utf-8-sig (XML)\n"
           "  --corrupt ART      beschädigt: truncate, flip, phase; badrecord (90), noend (2000),\n"
           "                     unbalanced (xml)\n"
           "  -o, --output DATEI Ausgabedatei (\"-\": Standardausgabe)\n"
           "  -q, --quiet        keine Zusammenfassung auf der Standardfehlerausgabe\n";
}

std::string extension(const Options& o) {
    const char letter = o.format == Format::Gaeb90 ? 'd' : o.format == Format::Gaeb2000 ? 'p' : 'x';
    return fmt::format("{}{}", letter, o.damage == Damage::Phase ? 85 : o.phase);
}

Summary write_bill(const Options& o, std::FILE* out) {
    Sink sink(o.damage == Damage::None ? out : nullptr);
    Summary summary = write(o, sink);
    if (o.damage != Damage::None) {
        damage(o, sink.memory());
        if (std::fwrite(sink.memory().data(), 1, sink.memory().size(), out) != sink.memory().size())
            throw std::runtime_error(std::string("Schreiben fehlgeschlagen: ") + std::strerror(errno));
        summary.bytes = static_cast<int64_t>(sink.memory().size());
    } else {
        sink.flush();
        summary.bytes = sink.bytes();
    }
    return summary;
}

std::string make_bill(const Options& o, Summary* summary) {
    Sink sink(nullptr);
    Summary s = write(o, sink);
    damage(o, sink.memory());
    s.bytes = static_cast<int64_t>(sink.memory().size());
    if (summary) *summary = s;
    return std::move(sink.memory());
}

}  // namespace lvgen
