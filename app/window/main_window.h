// SPDX-License-Identifier: MIT
// TForm1: the main window with the file field, the options, the three buttons, the menu and the
// progress panel. One conversion per program run: every conversion that reaches a reader ends
// the program, only a refused input leaves the window ready for another file. A file dropped on
// the window goes into the file field; the options and the last folder are kept between runs
// (QSettings, "bremora/bremora.conf" in the user's configuration folder).
#pragma once

#include <QMainWindow>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "app/controller.h"
#include "app/window/desktop.h"
#include "workbook/conversion.h"

class QAbstractButton;
class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace app::window {

class Gauge;
class TFormCheck;
class TFormInfo;
class WindowFrontend;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    using Clock = std::function<std::chrono::milliseconds()>;

    // FormCreate: builds the controls, connects the spreadsheet session and prepares its
    // start-up workbook, creates the about box and the wait window.
    TForm1(Desktop& desktop, workbook::StartupValues values, QWidget* parent = nullptr);
    ~TForm1() override;

    // The first command-line argument, when not empty, goes into Edit1.
    void Kommando(const QStringList& arguments);

    // ConversionOptions as the option controls stand.
    workbook::ConversionOptions options() const;
    workbook::Frontend& frontend();
    bool running() const { return m_running; }
    bool ended() const { return m_ended; }
    // The millisecond tick count behind the elapsed time; tests set their own.
    void set_clock(Clock clock) { m_clock = std::move(clock); }

    // The reference layout: client area below the menu.
    static constexpr int kClientWidth = 392;
    static constexpr int kClientHeight = 436;

public slots:
    void FileCheck();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void PDFHilfe();
    void InfoFenster();
    // "Angebot erstellen (X84)…": asks for the tender and its priced workbook and saves the bid
    // next to the workbook, under the tender's name with .x84, never over an existing file.
    void AngebotErstellen();
    void Dauer();
    void Kropki();
    void ShowMe();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    friend class WindowFrontend;

    void build_controls();
    void connect_session();
    bool box(Desktop::Box kind, std::string_view text);
    void centre_status();
    // The options and the last folder of the previous run; saved whenever one of them changes.
    void load_settings();
    void save_settings();
    void show_options(const workbook::ConversionOptions& o);
    // The control of a workbook option (app/options.h), checked when the option is on, and the
    // radio button checked when it is off, where there is one.
    struct OptionControl {
        QAbstractButton* on;
        QAbstractButton* off;
    };
    OptionControl option_control(bool workbook::ConversionOptions::*field) const;
    void remember_folder(const QString& file);
    // After a refused input: a fresh start-up workbook and the idle window.
    void back_to_idle();
    // After a reader ended the run: save, open, tell, end the program.
    void finish_conversion(workbook::RunEnd end, const std::filesystem::path& input,
                           const std::string& completion);
    std::optional<std::filesystem::path> save_workbook(const std::filesystem::path& input);

    Desktop& m_desktop;
    workbook::StartupValues m_values;
    std::unique_ptr<workbook::ExcelSession> m_excel;
    std::unique_ptr<WindowFrontend> m_ui;
    Clock m_clock;
    std::chrono::milliseconds m_start_tick{0};
    bool m_running = false;
    bool m_ended = false;  // a conversion has ended the program
    QString m_folder;      // where the open dialog starts

    QGroupBox* DateiBox = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* StaticText1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QGroupBox* Textoptionen = nullptr;
    QCheckBox* OnlyShortText = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QGroupBox* ExcelFunktionen = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QCheckBox* CheckBox4 = nullptr;
    QFrame* Bevel1 = nullptr;
    QRadioButton* ExcelVorlage1 = nullptr;
    QRadioButton* ExcelVorlage2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* Label4 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    Gauge* Gauge1 = nullptr;
    Gauge* Gauge2 = nullptr;
    QAction* Angebot1 = nullptr;
    QAction* Hilfe1 = nullptr;
    QAction* Info1 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    TFormInfo* m_info = nullptr;
    TFormCheck* m_check = nullptr;
};

}  // namespace app::window
