// SPDX-License-Identifier: MIT
#include "app/window/info_box.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>

#include "app/version.h"
#include "app/window/desktop.h"
#include "app/window/documents.h"

namespace app::window {

namespace {
// The project has no home page yet; the link leads to the README, copied next to the program at
// build time and installed into the documentation folder.
constexpr const char* kHomePage = "";
}  // namespace

QUrl TFormInfo::home_url() {
    if (*kHomePage) return QUrl(QString::fromUtf8(kHomePage));
    return QUrl::fromLocalFile(program_document(QStringLiteral("README.md")));
}

TFormInfo::TFormInfo(QWidget* owner, Desktop& desktop)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint),
      m_desktop(desktop),
      m_memo(new QTextEdit(this)),
      m_link(new QLabel(this)),
      m_ok(new QPushButton(QStringLiteral("OK"), this)) {
    setObjectName(QStringLiteral("TFormInfo"));
    setWindowTitle(QStringLiteral("Bremora Info"));
    setModal(true);
    setFixedSize(377, 207);

    m_memo->setObjectName(QStringLiteral("Memo1"));
    m_memo->setGeometry(16, 12, 345, 100);
    m_memo->setReadOnly(true);
    m_memo->setFocusPolicy(Qt::NoFocus);
    m_memo->setPlainText(QStringLiteral("\nBremora Ver. %1 Kasimo\n\nfür MS Excel 2003 bis 2019")
                             .arg(QLatin1String(app::kVersion)));
    QTextCursor all(m_memo->document());
    all.select(QTextCursor::Document);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    all.mergeBlockFormat(centred);

    const QUrl url = home_url();
    m_link->setObjectName(QStringLiteral("Label1"));
    m_link->setGeometry(16, 124, 345, 20);
    m_link->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    QFont bold = m_link->font();
    bold.setBold(true);
    bold.setUnderline(true);
    m_link->setFont(bold);
    QPalette blue = m_link->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    m_link->setPalette(blue);
    m_link->setCursor(Qt::PointingHandCursor);
    m_link->setText(url.isLocalFile() ? url.fileName() : url.toString());
    m_link->setToolTip(url.isLocalFile() ? url.toLocalFile() : url.toString());
    m_link->installEventFilter(this);

    m_ok->setObjectName(QStringLiteral("Button1"));
    m_ok->setGeometry(152, 164, 73, 25);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &TFormInfo::InfoClose);
}

bool TFormInfo::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_link && event->type() == QEvent::MouseButtonRelease) {
        open_link();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TFormInfo::open_link() {
    m_desktop.open_url(home_url());
}

void TFormInfo::InfoClose() {
    accept();
}

}  // namespace app::window
