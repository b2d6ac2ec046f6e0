// SPDX-License-Identifier: MIT
// Renders the Markdown manual into a PDF, the version below its title: handbuch_pdf IN.md OUT.pdf
#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <cstdio>

#include "app/version.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("Aufruf: handbuch_pdf HANDBUCH.md AUSGABE.pdf\n", stderr);
        return 2;
    }
    // Rendering needs fonts, not a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "handbuch_pdf: %s kann nicht gelesen werden.\n", argv[1]);
        return 1;
    }
    QTextDocument doc;
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(10);
    doc.setDefaultFont(font);
    // The version goes below the title.
    QString markdown = QString::fromUtf8(in.readAll());
    const qsizetype title_end = markdown.indexOf(QLatin1Char('\n'));
    markdown.insert(title_end < 0 ? markdown.size() : title_end,
                    QStringLiteral("\n\nVersion %1").arg(QLatin1String(app::kVersion)));
    doc.setMarkdown(markdown);

    QPdfWriter pdf(QString::fromLocal8Bit(argv[2]));
    pdf.setTitle(QStringLiteral("Bremora Kasimo – Handbuch"));
    pdf.setCreator(QStringLiteral("Bremora %1").arg(QLatin1String(app::kVersion)));
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 20, 20, 20),
                                  QPageLayout::Millimeter));
    doc.print(&pdf);
    if (!QFile::exists(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "handbuch_pdf: %s wurde nicht geschrieben.\n", argv[2]);
        return 1;
    }
    return 0;
}
