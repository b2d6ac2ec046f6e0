// SPDX-License-Identifier: MIT
#include "app/window/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <new>
#include <stdexcept>

#include "app/angebot.h"
#include "app/console_frontend.h"
#include "app/options.h"
#include "app/window/documents.h"
#include "app/window/gauge.h"
#include "app/window/info_box.h"
#include "app/window/saving.h"
#include "app/window/wait_window.h"
#include "app/window/window_frontend.h"
#include "workbook/layout.h"
#include "workbook/output_file.h"
#include "workbook/xlsx/xlsx_writer.h"

namespace app::window {

namespace {

const QColor kPurple(128, 0, 128);
constexpr int kHintMs = 6000;
constexpr int kGaugeMax = 190;

QString qtext(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::filesystem::path to_path(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

QString from_path(const std::filesystem::path& path) {
    return QFile::decodeName(path.c_str());
}

void set_hint(QWidget* w, const QString& hint) {
    w->setToolTip(hint);
    w->setToolTipDuration(kHintMs);
}

void set_text_color(QWidget* w, const QColor& color) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, color);
    w->setPalette(p);
}

// The open dialog's filter: the extensions of every exchange phase the readers take, GAEB 90
// d81-d84, GAEB 2000 p81, p83, p84, GAEB DA XML x80-x84 and x86, and "off". Files from Windows often carry
// upper-case extensions, which a Linux file dialog tells apart, so both spellings are listed.
QString open_filter() {
    const char* extensions[] = {"d81", "d82", "d83", "d84", "p81", "p83", "p84",
                                "x80", "x81", "x82", "x83", "x84", "x86", "off"};
    QStringList patterns;
    for (const char* e : extensions) patterns << QStringLiteral("*.") + QLatin1String(e);
    for (const char* e : extensions) patterns << QStringLiteral("*.") + QString::fromLatin1(e).toUpper();
    return QStringLiteral("GAEB-Dateien (d81-d84, p81, p83, p84, x80-x84, x86, off) (") +
           patterns.join(QLatin1Char(' ')) + QStringLiteral(");;Alle Dateien (*.*) (*)");
}

// The first local file among dragged addresses; empty when there is none.
QString dropped_file(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        const QString file = url.toLocalFile();
        if (QFileInfo(file).isFile()) return file;
    }
    return {};
}

// The user's settings file: bremora/bremora.conf in the configuration folder ($XDG_CONFIG_HOME,
// else ~/.config); QSettings::setPath moves it elsewhere.
std::unique_ptr<QSettings> user_settings() {
    return std::make_unique<QSettings>(QStringLiteral("bremora"), QStringLiteral("bremora"));
}

// The platform's sans-serif face at the size that fills the reference layout as MS Sans Serif
// 8 pt did.
QFont window_font() {
    QFont f(QStringLiteral("Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(8);
    return f;
}

}  // namespace

TForm1::TForm1(Desktop& desktop, workbook::StartupValues values, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      m_desktop(desktop),
      m_values(std::move(values)),
      m_ui(std::make_unique<WindowFrontend>(*this)),
      m_clock([] {
          return std::chrono::duration_cast<std::chrono::milliseconds>(
              std::chrono::steady_clock::now().time_since_epoch());
      }) {
    setObjectName(QStringLiteral("TForm1"));
    setWindowTitle(QStringLiteral("Bremora Kasimo"));
    setFont(window_font());
    setAcceptDrops(true);
    build_controls();
    load_settings();
    connect_session();
    m_info = new TFormInfo(this, m_desktop);
    m_check = new TFormCheck(this);
}

TForm1::~TForm1() {
    m_ui->busy_cursor(false);
}

void TForm1::build_controls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    QMenu* angebot = menuBar()->addMenu(QStringLiteral("Angebot"));
    angebot->setObjectName(QStringLiteral("AngebotMenu"));
    Angebot1 = angebot->addAction(QStringLiteral("Angebot erstellen (X84)…"));
    Angebot1->setObjectName(QStringLiteral("Angebot1"));
    connect(Angebot1, &QAction::triggered, this, &TForm1::AngebotErstellen);
    Hilfe1 = menuBar()->addAction(QStringLiteral("Hilfe"));
    Hilfe1->setObjectName(QStringLiteral("Hilfe1"));
    Info1 = menuBar()->addAction(QStringLiteral("?"));
    Info1->setObjectName(QStringLiteral("Info1"));
    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    connect(Hilfe1, &QAction::triggered, this, &TForm1::PDFHilfe);
    connect(Info1, &QAction::triggered, this, &TForm1::InfoFenster);

    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(QLatin1String(name));
        return w;
    };
    auto label = [&](QWidget* parent, const char* name, const QString& text, int left, int top) {
        auto* l = new QLabel(text, parent);
        named(l, name);
        l->adjustSize();
        l->move(left, top);
        return l;
    };
    auto check = [&](QWidget* parent, const char* name, const QString& text, int left, int top, bool on) {
        auto* c = new QCheckBox(text, parent);
        named(c, name);
        c->setChecked(on);
        c->adjustSize();
        c->move(left, top);
        return c;
    };

    DateiBox = new QGroupBox(client);
    named(DateiBox, "DateiBox")->setGeometry(8, 0, 376, 55);
    Label1 = label(DateiBox, "Label1", QStringLiteral("GAEB-Datei:"), 5, 10);
    // The elapsed time and its caption keep their right edges; a face wider than the reference
    // grows them to the left, so that "999 Min : 59 Sek" still shows whole.
    StaticText1 = label(DateiBox, "StaticText1", QStringLiteral("0 Min : 0 Sek"), 290, 10);
    StaticText1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StaticText1->setAlignment(Qt::AlignCenter);
    const int elapsed_width =
        std::max(80, StaticText1->fontMetrics().horizontalAdvance(QStringLiteral("999 Min : 59 Sek")) + 8);
    StaticText1->setGeometry(370 - elapsed_width, 10, elapsed_width, 17);
    Label5 = label(DateiBox, "Label5", QStringLiteral("verstrichene Zeit:"), 200, 10);
    Label5->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const int label5_width = std::max(83, Label5->sizeHint().width());
    Label5->setGeometry(StaticText1->x() - 7 - label5_width, 10, label5_width, 17);
    set_text_color(StaticText1, kPurple);
    Edit1 = new QLineEdit(DateiBox);
    named(Edit1, "Edit1")->setGeometry(2, 32, 372, 21);
    connect(Edit1, &QLineEdit::textChanged, this, &TForm1::FileCheck);
    // A file dragged over the field goes to the window, which takes it as a chosen file.
    Edit1->setAcceptDrops(false);

    Textoptionen = new QGroupBox(QStringLiteral("Textoptionen"), client);
    named(Textoptionen, "Textoptionen")->setGeometry(8, 65, 376, 110);
    OnlyShortText =
        check(Textoptionen, "OnlyShortText", QStringLiteral("nur Kurztexte exportieren"), 20, 25, false);
    CheckBox1 =
        check(Textoptionen, "CheckBox1", QStringLiteral("den Hinweistext exportieren"), 20, 55, false);
    set_hint(CheckBox1,
             QStringLiteral("erstellt ein zusätzliches Tabellenblatt mit dem gesamten Hinweistext"));
    CheckBox2 = check(Textoptionen, "CheckBox2",
                      QStringLiteral("fehlerhafte Zeilen protokollieren und filtern"), 20, 85, true);
    // The hint's "\r" is its line break.
    set_hint(CheckBox2,
             QStringLiteral("wenn aktiv, dann wird eine zusätzliche Tabelle erstellt,\nin der die defekten "
                            "Zeilen aufgelistet werden"));

    ExcelFunktionen = new QGroupBox(QStringLiteral("Excel-Optionen"), client);
    named(ExcelFunktionen, "ExcelFunktionen")->setGeometry(8, 185, 376, 160);
    CheckBox3 = check(ExcelFunktionen, "CheckBox3",
                      QStringLiteral("berechnete Preise auf 2 Nachkommastellen runden"), 20, 30, true);
    set_hint(CheckBox3, QStringLiteral("die Excel-Funktion \"RUNDEN\" für die berechneten Preise verwenden"));
    CheckBox4 = check(ExcelFunktionen, "CheckBox4",
                      QStringLiteral("Tabellenblatt mit Zwischensummen erstellen"), 20, 60, false);
    set_hint(CheckBox4, QStringLiteral("erstellt eine Tabelle mit den  Bereichsummen"));
    Bevel1 = new QFrame(ExcelFunktionen);
    named(Bevel1, "Bevel1")->setGeometry(10, 85, 340, 62);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    ExcelVorlage1 =
        new QRadioButton(QStringLiteral("Vorlage mit Kalkulationsspalten verwenden"), ExcelFunktionen);
    named(ExcelVorlage1, "ExcelVorlage1");
    ExcelVorlage1->setChecked(true);
    ExcelVorlage1->adjustSize();
    ExcelVorlage1->move(20, 95);
    set_hint(ExcelVorlage1, QStringLiteral("die Spalten \"Basispreis\" und \"Faktor\" für die Berechnung des "
                                           "Einzelpreises benutzen"));
    ExcelVorlage2 =
        new QRadioButton(QStringLiteral("Vorlage ohne Kalkulationsspalten erwünscht"), ExcelFunktionen);
    named(ExcelVorlage2, "ExcelVorlage2");
    ExcelVorlage2->adjustSize();
    ExcelVorlage2->move(20, 125);
    set_hint(ExcelVorlage2, QStringLiteral("keine Kalkulationsspalten erstellen"));

    Button1 = new QPushButton(QStringLiteral("&OK"), client);
    named(Button1, "Button1")->setGeometry(44, 365, 73, 25);
    Button1->setEnabled(false);
    Button2 = new QPushButton(QStringLiteral("Ö&ffnen.."), client);
    named(Button2, "Button2")->setGeometry(156, 365, 73, 25);
    set_hint(Button2, QStringLiteral("die zu konvertierende Datei wählen"));
    Button3 = new QPushButton(QStringLiteral("B&eenden"), client);
    named(Button3, "Button3")->setGeometry(276, 365, 73, 25);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    Button2->setFocus();

    Panel1 = new QFrame(client);
    named(Panel1, "Panel1")->setGeometry(0, 404, 392, 32);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Gauge2 = new Gauge(Panel1, kGaugeMax, palette().color(QPalette::Button), kPurple);
    named(Gauge2, "Gauge2")->setGeometry(196, 22, 190, 3);
    Gauge2->set_progress(kGaugeMax);
    Gauge1 = new Gauge(Panel1, kGaugeMax, kPurple, palette().color(QPalette::Button));
    named(Gauge1, "Gauge1")->setGeometry(6, 22, 190, 3);
    Gauge1->hide();
    ProgressBar1 = new QProgressBar(Panel1);
    named(ProgressBar1, "ProgressBar1")->setGeometry(2, 22, 388, 8);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    QPalette bar = ProgressBar1->palette();
    bar.setColor(QPalette::Highlight, kPurple);
    ProgressBar1->setPalette(bar);
    Label4 = label(Panel1, "Label4", QStringLiteral("Konvertierung läuft. Bitte warten.."), 122, 4);
    Label4->setAlignment(Qt::AlignCenter);
    set_text_color(Label4, kPurple);
    Label4->hide();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Dauer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(200);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Kropki);

    // Fixed size: the client area plus the menu bar.
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

void TForm1::connect_session() {
    m_excel = std::make_unique<workbook::ExcelSession>();
    workbook::open_session(*m_excel, *m_ui, m_values);
}

workbook::Frontend& TForm1::frontend() {
    return *m_ui;
}

void TForm1::Kommando(const QStringList& arguments) {
    if (arguments.size() > 1 && !arguments.at(1).isEmpty()) Edit1->setText(arguments.at(1));
}

TForm1::OptionControl TForm1::option_control(bool workbook::ConversionOptions::*field) const {
    using O = workbook::ConversionOptions;
    if (field == &O::OnlyShortText) return {OnlyShortText, nullptr};
    if (field == &O::ExportNotesText) return {CheckBox1, nullptr};
    if (field == &O::LogFaultyLines) return {CheckBox2, nullptr};
    if (field == &O::RoundPrices) return {CheckBox3, nullptr};
    if (field == &O::SubtotalsSheet) return {CheckBox4, nullptr};
    if (field == &O::CalcColumns) return {ExcelVorlage1, ExcelVorlage2};
    throw std::logic_error("Option ohne Schaltfläche im Fenster");
}

workbook::ConversionOptions TForm1::options() const {
    workbook::ConversionOptions o;
    for (const app::OptionSpec& option : app::workbook_options())
        o.*option.field = option_control(option.field).on->isChecked();
    return o;
}

void TForm1::FileCheck() {
    const QString text = Edit1->text();
    if (text.isEmpty() || m_running) return;
    Button1->setEnabled(QFileInfo(text).isFile());
}

void TForm1::Button2Click() {
    const QString chosen = m_desktop.choose_file(this, QStringLiteral("Öffnen"), open_filter(), m_folder);
    if (chosen.isEmpty()) return;
    Edit1->setText(chosen);
    remember_folder(chosen);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    // While a conversion runs, or after it has ended the program, the file field is closed.
    if (!m_running && !m_ended && Edit1->isEnabled() && !dropped_file(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QString file = dropped_file(event->mimeData());
    if (m_running || m_ended || !Edit1->isEnabled() || file.isEmpty()) return;
    event->acceptProposedAction();
    Edit1->setText(file);
    remember_folder(file);
}

void TForm1::load_settings() {
    const auto settings = user_settings();
    workbook::ConversionOptions o;
    for (const app::OptionSpec& option : app::workbook_options())
        o.*option.field = settings->value(qtext(option.settings_key), o.*option.field).toBool();
    show_options(o);
    m_folder = settings->value(QStringLiteral("Ordner/zuletzt")).toString();
    for (const app::OptionSpec& option : app::workbook_options())
        connect(option_control(option.field).on, &QAbstractButton::toggled, this, &TForm1::save_settings);
}

void TForm1::save_settings() {
    const auto settings = user_settings();
    const workbook::ConversionOptions o = options();
    for (const app::OptionSpec& option : app::workbook_options())
        settings->setValue(qtext(option.settings_key), o.*option.field);
    if (!m_folder.isEmpty()) settings->setValue(QStringLiteral("Ordner/zuletzt"), m_folder);
}

void TForm1::show_options(const workbook::ConversionOptions& o) {
    for (const app::OptionSpec& option : app::workbook_options()) {
        const OptionControl control = option_control(option.field);
        const bool on = o.*option.field;
        // A radio button is unchecked only by checking its other one.
        if (control.off)
            (on ? control.on : control.off)->setChecked(true);
        else
            control.on->setChecked(on);
    }
}

void TForm1::remember_folder(const QString& file) {
    const QString folder = QFileInfo(file).absolutePath();
    if (folder == m_folder) return;
    m_folder = folder;
    save_settings();
}

void TForm1::Button1Click() {
    if (m_running || m_ended || Edit1->text().isEmpty()) return;
    // Absolute, so that the saved workbook can be named and opened whatever the working folder.
    std::error_code ec;
    std::filesystem::path input = std::filesystem::absolute(to_path(Edit1->text()), ec);
    if (ec) input = to_path(Edit1->text());
    remember_folder(from_path(input));
    m_running = true;
    m_ui->begin_run();
    workbook::RunEnd end = workbook::RunEnd::Refused;
    try {
        app::ConversionController controller(*m_excel, *m_ui, m_values);
        end = controller.run(input, options());
    } catch (const std::exception& e) {
        // Readers catch their own failures; this is the detection run's.
        m_ui->error_dialog("Unerwarteter Fehler bei der Konvertierung\n\n" + workbook::step_report(e));
    }
    const std::string completion = m_ui->end_run();
    if (end == workbook::RunEnd::Refused || end == workbook::RunEnd::Running) {
        back_to_idle();
        return;
    }
    finish_conversion(end, input, completion);
}

void TForm1::back_to_idle() {
    Timer1->stop();
    Timer2->stop();
    m_ui->wait_window(false);
    m_ui->busy_cursor(false);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->show();
    Gauge1->hide();
    Gauge1->set_progress(0);
    Gauge2->set_progress(kGaugeMax);
    Label4->hide();
    Label4->setText(QStringLiteral("Konvertierung läuft. Bitte warten.."));
    Label4->adjustSize();
    Label4->move(122, 4);
    StaticText1->setText(QStringLiteral("0 Min : 0 Sek"));
    m_ui->unlock_controls();
    // A reader may have created sheets before it refused: the next file starts on a fresh workbook.
    connect_session();
    m_running = false;
    FileCheck();
}

std::optional<std::filesystem::path> TForm1::save_workbook(const std::filesystem::path& input) {
    const std::filesystem::path documents = to_path(m_desktop.documents_folder());
    const bool writable = workbook::folder_writable(input);
    std::filesystem::path target = workbook_target(input, writable, documents);
    std::string report;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            workbook::SaveDisplay shown(*m_ui);
            workbook::xlsx::save(*m_excel, *m_excel->result(), target, workbook::xlsx::Existing::Keep, shown);
            QApplication::restoreOverrideCursor();
            return target;
        } catch (const std::bad_alloc&) {
            report = "Nicht genügend Arbeitsspeicher.";
            break;
        } catch (const std::exception& e) {
            report = workbook::step_report(e);
        }
        // A folder that looked writable may still refuse the file: the documents folder is next.
        if (!writable || attempt > 0) break;
        target = workbook_target(input, false, documents);
    }
    QApplication::restoreOverrideCursor();
    m_ui->error_dialog("Die Arbeitsmappe wurde nicht geschrieben.\n\n" + report);
    return std::nullopt;
}

void TForm1::finish_conversion(workbook::RunEnd end, const std::filesystem::path& input,
                               const std::string& completion) {
    Timer1->stop();
    Timer2->stop();
    m_ui->busy_cursor(false);
    if (end == workbook::RunEnd::Aborted) m_ui->status("Konvertierung abgebrochen..");
    std::optional<std::filesystem::path> saved;
    if (m_excel->result()) {
        saved = save_workbook(input);
        m_ui->elapsed_stop();
        m_ui->status(end == workbook::RunEnd::Aborted ? "Konvertierung abgebrochen.."
                                                      : "Konvertierung abgeschlossen..");
    }
    // The platform's stand-in for leaving the workbook open and visible in Excel.
    if (saved) m_desktop.open_url(QUrl::fromLocalFile(from_path(*saved)));
    ShowMe();
    if (end == workbook::RunEnd::Completed) {
        std::string text =
            completion.empty()
                ? std::string("Konvertierung abgeschlossen.\n\nDas Programm wird jetzt beendet.")
                : completion;
        // The saved file's line goes right below the first line, in the message's own line breaks.
        if (saved) {
            const size_t first_break = text.find_first_of("\r\n");
            const char* br = text.find('\r') != std::string::npos ? "\r" : "\n";
            const std::string line = br + ("Arbeitsmappe gespeichert: " + saved->string());
            text.insert(first_break == std::string::npos ? text.size() : first_break, line);
        }
        box(Desktop::Box::Message, text);
    } else if (saved) {
        box(Desktop::Box::Message,
            "Die Konvertierung wurde abgebrochen. Die bis dahin erstellte Arbeitsmappe wurde gespeichert:\n" +
                saved->string());
    }
    // The run is over: the window no longer refuses to close, which ending the program asks of it.
    m_running = false;
    m_ended = true;
    m_desktop.end_program();
}

void TForm1::Button3Click() {
    if (m_running) return;
    try {
        if (m_excel && m_excel->connected()) m_excel->release();
    } catch (const std::exception& e) {
        box(Desktop::Box::Message, "Fehler beim Schliessen von Excel\n\n" + workbook::step_report(e));
    }
    m_desktop.end_program();
}

void TForm1::closeEvent(QCloseEvent* event) {
    // A running conversion is ended by the conversion itself, never by closing its window.
    if (m_running) {
        event->ignore();
        return;
    }
    event->accept();
    m_desktop.end_program();
}

void TForm1::PDFHilfe() {
    m_desktop.open_url(QUrl::fromLocalFile(program_document(QStringLiteral("ostrel.pdf"))));
}

void TForm1::InfoFenster() {
    m_info->exec();
}

void TForm1::AngebotErstellen() {
    if (m_running || m_ended) return;
    const QString tender = m_desktop.choose_file(this, QStringLiteral("Leistungsverzeichnis des Angebots"),
                                                 open_filter(), m_folder);
    if (tender.isEmpty()) return;
    remember_folder(tender);
    const QString priced =
        m_desktop.choose_file(this, QStringLiteral("Kalkulierte Arbeitsmappe des Angebots"),
                              QStringLiteral("Arbeitsmappen (*.xlsx *.XLSX);;Alle Dateien (*.*) (*)"),
                              QFileInfo(tender).absolutePath());
    if (priced.isEmpty()) return;

    std::error_code ec;
    app::BidOrder order;
    order.tender = std::filesystem::absolute(to_path(tender), ec);
    order.workbook = std::filesystem::absolute(to_path(priced), ec);
    const std::filesystem::path documents = to_path(m_desktop.documents_folder());
    order.choose_output = [&order, documents] {
        return app::bid_target(order.tender, order.workbook, documents);
    };
    order.output = order.choose_output();
    order.incomplete = app::IncompleteBid::Ask;
    // A message box has room for a screenful of faults.
    order.max_listed = 30;

    m_running = true;
    m_ui->begin_run();
    app::BidOutcome outcome;
    try {
        outcome = app::make_bid(order, *m_ui, m_values);
    } catch (const std::exception& e) {
        m_ui->error_dialog("Unerwarteter Fehler beim Erstellen des Angebots\n\n" + workbook::step_report(e));
    }
    m_ui->end_run();
    back_to_idle();
    if (outcome.end == app::BidEnd::Written || outcome.end == app::BidEnd::Incomplete)
        box(Desktop::Box::Message, outcome.closing);
}

void TForm1::Dauer() {
    const std::chrono::milliseconds elapsed =
        std::max(m_clock() - m_start_tick, std::chrono::milliseconds(0));
    StaticText1->setText(qtext(workbook::elapsed_text(elapsed)));
}

void TForm1::Kropki() {
    // Two half strips run against each other; every gauge clamps to 0..190, so one cycle is
    // eleven ticks.
    Gauge1->set_progress(Gauge1->progress() >= kGaugeMax ? 0 : Gauge1->progress() + 20);
    Gauge2->set_progress(Gauge2->progress() <= 0 ? kGaugeMax : Gauge2->progress() - 20);
}

void TForm1::ShowMe() {
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
}

bool TForm1::box(Desktop::Box kind, std::string_view text) {
    // The hourglass of a running conversion does not cover the box the user has to answer.
    const bool busy = m_ui && m_ui->busy();
    if (busy) QApplication::setOverrideCursor(Qt::ArrowCursor);
    const bool answer = m_desktop.show_box(this, kind, qtext(app::ConsoleFrontend::console_text(text)));
    if (busy) QApplication::restoreOverrideCursor();
    return answer;
}

void TForm1::centre_status() {
    Label4->adjustSize();
    Label4->move((Panel1->width() - Label4->width()) / 2, 4);
}

}  // namespace app::window
