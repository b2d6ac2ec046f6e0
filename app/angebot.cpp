// SPDX-License-Identifier: MIT
#include "app/angebot.h"

#include <fmt/format.h>

#include <fstream>
#include <new>
#include <optional>
#include <vector>

#include "angebot/priced_workbook.h"
#include "angebot/pricing.h"
#include "angebot/tender.h"
#include "angebot/x84_writer.h"
#include "app/controller.h"
#include "app/memory.h"
#include "app/output_file.h"
#include "bill/collector.h"
#include "workbook/finish.h"
#include "workbook/output_file.h"

namespace app {

namespace {

namespace fs = std::filesystem;

// The tender is read through this: progress and the window lock go to the user's front end,
// messages are kept for one block after the run, questions are answered "no" (the bid needs no
// contractual rules).
class TenderFrontend : public workbook::Frontend {
public:
    explicit TenderFrontend(workbook::Frontend& ui) : m_ui(ui) {}

    std::vector<std::string> said;

    void message(std::string_view text) override { said.emplace_back(text); }
    void error_dialog(std::string_view text) override { said.emplace_back(text); }
    bool ask_yes_no(std::string_view) override { return false; }
    void status(std::string_view text) override { m_ui.status(text); }
    void beep() override {}
    void progress_start(workbook::ProgressKind kind, int64_t maximum) override {
        m_ui.progress_start(kind, maximum);
    }
    void progress_maximum(int64_t maximum) override { m_ui.progress_maximum(maximum); }
    void progress_step(int64_t steps) override { m_ui.progress_step(steps); }
    void progress_position(int64_t position) override { m_ui.progress_position(position); }
    void progress_finish() override { m_ui.progress_finish(); }
    void elapsed_restart() override { m_ui.elapsed_restart(); }
    void elapsed_pause() override { m_ui.elapsed_pause(); }
    void elapsed_resume() override { m_ui.elapsed_resume(); }
    void elapsed_stop() override { m_ui.elapsed_stop(); }
    void lock_controls() override { m_ui.lock_controls(); }
    void unlock_controls() override { m_ui.unlock_controls(); }
    void busy_cursor(bool on) override { m_ui.busy_cursor(on); }
    void wait_window(bool on) override { m_ui.wait_window(on); }
    void process_events() override { m_ui.process_events(); }

    // What the reader said, one block under `heading`; empty when it said nothing.
    std::string block(const std::string& heading) const {
        if (said.empty()) return {};
        std::string text = heading;
        for (const std::string& s : said) {
            std::string line = s;
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
            text += "\n" + line;
        }
        return text;
    }

private:
    workbook::Frontend& m_ui;
};

std::string name_of(const fs::path& path) {
    return "\"" + path.filename().string() + "\"";
}

// The problems' own texts, one a line, at most `max` of them (0: all).
std::string listed(const std::vector<const angebot::Problem*>& problems, size_t max) {
    std::string text;
    const size_t shown = max == 0 ? problems.size() : std::min(max, problems.size());
    for (size_t i = 0; i < shown; ++i) text += "\n" + problems[i]->text;
    if (shown < problems.size()) text += fmt::format("\n… und {} weitere", problems.size() - shown);
    return text;
}

// The bill of the tender, and what its reader said of it, in the order it was said with the
// controller's own messages.
class TenderSink : public bill::Collector {
public:
    explicit TenderSink(TenderFrontend& ui) : m_ui(ui) {}
    void fault(const bill::Fault& fault) override {
        bill::Collector::fault(fault);
        m_ui.said.push_back(fault.text);
    }
    void end(const bill::End& end) override {
        bill::Collector::end(end);
        // The records no handler takes have no sheet of their own here: they are said.
        if (!bill().faulty_lines.empty())
            m_ui.said.push_back(
                fmt::format("Es wurden fehlerhafte Sätze in der Quelldatei gefunden ({} Zeilen); "
                            "sie wurden übergangen.",
                            bill().faulty_lines.size()));
        // A bill without its closing record may have lost its end: said as a conversion says it.
        if (end.how == bill::Ending::Complete && !end.closing_record)
            m_ui.said.push_back(workbook::cut_off_note(static_cast<int64_t>(bill().items().size())));
    }

private:
    TenderFrontend& m_ui;
};

// The tender read as the readers read it for its workbook, the items summed as its workbook
// sums them (bill::Item::has_total). False when it cannot be (the reason is shown).
bool read_tender(const BidOrder& order, workbook::Frontend& ui, const workbook::StartupValues& values,
                 bill::Bill& bill) {
    TenderFrontend tender_ui(ui);
    TenderSink tender(tender_ui);
    ConversionController controller(tender_ui, values);
    workbook::RunEnd end = workbook::RunEnd::Refused;
    bool out_of_memory = false;
    try {
        end = controller.read(order.tender, tender_options(), tender);
        out_of_memory = controller.out_of_memory();
    } catch (const std::bad_alloc&) {
        out_of_memory = true;
    }
    // What the reader said then is a consequence: the way out says what happened.
    if (out_of_memory) throw std::bad_alloc();
    const std::string said =
        tender_ui.block(fmt::format("Beim Lesen des Leistungsverzeichnisses {}:", name_of(order.tender)));
    if (end != workbook::RunEnd::Completed) {
        std::string text =
            said.empty()
                ? fmt::format("Das Leistungsverzeichnis {} kann nicht gelesen werden.", name_of(order.tender))
                : said;
        if (end == workbook::RunEnd::Aborted)
            text +=
                "\nDas Leistungsverzeichnis wurde nicht vollständig gelesen; einem Angebot daraus fehlten "
                "Positionen.";
        ui.error_dialog(text + "\nDas Angebot wurde nicht geschrieben.");
        return false;
    }
    const std::string& phase = controller.exchange_phase();
    if (phase != "81" && phase != "83") {
        ui.error_dialog(fmt::format(
            "Das Leistungsverzeichnis {} hat die Austauschphase {}. Ein Angebot (Austauschphase 84) wird "
            "zu einem Leistungsverzeichnis der Austauschphase 81 oder 83 erstellt.\nDas Angebot wurde nicht "
            "geschrieben.",
            name_of(order.tender), phase.empty() ? std::string("(keine)") : phase));
        return false;
    }
    if (!said.empty()) ui.message(said);
    bill = angebot::tender_bill(std::move(tender.bill()));
    return true;
}

// The first bytes of a file; empty when it cannot be read (its reader says why).
std::string head_of(const fs::path& path, size_t bytes) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return {};
    std::ifstream in(path, std::ios::binary);
    std::string head(bytes, '\0');
    in.read(head.data(), static_cast<std::streamsize>(bytes));
    head.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return head;
}

// A zip archive (an .xlsx or .ods) or an OLE compound file (an .xls or an encrypted workbook).
bool is_spreadsheet(std::string_view head) {
    return head.starts_with("PK\x03\x04") || head.starts_with("PK\x05\x06") ||
           head.starts_with("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
}

// A GAEB file by its name (.d83, .P84, .x81, ...) or by its beginning: the tags of GAEB 2000 or
// DA XML, or a GAEB 90 record 00.
bool is_gaeb(const fs::path& path, std::string_view head) {
    const std::string ext = path.extension().string();
    if (ext.size() == 4 && std::string_view("dDpPxX").find(ext[1]) != std::string_view::npos &&
        ext[2] == '8' && ext[3] >= '0' && ext[3] <= '9')
        return true;
    if (head.find("#begin[GAEB]") != std::string_view::npos || head.find("<GAEB") != std::string_view::npos)
        return true;
    const size_t line_end = head.find_first_of("\r\n");
    return head.starts_with("00") && line_end != std::string_view::npos && line_end >= 74 && line_end <= 80;
}

// The two files of a bid the wrong way round, or a file of the wrong kind in a place: the text of
// the refusal, else nothing.
std::optional<std::string> refuse_order_of_files(const BidOrder& order) {
    const std::string tender_head = head_of(order.tender, 4096),
                      workbook_head = head_of(order.workbook, 4096);
    if (tender_head.empty() || workbook_head.empty()) return std::nullopt;
    const bool tender_spreadsheet = is_spreadsheet(tender_head);
    const bool workbook_spreadsheet = is_spreadsheet(workbook_head);
    constexpr const char* kOrder = "Bitte erst die GAEB-Datei, dann die Arbeitsmappe angeben.";
    if (tender_spreadsheet && !workbook_spreadsheet && is_gaeb(order.workbook, workbook_head))
        return fmt::format(
            "Die beiden Dateien sind vertauscht: {} ist die Arbeitsmappe, {} die GAEB-Datei. {}",
            name_of(order.tender), name_of(order.workbook), kOrder);
    if (tender_spreadsheet)
        return fmt::format("{} ist eine Arbeitsmappe, keine GAEB-Datei (Leistungsverzeichnis). {}",
                           name_of(order.tender), kOrder);
    if (!workbook_spreadsheet && is_gaeb(order.workbook, workbook_head))
        return fmt::format("{} ist eine GAEB-Datei, keine Arbeitsmappe. {}", name_of(order.workbook), kOrder);
    return std::nullopt;
}

BidOutcome make_bid_guarded(const BidOrder& order, workbook::Frontend& ui,
                            const workbook::StartupValues& values) {
    BidOutcome outcome;
    if (const auto refusal = refuse_order_of_files(order)) {
        ui.error_dialog(*refusal + "\nDas Angebot wurde nicht geschrieben.");
        return outcome;
    }
    reset_memory_exhausted();
    angebot::PricedWorkbook book;
    try {
        book = angebot::read_priced_workbook(order.workbook);
    } catch (const angebot::AngebotError& e) {
        // A failure that memory running out brought about is no fault of the file.
        if (memory_exhausted()) throw std::bad_alloc();
        ui.error_dialog(std::string(e.what()) + "\nDas Angebot wurde nicht geschrieben.");
        return outcome;
    }
    if (memory_exhausted()) throw std::bad_alloc();

    bill::Bill model;
    if (!read_tender(order, ui, values, model)) return outcome;

    const angebot::PricingResult result = angebot::price(model, book);
    if (memory_exhausted()) throw std::bad_alloc();
    std::vector<const angebot::Problem*> blocking, warnings, foreign;
    for (const angebot::Problem& p : result.problems) {
        if (p.kind == angebot::ProblemKind::ForeignOz) foreign.push_back(&p);
        (p.blocking ? blocking : warnings).push_back(&p);
    }
    if (result.refused) {
        ui.error_dialog(result.refusal + listed(foreign, order.max_listed) +
                        "\nDas Angebot wurde nicht geschrieben.");
        return outcome;
    }
    if (!warnings.empty())
        ui.message(
            fmt::format("Hinweise zur Arbeitsmappe {} ({}):", name_of(order.workbook), warnings.size()) +
            listed(warnings, order.max_listed));
    if (!blocking.empty()) {
        const std::string list =
            fmt::format("Die Arbeitsmappe {} ist nicht vollständig ausgefüllt ({} Fehler):",
                        name_of(order.workbook), blocking.size()) +
            listed(blocking, order.max_listed);
        switch (order.incomplete) {
            case IncompleteBid::Refuse:
                ui.error_dialog(list + "\nDas Angebot wurde nicht geschrieben." +
                                (order.refusal_hint.empty() ? "" : " " + order.refusal_hint));
                return outcome;
            case IncompleteBid::Ask:
                if (!ui.ask_yes_no(list +
                                   "\n\nSoll das Angebot trotzdem geschrieben werden? Diese Positionen "
                                   "bleiben darin ohne Preis.")) {
                    ui.message("Das Angebot wurde nicht geschrieben.");
                    return outcome;
                }
                break;
            case IncompleteBid::Write:
                ui.error_dialog(list);
                break;
        }
    }

    angebot::X84Options options;
    options.bidder = order.bidder;
    const fs::path output = order.choose_output ? order.choose_output() : order.output;
    try {
        angebot::write_x84(model, output, options, order.overwrite);
    } catch (const angebot::AngebotError& e) {
        if (memory_exhausted()) throw std::bad_alloc();
        ui.error_dialog(e.what());
        outcome.end = BidEnd::NotSaved;
        return outcome;
    }
    outcome.written = output;
    const std::string currency = model.header.currency.empty() ? std::string("EUR") : model.header.currency;
    const size_t unpriced = result.item_count - result.priced_count;
    outcome.end = unpriced > 0 || !blocking.empty() ? BidEnd::Incomplete : BidEnd::Written;
    outcome.closing =
        (outcome.end == BidEnd::Incomplete ? "Unvollständiges Angebot gespeichert: "
                                           : "Angebot gespeichert: ") +
        output.string() +
        fmt::format("\n{} von {} Positionen mit Preis, Angebotssumme {} {}.", result.priced_count,
                    result.item_count, german_money(model.total_cents()), currency);
    return outcome;
}

}  // namespace

workbook::ReadOptions tender_options() {
    workbook::ReadOptions options;
    options.OnlyShortText = true;
    options.ExportNotesText = true;
    return options;
}

BidOutcome make_bid(const BidOrder& order, workbook::Frontend& ui, const workbook::StartupValues& values) {
    try {
        return make_bid_guarded(order, ui, values);
    } catch (const std::bad_alloc&) {
        release_memory_reserve();
        mark_memory_exhausted();
        ui.error_dialog(kBidOutOfMemory);
        BidOutcome outcome;
        outcome.end = BidEnd::OutOfMemory;
        return outcome;
    }
}

fs::path bid_target(const fs::path& tender, const fs::path& priced, const fs::path& fallback_folder) {
    const fs::path name = fs::path(tender.filename()).replace_extension(".x84");
    const fs::path folder = workbook::folder_writable(priced) ? priced.parent_path() : fallback_folder;
    return workbook::free_name(folder / name);
}

std::string german_money(int64_t cents) {
    const bool negative = cents < 0;
    const uint64_t v = negative ? 0 - static_cast<uint64_t>(cents) : static_cast<uint64_t>(cents);
    std::string whole = std::to_string(v / 100);
    for (int at = static_cast<int>(whole.size()) - 3; at > 0; at -= 3)
        whole.insert(static_cast<size_t>(at), ".");
    return fmt::format("{}{},{:02}", negative ? "-" : "", whole, v % 100);
}

}  // namespace app
