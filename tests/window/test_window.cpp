// SPDX-License-Identifier: MIT
// The desktop window on the offscreen platform: command-line file, dropped file, start button,
// options and their settings, open dialog filter, window lock, marquee and elapsed time, a
// conversion started by the start button, help, manual lookup and about box, file types.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMimeDatabase>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>

#include "app/controller.h"
#include "app/version.h"
#include "app/window/desktop.h"
#include "app/window/documents.h"
#include "app/window/gauge.h"
#include "app/window/info_box.h"
#include "app/window/main_window.h"
#include "app/window/saving.h"
#include "workbook/layout.h"
#include "workbook/xlsx/xlsx_writer.h"

using app::window::Desktop;
using app::window::Gauge;
using app::window::TForm1;

namespace {

// Answers message boxes, records what the window asked of the desktop, starts nothing.
class TestDesktop : public Desktop {
public:
    struct Shown {
        Box kind;
        QString text;
    };
    std::vector<Shown> boxes;
    std::deque<bool> answers;  // for questions, from the front; "Nein" when empty
    std::vector<QUrl> opened;
    QString chosen;
    std::deque<QString> choices;  // answers of the open dialogs, from the front; then `chosen`
    QString filter;               // of the last open dialog
    QString folder;               // where the last open dialog started
    QStringList captions;         // of every open dialog
    QString documents;
    int ended = 0;
    std::function<void(const Shown&)> on_box;  // looks at the window while the box is open

    bool show_box(QWidget*, Box kind, const QString& text) override {
        boxes.push_back({kind, text});
        if (on_box) on_box(boxes.back());
        if (kind != Box::Question) return true;
        if (answers.empty()) return false;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    QString choose_file(QWidget*, const QString& caption, const QString& f, const QString& start) override {
        filter = f;
        folder = start;
        captions << caption;
        if (choices.empty()) return chosen;
        QString c = choices.front();
        choices.pop_front();
        return c;
    }
    bool open_url(const QUrl& url) override {
        opened.push_back(url);
        return true;
    }
    QString documents_folder() override { return documents; }
    void end_program() override { ++ended; }

    QString all_texts() const {
        QStringList t;
        for (const Shown& s : boxes) t << s.text;
        return t.join(QStringLiteral("\n---\n"));
    }
};

void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A drag of the given addresses over the window and, when the window takes it, the drop.
bool drop_on(QWidget* window, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = window->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &drop);
    return drop.isAccepted();
}

QStringList xlsx_files(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.xlsx")}, QDir::Files, QDir::Name);
}

// Record 00 of a GAEB 90 bill: exchange phase in columns 11-12, OZ mask from column 63.
QByteArray record00(const char* phase) {
    QByteArray line = QByteArray("00        ") + phase;
    line += QByteArray(50, ' ') + "1122PPPP";
    return line.leftJustified(80, ' ') + "\r\n";
}

}  // namespace

class TestWindow : public QObject {
    Q_OBJECT

private:
    TestDesktop m_desktop;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TForm1> m_form;

    template <class T>
    T* control(const char* name) {
        T* w = m_form->findChild<T*>(QLatin1String(name));
        if (!w) qFatal("control %s missing", name);
        return w;
    }
    QString path(const char* name) const { return m_dir->filePath(QLatin1String(name)); }

    // A fresh window, as the program creates it, with the given command line.
    void start(const QStringList& arguments = {QStringLiteral("bremora")}) {
        m_form.reset();
        m_desktop = TestDesktop();
        m_desktop.documents = path("Dokumente");
        QDir().mkpath(m_desktop.documents);
        workbook::StartupValues values;
        values.temp_folder = m_dir->path().toStdString();
        values.money_format = workbook::make_money_format(".", ",");
        values.quantity_format = workbook::make_quantity_format(",");
        m_form = std::make_unique<TForm1>(m_desktop, values);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        m_form->Kommando(arguments);
    }

    // The lock of a running conversion: the controls that could start another run are disabled,
    // the menu stays usable, the status line shows.
    void verify_locked() {
        for (const char* name : {"Button1", "Button2", "Button3", "Edit1", "Textoptionen", "ExcelFunktionen"})
            QVERIFY2(!control<QWidget>(name)->isEnabled(), name);
        QVERIFY(control<QAction>("Hilfe1")->isEnabled());
        QVERIFY(control<QAction>("Info1")->isEnabled());
        QVERIFY(control<QLabel>("Label4")->isVisible());
    }

    void verify_idle() {
        for (const char* name : {"Button2", "Button3", "Edit1", "Textoptionen", "ExcelFunktionen"})
            QVERIFY2(control<QWidget>(name)->isEnabled(), name);
        QVERIFY(!control<QLabel>("Label4")->isVisible());
        QVERIFY(!m_form->running());
        QCOMPARE(m_desktop.ended, 0);
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        // Every window of a test keeps its settings in the test's folder, never the user's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path("einstellungen"));
        write(path("lv.d83"), "00");
        QDir().mkpath(path("ordner.d83"));
    }
    void cleanup() { m_form.reset(); }

    void referenceLayout() {
        start();
        QCOMPARE(control<QWidget>("ClientArea")->size(), QSize(392, 436));
        QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
        const std::pair<const char*, QRect> geometry[] = {
            {"DateiBox", {8, 0, 376, 55}},       {"Edit1", {2, 32, 372, 21}},
            {"Textoptionen", {8, 65, 376, 110}}, {"ExcelFunktionen", {8, 185, 376, 160}},
            {"Bevel1", {10, 85, 340, 62}},       {"Button1", {44, 365, 73, 25}},
            {"Button2", {156, 365, 73, 25}},     {"Button3", {276, 365, 73, 25}},
            {"Panel1", {0, 404, 392, 32}},       {"ProgressBar1", {2, 22, 388, 8}},
            {"Gauge1", {6, 22, 190, 3}},         {"Gauge2", {196, 22, 190, 3}},
        };
        for (const auto& [name, rect] : geometry) {
            QWidget* w = control<QWidget>(name);
            if (w->geometry() != rect)
                QFAIL(qPrintable(QStringLiteral("%1: %2,%3,%4,%5")
                                     .arg(QLatin1String(name))
                                     .arg(w->x())
                                     .arg(w->y())
                                     .arg(w->width())
                                     .arg(w->height())));
        }
        // Every caption fits the group box it sits in.
        for (const char* name : {"OnlyShortText", "CheckBox1", "CheckBox2", "CheckBox3", "CheckBox4",
                                 "ExcelVorlage1", "ExcelVorlage2"}) {
            QWidget* w = control<QWidget>(name);
            QVERIFY2(w->geometry().right() < w->parentWidget()->width() - 8, name);
        }
        // Every caption shows whole.
        for (QWidget* w : m_form->findChildren<QWidget*>()) {
            int needed = 0;
            if (auto* b = qobject_cast<QPushButton*>(w))
                needed = b->fontMetrics().horizontalAdvance(b->text().remove('&')) + 8;
            else if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w))
                needed = w->sizeHint().width();
            if (w->width() < needed) QFAIL(qPrintable(w->objectName() + QStringLiteral(" is cut")));
        }
        // The elapsed time keeps its right edge and room for long runs; its caption sits between.
        auto* elapsed = control<QLabel>("StaticText1");
        QCOMPARE(elapsed->geometry().right(), 369);
        QVERIFY(elapsed->fontMetrics().horizontalAdvance(QStringLiteral("999 Min : 59 Sek")) <
                elapsed->width());
        QVERIFY(control<QLabel>("Label5")->geometry().right() < elapsed->x());
        QVERIFY(control<QLabel>("Label5")->x() > control<QLabel>("Label1")->geometry().right());
        QCOMPARE(control<QCheckBox>("CheckBox3")->toolTipDuration(), 6000);
        QCOMPARE(control<QPushButton>("Button2")->toolTip(),
                 QStringLiteral("die zu konvertierende Datei wählen"));
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Bremora Kasimo"));
    }

    void commandLineFile_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("existing file") << QStringList{"bremora", "@lv.d83"} << "@lv.d83" << true;
        QTest::newRow("missing file") << QStringList{"bremora", "@fehlt.d83"} << "@fehlt.d83" << false;
        QTest::newRow("folder") << QStringList{"bremora", "@ordner.d83"} << "@ordner.d83" << false;
        QTest::newRow("empty argument") << QStringList{"bremora", ""} << "" << false;
        QTest::newRow("no argument") << QStringList{"bremora"} << "" << false;
    }
    void commandLineFile() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, shown);
        QFETCH(bool, enabled);
        auto resolve = [&](QString s) { return s.startsWith('@') ? m_dir->filePath(s.mid(1)) : s; };
        for (QString& a : arguments) a = resolve(a);
        start(arguments);
        QCOMPARE(control<QLineEdit>("Edit1")->text(), resolve(shown));
        QCOMPARE(control<QPushButton>("Button1")->isEnabled(), enabled);
    }

    void clearingEditKeepsButtonState_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("after an existing file") << "lv.d83" << true;
        QTest::newRow("after a missing file") << "fehlt.d83" << false;
    }
    void clearingEditKeepsButtonState() {
        QFETCH(QString, file);
        QFETCH(bool, enabled);
        start({QStringLiteral("bremora"), m_dir->filePath(file)});
        auto* edit = control<QLineEdit>("Edit1");
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->text(), QString());
        QCOMPARE(control<QPushButton>("Button1")->isEnabled(), enabled);
        // Pressing it then does nothing.
        m_form->Button1Click();
        QVERIFY(m_desktop.boxes.empty());
        QVERIFY(!control<QLabel>("Label4")->isVisible());
        QCOMPARE(m_desktop.ended, 0);
    }

    void openDialogFillsEdit() {
        start();
        m_desktop.chosen = path("lv.d83");
        QTest::mouseClick(control<QPushButton>("Button2"), Qt::LeftButton);
        QCOMPARE(control<QLineEdit>("Edit1")->text(), path("lv.d83"));
        QVERIFY(control<QPushButton>("Button1")->isEnabled());
        m_desktop.chosen.clear();  // cancelled: nothing changes
        QTest::mouseClick(control<QPushButton>("Button2"), Qt::LeftButton);
        QCOMPARE(control<QLineEdit>("Edit1")->text(), path("lv.d83"));
    }

    // A local file dropped on the window is taken as a chosen file; anything else is refused.
    void droppedFile_data() {
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QString>("shown");
        QTest::newRow("local file") << QStringList{"@lv.d83"} << "@lv.d83";
        QTest::newRow("first local file of several")
            << QStringList{"https://example.org/lv.d83", "@ordner.d83", "@lv.d83", "@fehlt.d83"} << "@lv.d83";
        QTest::newRow("folder") << QStringList{"@ordner.d83"} << "";
        QTest::newRow("missing file") << QStringList{"@fehlt.d83"} << "";
        QTest::newRow("remote file") << QStringList{"https://example.org/lv.d83"} << "";
    }
    void droppedFile() {
        QFETCH(QStringList, urls);
        QFETCH(QString, shown);
        start();
        QVERIFY(m_form->acceptDrops());
        // The file field leaves drops to the window, which would otherwise take the address as text.
        QVERIFY(!control<QLineEdit>("Edit1")->acceptDrops());
        QList<QUrl> dragged;
        for (const QString& u : urls)
            dragged << (u.startsWith('@') ? QUrl::fromLocalFile(path(qPrintable(u.mid(1)))) : QUrl(u));
        const bool taken = drop_on(m_form.get(), dragged);
        QCOMPARE(taken, !shown.isEmpty());
        const QString expected = shown.isEmpty() ? QString() : path(qPrintable(shown.mid(1)));
        QCOMPARE(control<QLineEdit>("Edit1")->text(), expected);
        QCOMPARE(control<QPushButton>("Button1")->isEnabled(), taken);
    }

    // While a conversion runs the window takes no file.
    void dropRefusedWhileLocked() {
        start();
        m_form->frontend().lock_controls();
        QVERIFY(!drop_on(m_form.get(), {QUrl::fromLocalFile(path("lv.d83"))}));
        QCOMPARE(control<QLineEdit>("Edit1")->text(), QString());
    }

    // The six options and the last folder come back in the next window; the settings file lies
    // in the settings folder set for the test.
    void optionsSurviveRestart() {
        QDir().mkpath(path("lv"));
        write(path("lv/bau.d83"), "00");
        start();
        for (const char* name :
             {"OnlyShortText", "CheckBox1", "CheckBox2", "CheckBox3", "CheckBox4", "ExcelVorlage2"})
            QTest::mouseClick(control<QAbstractButton>(name), Qt::LeftButton, {}, QPoint(6, 6));
        m_desktop.chosen = path("lv/bau.d83");
        QTest::mouseClick(control<QPushButton>("Button2"), Qt::LeftButton);
        QCOMPARE(m_desktop.folder, QString());  // no folder yet: the dialog's own choice
        const workbook::ConversionOptions changed = m_form->options();
        QCOMPARE(changed, (workbook::ConversionOptions{true, true, false, false, true, false}));
        QVERIFY(QFile::exists(path("einstellungen/bremora/bremora.conf")));
        // The keys of the settings file stay as users' files have them.
        const QSettings file(path("einstellungen/bremora/bremora.conf"), QSettings::IniFormat);
        for (const auto& [key, value] : {std::pair{"nur_kurztexte", true},
                                         {"hinweistext", true},
                                         {"fehlerprotokoll", false},
                                         {"runden", false},
                                         {"teilsummen", true},
                                         {"kalkulationsspalten", false}})
            QVERIFY2(file.value(QStringLiteral("Optionen/") + QLatin1String(key)).toBool() == value, key);

        m_form.reset();
        start();
        QCOMPARE(m_form->options(), changed);
        QCOMPARE(control<QLineEdit>("Edit1")->text(), QString());  // the file itself is not kept
        QTest::mouseClick(control<QPushButton>("Button2"), Qt::LeftButton);
        QCOMPARE(m_desktop.folder, path("lv"));

        // Back to the defaults, and a dropped file names the folder of the next run.
        for (const char* name :
             {"OnlyShortText", "CheckBox1", "CheckBox2", "CheckBox3", "CheckBox4", "ExcelVorlage1"})
            QTest::mouseClick(control<QAbstractButton>(name), Qt::LeftButton, {}, QPoint(6, 6));
        QVERIFY(drop_on(m_form.get(), {QUrl::fromLocalFile(path("lv.d83"))}));
        m_form.reset();
        start();
        QCOMPARE(m_form->options(), workbook::ConversionOptions{});
        QTest::mouseClick(control<QPushButton>("Button2"), Qt::LeftButton);
        QCOMPARE(m_desktop.folder, m_dir->path());
    }

    // The open dialog offers every extension the readers take, whatever its case, even where the
    // platform's dialog compares names case-sensitively.
    void openDialogListsEveryExtension() {
        start();
        QTest::mouseClick(control<QPushButton>("Button2"), Qt::LeftButton);
        const QStringList filters = m_desktop.filter.split(QStringLiteral(";;"));
        QCOMPARE(filters.size(), 2);
        QVERIFY(filters[1].startsWith(QStringLiteral("Alle Dateien")));
        const QString gaeb = filters[0];
        const qsizetype open = gaeb.lastIndexOf('(');
        const QStringList patterns = gaeb.mid(open + 1, gaeb.size() - open - 2).split(' ');
        auto listed = [&](const QString& name) {
            for (const QString& p : patterns)
                if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(p))
                        .match(name)
                        .hasMatch())
                    return true;
            return false;
        };
        const QStringList read = {"d81", "d82", "d83", "d84", "p81", "p83", "p84",
                                  "x80", "x81", "x82", "x83", "x84", "x86", "off"};
        for (const QString& e : read) {
            for (const QString& name : {QStringLiteral("lv.") + e, QStringLiteral("LV.") + e.toUpper()})
                QVERIFY2(listed(name), qPrintable(name + QStringLiteral(" not in ") + gaeb));
        }
        QVERIFY(!listed(QStringLiteral("lv.xlsx")));
    }

    void optionsMapToConversionOptions() {
        start();
        QCOMPARE(m_form->options(), workbook::ConversionOptions{});
        struct Case {
            const char* control;
            bool workbook::ConversionOptions::*field;
            bool value;
        };
        const Case cases[] = {
            {"OnlyShortText", &workbook::ConversionOptions::OnlyShortText, true},
            {"CheckBox1", &workbook::ConversionOptions::ExportNotesText, true},
            {"CheckBox2", &workbook::ConversionOptions::LogFaultyLines, false},
            {"CheckBox3", &workbook::ConversionOptions::RoundPrices, false},
            {"CheckBox4", &workbook::ConversionOptions::SubtotalsSheet, true},
            {"ExcelVorlage2", &workbook::ConversionOptions::CalcColumns, false},
        };
        workbook::ConversionOptions expected;
        for (const Case& c : cases) {
            QTest::mouseClick(control<QAbstractButton>(c.control), Qt::LeftButton, {}, QPoint(6, 6));
            expected.*(c.field) = c.value;
            QVERIFY2(m_form->options() == expected, c.control);
        }
        QTest::mouseClick(control<QAbstractButton>("ExcelVorlage1"), Qt::LeftButton, {}, QPoint(6, 6));
        QVERIFY(m_form->options().CalcColumns);
        QVERIFY(!control<QRadioButton>("ExcelVorlage2")->isChecked());
    }

    void lockAndRelease() {
        start();
        workbook::Frontend& ui = m_form->frontend();
        ui.lock_controls();
        verify_locked();
        ui.status("Konvertierung abgeschlossen..");
        auto* label = control<QLabel>("Label4");
        QCOMPARE(label->text(), QStringLiteral("Konvertierung abgeschlossen.."));
        QCOMPARE(label->x(), (392 - label->width()) / 2);
        ui.unlock_controls();
        for (const char* name : {"Button1", "Button2", "Button3", "Edit1", "Textoptionen", "ExcelFunktionen"})
            QVERIFY2(control<QWidget>(name)->isEnabled(), name);
    }

    // A reader's question comes while the window is locked; afterwards the run has either ended
    // the program or, refused, left the window idle.
    void runLocksWindowWhileReaderAsks() {
        write(path("regeln.d83"),
              QByteArray("T0 Vertragliche Regelungen").leftJustified(80, ' ') + "\r\n" + record00("83"));
        start({QStringLiteral("bremora"), path("regeln.d83")});
        bool checked = false;
        m_desktop.on_box = [&](const TestDesktop::Shown&) {
            if (checked) return;
            checked = true;
            verify_locked();
            QVERIFY(!m_form->close());  // a running conversion keeps its window
        };
        QTest::mouseClick(control<QPushButton>("Button1"), Qt::LeftButton);
        QVERIFY2(checked, "no message box during the run");
        if (m_desktop.ended == 0) verify_idle();
        QVERIFY(m_form->close());
    }

    void refusedInputLeavesWindowIdle_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        QTest::newRow("no GAEB file") << QByteArray("Hallo\r\nWelt\r\n") << "ist keine GAEB-Datei";
        QTest::newRow("phase 85") << record00("85") << "Die Austauschphase 85wird nicht unterstützt!";
        QTest::newRow("phase not a number")
            << record00("8x") << "Die Austauschphase 8xwird nicht unterstützt!";
    }
    void refusedInputLeavesWindowIdle() {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        write(path("eingabe.d83"), content);
        start({QStringLiteral("bremora"), path("eingabe.d83")});
        for (int run = 0; run < 2; ++run) {  // the window takes the next file as it took the first
            m_desktop.boxes.clear();
            QTest::mouseClick(control<QPushButton>("Button1"), Qt::LeftButton);
            QCOMPARE(m_desktop.boxes.size(), size_t{1});
            QVERIFY2(m_desktop.boxes[0].text.contains(message), qPrintable(m_desktop.boxes[0].text));
            verify_idle();
            QVERIFY(control<QPushButton>("Button1")->isEnabled());
        }
        QCOMPARE(xlsx_files(m_dir->path()), QStringList());
        QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("bremora-*.tmp")}), QStringList());
    }

    void marqueeSequence() {
        start();
        m_form->frontend().progress_start(workbook::ProgressKind::Marquee, 0);
        auto* g1 = control<Gauge>("Gauge1");
        auto* g2 = control<Gauge>("Gauge2");
        QVERIFY(!control<QProgressBar>("ProgressBar1")->isVisible());
        QVERIFY(g1->isVisible() && g2->isVisible());
        QVERIFY(control<QTimer>("Timer2")->isActive());
        QCOMPARE(control<QTimer>("Timer2")->interval(), 200);
        const std::pair<int, int> expected[] = {{20, 170}, {40, 150}, {60, 130}, {80, 110},
                                                {100, 90}, {120, 70}, {140, 50}, {160, 30},
                                                {180, 10}, {190, 0},  {0, 190},  {20, 170}};
        for (const auto& [e1, e2] : expected) {
            m_form->Kropki();
            QCOMPARE(std::pair(g1->progress(), g2->progress()), std::pair(e1, e2));
        }
        m_form->frontend().progress_finish();
        QCOMPARE(std::pair(g1->progress(), g2->progress()), std::pair(190, 0));
        QVERIFY(!control<QTimer>("Timer1")->isActive());
        QVERIFY(!control<QTimer>("Timer2")->isActive());
    }

    void elapsedTime_data() {
        QTest::addColumn<int>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("start") << 0 << "0 Min : 0 Sek";
        QTest::newRow("59.9 s") << 59900 << "0 Min : 59 Sek";
        QTest::newRow("65 s") << 65000 << "1 Min : 5 Sek";
        QTest::newRow("125 s") << 125000 << "2 Min : 5 Sek";
    }
    void elapsedTime() {
        QFETCH(int, ms);
        QFETCH(QString, text);
        start();
        std::chrono::milliseconds now{5'000'000};
        m_form->set_clock([&] { return now; });
        m_form->frontend().elapsed_restart();
        now += std::chrono::milliseconds(ms);
        m_form->Dauer();
        QCOMPARE(control<QLabel>("StaticText1")->text(), text);
    }

    void elapsedTimerPausesAndStops() {
        start();
        workbook::Frontend& ui = m_form->frontend();
        auto* timer = control<QTimer>("Timer1");
        QCOMPARE(timer->interval(), 1000);
        ui.progress_start(workbook::ProgressKind::Bar, 10);
        QVERIFY(timer->isActive());
        ui.elapsed_pause();  // a GAEB 90 question is open
        QVERIFY(!timer->isActive());
        ui.elapsed_resume();  // the next record is processed
        QVERIFY(timer->isActive());
        ui.elapsed_stop();
        ui.elapsed_resume();
        QVERIFY(!timer->isActive());
    }

    void progressBarFollowsReader() {
        start();
        workbook::Frontend& ui = m_form->frontend();
        auto* bar = control<QProgressBar>("ProgressBar1");
        ui.progress_start(workbook::ProgressKind::Bar, 100);
        ui.progress_step(1);
        ui.progress_step(1);
        QCOMPARE(bar->value(), 2);
        ui.progress_maximum(int64_t{1} << 40);  // beyond the bar's range: clamped, not wrapped
        QCOMPARE(bar->maximum(), INT_MAX);
        ui.progress_position(50);
        QCOMPARE(bar->value(), 50);
        ui.progress_maximum(40);
        ui.progress_step(1000);
        QCOMPARE(bar->value(), 40);
        ui.progress_finish();
        QVERIFY(!bar->isVisible());
    }

    void workbookTarget_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("expected");
        QTest::newRow("next to the input") << "lv/Bau.d83" << true << QStringList{} << "lv/Bau.xlsx";
        QTest::newRow("never over an existing file")
            << "lv/Bau.d83" << true << QStringList{"lv/Bau.xlsx", "lv/Bau (2).xlsx"} << "lv/Bau (3).xlsx";
        QTest::newRow("input without extension") << "lv/Bau" << true << QStringList{} << "lv/Bau.xlsx";
        QTest::newRow("folder not writable")
            << "lv/Bau.d83" << false << QStringList{"lv/Bau.xlsx"} << "Dokumente/Bau.xlsx";
        QTest::newRow("documents taken too")
            << "lv/Bau.d83" << false << QStringList{"Dokumente/Bau.xlsx"} << "Dokumente/Bau (2).xlsx";
    }
    void workbookTarget() {
        QFETCH(QString, input);
        QFETCH(bool, writable);
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        QDir().mkpath(path("lv"));
        QDir().mkpath(path("Dokumente"));
        for (const QString& e : existing) write(m_dir->filePath(e), "alt");
        const auto target = app::window::workbook_target(m_dir->filePath(input).toStdString(), writable,
                                                         path("Dokumente").toStdString());
        QCOMPARE(QString::fromStdString(target.string()), m_dir->filePath(expected));
    }

    // A whole conversion started by the start button: the workbook lands next to the input under
    // the next free name, is opened, and the completion message names it.
    void startButtonConvertsAndSaves() {
        const QString sample = QStringLiteral(BREMORA_SOURCE_DIR "/samples/beispiel.d83");
        if (!QFile::exists(sample)) QSKIP("samples/beispiel.d83 fehlt");
        QVERIFY(QFile::copy(sample, path("beispiel.d83")));
        write(path("beispiel.xlsx"), "alt");
        // A relative path on the command line: the saved workbook is still named in full.
        const QString working = QDir::currentPath();
        QDir::setCurrent(m_dir->path());
        start({QStringLiteral("bremora"), QStringLiteral("beispiel.d83")});
        // The save shows on the bar as a phase of its own, with its own status text.
        auto* bar = control<QProgressBar>("ProgressBar1");
        auto* status = control<QLabel>("Label4");
        bool save_shown = false, save_ended = false;
        connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
            if (status->text() != QStringLiteral("Arbeitsmappe wird gespeichert")) return;
            save_shown = save_shown || (bar->isVisible() && bar->maximum() == 1000);
            save_ended = save_ended || value == bar->maximum();
        });
        QTest::mouseClick(control<QPushButton>("Button1"), Qt::LeftButton);
        QDir::setCurrent(working);
        const QString texts = m_desktop.all_texts();
        if (texts.contains(QStringLiteral("noch nicht verfügbar")))
            QSKIP(qPrintable(QStringLiteral("Leser oder Speichern fehlt noch:\n") + texts));

        const QString saved = path("beispiel (2).xlsx");
        QCOMPARE(m_desktop.ended, 1);
        QVERIFY(m_form->ended());
        QVERIFY(!m_form->running());
        QVERIFY(m_form->close());  // ending the program closes the window
        QVERIFY2(QFile::exists(saved), qPrintable(texts));
        QVERIFY(save_shown);
        QVERIFY(save_ended);
        QVERIFY(!bar->isVisible());
        QCOMPARE(status->text(), QStringLiteral("Konvertierung abgeschlossen.."));
        QCOMPARE(m_desktop.opened, std::vector<QUrl>{QUrl::fromLocalFile(saved)});
        const QString last = m_desktop.boxes.back().text;
        QCOMPARE(last, QStringLiteral("Konvertierung abgeschlossen.\nArbeitsmappe gespeichert: ") + saved +
                           QStringLiteral("\n\nDas Programm wird jetzt beendet."));
        QFile old(path("beispiel.xlsx"));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("alt"));
        // The file itself, read back by an independent reader.
        QProcess dump;
        dump.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(BREMORA_XLSX_DUMP), saved});
        QVERIFY(dump.waitForFinished(60000));
        const QString cells = QString::fromUtf8(dump.readAllStandardOutput());
        QVERIFY2(dump.exitCode() == 0, qPrintable(QString::fromUtf8(dump.readAllStandardError())));
        QVERIFY2(cells.contains(QStringLiteral("Positionsteil!A7\ts\tOrdnungszahl")),
                 qPrintable(cells.left(2000)));
    }

    // Notes of a GAEB 90 bill that the notes option leaves out are named once, before the
    // completion, as on the console.
    void notesLeftOutAreNamedBeforeTheCompletion() {
        QVERIFY(QFile::copy(QStringLiteral(BREMORA_SOURCE_DIR "/tests/data/gaeb90/hinweistext_verborgen.d83"),
                            path("hinweise.d83")));
        start({QStringLiteral("bremora"), path("hinweise.d83")});
        QTest::mouseClick(control<QPushButton>("Button1"), Qt::LeftButton);
        QCOMPARE(m_desktop.ended, 1);
        QVERIFY2(m_desktop.boxes.size() >= 2, qPrintable(m_desktop.all_texts()));
        QCOMPARE(m_desktop.boxes[m_desktop.boxes.size() - 2].text,
                 QStringLiteral("Die Datei enthält 3 Zeilen Hinweistext; sie werden mit der Option "
                                "„den Hinweistext exportieren“ übernommen."));
        QVERIFY(m_desktop.boxes.back().text.startsWith(QStringLiteral("Konvertierung abgeschlossen.")));
        QCOMPARE(m_desktop.all_texts().count(QStringLiteral("Zeilen Hinweistext")), 1);
    }

    void helpAndAbout() {
        start();
        control<QAction>("Hilfe1")->trigger();
        QCOMPARE(m_desktop.opened.size(), size_t{1});
        QCOMPARE(m_desktop.opened[0],
                 QUrl::fromLocalFile(app::window::document_path(QCoreApplication::applicationDirPath(),
                                                                QStringLiteral("ostrel.pdf"))));

        auto* info = m_form->findChild<app::window::TFormInfo*>();
        QVERIFY(info);
        QCOMPARE(info->windowTitle(), QStringLiteral("Bremora Info"));
        const QString memo = info->findChild<QTextEdit*>()->toPlainText();
        QCOMPARE(memo, QStringLiteral("\nBremora Ver. %1 Kasimo\n\nfür MS Excel 2003 bis 2019")
                           .arg(QLatin1String(app::kVersion)));
        info->open_link();
        QCOMPARE(m_desktop.opened.back(), app::window::TFormInfo::home_url());

        QFile pdf(QStringLiteral(BREMORA_MANUAL_PDF));
        QVERIFY2(pdf.open(QIODevice::ReadOnly), BREMORA_MANUAL_PDF);
        QVERIFY(pdf.read(5) == "%PDF-");
        QVERIFY(pdf.size() > 10000);
    }

    // The manual and the README: next to the program in the build folder, else in the installed
    // documentation folder ../share/doc/bremora, which is also named when neither exists.
    void documentLookup_data() {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("expected");
        QTest::newRow("build folder") << QStringList{"bin/ostrel.pdf"} << "bin/ostrel.pdf";
        QTest::newRow("installed") << QStringList{"share/doc/bremora/ostrel.pdf"}
                                   << "share/doc/bremora/ostrel.pdf";
        QTest::newRow("both: the program's own first")
            << QStringList{"bin/ostrel.pdf", "share/doc/bremora/ostrel.pdf"} << "bin/ostrel.pdf";
        QTest::newRow("a folder of that name is no manual")
            << QStringList{"bin/ostrel.pdf/", "share/doc/bremora/ostrel.pdf"}
            << "share/doc/bremora/ostrel.pdf";
        QTest::newRow("neither") << QStringList{} << "share/doc/bremora/ostrel.pdf";
    }
    void documentLookup() {
        QFETCH(QStringList, present);
        QFETCH(QString, expected);
        QDir().mkpath(path("bin"));
        QDir().mkpath(path("share/doc/bremora"));
        for (const QString& p : present) {
            if (p.endsWith('/'))
                QDir().mkpath(m_dir->filePath(p));
            else
                write(m_dir->filePath(p), "%PDF-");
        }
        QCOMPARE(app::window::document_path(path("bin"), QStringLiteral("ostrel.pdf")),
                 m_dir->filePath(expected));
    }

    // The file types installed for the desktop, from a database built for this test (its
    // XDG_DATA_DIRS): GAEB 90, GAEB 2000 and DA XML by their extensions in any case, DA XML and
    // GAEB 2000 also by their content. (A DA XML file named .xml stays application/xml for Qt,
    // which reads neither the root element nor prefers content over a single name match.)
    void fileTypes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("sample");  // file whose content is used; empty for none
        QTest::addColumn<QString>("type");
        const QString d83 = QStringLiteral(BREMORA_SOURCE_DIR "/samples/beispiel.d83");
        const QString p83 = QStringLiteral(BREMORA_SOURCE_DIR "/samples/beispiel.p83");
        const QString x83 = QStringLiteral(BREMORA_SOURCE_DIR "/samples/beispiel.x83");
        QTest::newRow("d81") << "lv.d81"
                             << ""
                             << "application/x-gaeb90";
        QTest::newRow("D86") << "LV.D86"
                             << ""
                             << "application/x-gaeb90";
        QTest::newRow("d83 sample") << "lv.d83" << d83 << "application/x-gaeb90";
        QTest::newRow("p81") << "lv.p81"
                             << ""
                             << "application/x-gaeb2000";
        QTest::newRow("P86") << "LV.P86"
                             << ""
                             << "application/x-gaeb2000";
        QTest::newRow("x80") << "lv.x80"
                             << ""
                             << "application/x-gaeb-da-xml";
        QTest::newRow("X89") << "LV.X89"
                             << ""
                             << "application/x-gaeb-da-xml";
        QTest::newRow("x83 sample") << "lv.x83" << x83 << "application/x-gaeb-da-xml";
        QTest::newRow("DA XML without extension") << "lv" << x83 << "application/x-gaeb-da-xml";
        QTest::newRow("GAEB 2000 without extension") << "lv" << p83 << "application/x-gaeb2000";
        QTest::newRow("other XML") << "andere.xml"
                                   << ""
                                   << "application/xml";
    }
    void fileTypes() {
        QFETCH(QString, name);
        QFETCH(QString, sample);
        QFETCH(QString, type);
        if (!QFile::exists(QStringLiteral(BREMORA_TEST_MIME "/mime.cache")))
            QSKIP("update-mime-database fehlt: keine Dateitypen-Datenbank für den Test");
        QByteArray content = "<?xml version=\"1.0\"?>\n<Tabelle/>\n";
        if (!sample.isEmpty()) {
            QFile f(sample);
            if (!f.open(QIODevice::ReadOnly)) QSKIP(qPrintable(sample + QStringLiteral(" fehlt")));
            content = f.readAll();
        }
        write(path(qPrintable(name)), content);
        QCOMPARE(QMimeDatabase().mimeTypeForFile(path(qPrintable(name))).name(), type);
    }

    // The menu entry asks for the tender and its priced workbook and saves the bid beside the
    // workbook under the tender's name, never over a file that is there; faults are shown as for
    // the console, and missing prices are a question.
    void bidFromPricedWorkbook() {
        const std::string tender = path("lv.d83").toStdString();
        QVERIFY(QFile::remove(path("lv.d83")));
        QVERIFY(QFile::copy(QStringLiteral(BREMORA_SOURCE_DIR "/tests/data/angebot/positionsarten.d83"),
                            path("lv.d83")));
        QDir().mkpath(path("kalkulation"));
        const QString priced = path("kalkulation/lv.xlsx");
        const QString unpriced = path("kalkulation/ohne_preis.xlsx");
        {
            // The tender's workbook, priced in G (Basispreis) of its item rows 9, 11, ..., 19; once
            // with the price of row 13 left at 0.
            workbook::StartupValues values;
            values.temp_folder = m_dir->path().toStdString();
            workbook::RecordingFrontend quiet;
            for (const QString& target : {priced, unpriced}) {
                workbook::ExcelSession excel;
                workbook::open_session(excel, quiet, values);
                app::ConversionController controller(excel, quiet, values);
                QCOMPARE(controller.run(tender, {}), workbook::RunEnd::Completed);
                workbook::Sheet& s = excel.result()->sheet("Positionsteil");
                for (int32_t r = 9; r <= 19; r += 2)
                    if (target == priced || r != 13) s.set_value(r, 7, 10.0 * r + 0.25);
                workbook::xlsx::save(excel, *excel.result(), target.toStdString());
            }
        }
        start();
        auto* entry = control<QAction>("Angebot1");
        QCOMPARE(entry->text(), QStringLiteral("Angebot erstellen (X84)…"));

        for (const char* expected : {"kalkulation/lv.x84", "kalkulation/lv (2).x84"}) {
            m_desktop.boxes.clear();
            m_desktop.choices = {path("lv.d83"), priced};
            entry->trigger();
            QVERIFY(QFile::exists(path(expected)));
            QCOMPARE(m_desktop.boxes.size(), size_t{1});
            QVERIFY2(
                m_desktop.boxes[0].text.contains(QStringLiteral("Angebot gespeichert: ") + path(expected)),
                qPrintable(m_desktop.all_texts()));
            QVERIFY(m_desktop.boxes[0].text.contains(QStringLiteral("6 von 6 Positionen mit Preis")));
            verify_idle();
        }
        QCOMPARE(m_desktop.captions.mid(0, 2),
                 QStringList({QStringLiteral("Leistungsverzeichnis des Angebots"),
                              QStringLiteral("Kalkulierte Arbeitsmappe des Angebots")}));
        QCOMPARE(m_desktop.folder, m_dir->path());
        QVERIFY(m_desktop.filter.startsWith(QStringLiteral("Arbeitsmappen (*.xlsx")));
        QFile bid(path("kalkulation/lv.x84"));
        QVERIFY(bid.open(QIODevice::ReadOnly));
        QVERIFY(bid.readAll().contains("<DP>84</DP>"));

        // A price missing: asked; "Nein" writes nothing, "Ja" the incomplete bid.
        for (bool answer : {false, true}) {
            m_desktop.boxes.clear();
            m_desktop.answers = {answer};
            m_desktop.choices = {path("lv.d83"), unpriced};
            entry->trigger();
            QVERIFY(!m_desktop.boxes.empty());
            QCOMPARE(m_desktop.boxes[0].kind, Desktop::Box::Question);
            QVERIFY2(m_desktop.boxes[0].text.contains(QStringLiteral(
                         "Positionsteil!G13, OZ 01.0030: Basispreis 0 (Positionsteil!E13 zeigt 0)")),
                     qPrintable(m_desktop.all_texts()));
            QCOMPARE(QFile::exists(path("kalkulation/ohne_preis.x84")), false);
            QCOMPARE(QFile::exists(path("kalkulation/lv (3).x84")), answer);
            QVERIFY(m_desktop.boxes.back().text.contains(
                answer ? QStringLiteral("Unvollständiges Angebot gespeichert")
                       : QStringLiteral("nicht geschrieben")));
            verify_idle();
        }

        // No workbook at all: an error, nothing written; a dialog cancelled: nothing happens.
        m_desktop.boxes.clear();
        m_desktop.choices = {path("lv.d83"), path("lv.d83")};
        entry->trigger();
        QCOMPARE(m_desktop.boxes.size(), size_t{1});
        QCOMPARE(m_desktop.boxes[0].kind, Desktop::Box::Error);
        QVERIFY2(m_desktop.boxes[0].text.contains(
                     QStringLiteral("\"lv.d83\" ist eine GAEB-Datei, keine Arbeitsmappe. "
                                    "Bitte erst die GAEB-Datei, dann die Arbeitsmappe")),
                 qPrintable(m_desktop.all_texts()));
        QVERIFY(!QFile::exists(path("lv.x84")));
        m_desktop.boxes.clear();
        m_desktop.choices = {path("lv.d83"), QString()};
        entry->trigger();
        QVERIFY(m_desktop.boxes.empty());
        QCOMPARE(QDir(path("kalkulation")).entryList({QStringLiteral("*.x84")}, QDir::Files).size(), 3);
        verify_idle();
    }

    void exitButtonEndsProgram() {
        start({QStringLiteral("bremora"), path("lv.d83")});
        QTest::mouseClick(control<QPushButton>("Button3"), Qt::LeftButton);
        QCOMPARE(m_desktop.ended, 1);
        QVERIFY(m_desktop.boxes.empty());
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
