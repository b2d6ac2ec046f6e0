// SPDX-License-Identifier: MIT
// TFormInfo: the about box, with the version and a link to the project's description.
#pragma once

#include <QDialog>
#include <QUrl>

class QLabel;
class QPushButton;
class QTextEdit;

namespace app::window {

class Desktop;

class TFormInfo : public QDialog {
    Q_OBJECT
public:
    TFormInfo(QWidget* owner, Desktop& desktop);

    // Where the link leads: the home page once there is one, until then the README in the
    // program's documentation.
    static QUrl home_url();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    void open_link();
    void InfoClose();

private:
    Desktop& m_desktop;
    QTextEdit* m_memo;
    QLabel* m_link;
    QPushButton* m_ok;
};

}  // namespace app::window
