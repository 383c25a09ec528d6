#include "app/about.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <harfbuzz/hb.h>
#include <png.h>
// The version libjpeg-turbo was built at: it has no call that says.
#include <jconfig.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}

#ifndef STILLWICK_VERSION
#define STILLWICK_VERSION "unknown"
#endif
#ifndef STILLWICK_LICENCE
#define STILLWICK_LICENCE ""
#endif

namespace about {

namespace {

// FFmpeg packs its versions as major << 16 | minor << 8 | micro.
QString packed(unsigned version) {
    return QStringLiteral("%1.%2.%3")
        .arg(version >> 16)
        .arg((version >> 8) & 0xff)
        .arg(version & 0xff);
}

QString freetypeVersion() {
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0)
        return QStringLiteral("%1.%2.%3")
            .arg(FREETYPE_MAJOR)
            .arg(FREETYPE_MINOR)
            .arg(FREETYPE_PATCH);
    FT_Int major = 0, minor = 0, patch = 0;
    FT_Library_Version(library, &major, &minor, &patch);
    FT_Done_FreeType(library);
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
}

} // namespace

QList<Library> libraries() {
    const int fc = FcGetVersion();
    const int jpeg = LIBJPEG_TURBO_VERSION_NUMBER;
    return {
        {QStringLiteral("FFmpeg"),
         QStringLiteral("%1 (libavformat %2, libavcodec %3, libavutil %4, libswscale %5, "
                        "libavfilter %6)")
             .arg(QString::fromUtf8(av_version_info()), packed(avformat_version()),
                  packed(avcodec_version()), packed(avutil_version()), packed(swscale_version()),
                  packed(avfilter_version())),
         // The build decides: LGPL 2.1 or later, or GPL when built with
         // GPL parts, as distributions often do.
         QString::fromUtf8(avcodec_license())},
        {QStringLiteral("Qt"), QString::fromLatin1(qVersion()),
         QStringLiteral("LGPL 3 (open-source edition)")},
        {QStringLiteral("libjpeg-turbo"),
         QStringLiteral("%1.%2.%3").arg(jpeg / 1000000).arg(jpeg / 1000 % 1000).arg(jpeg % 1000),
         QStringLiteral("IJG and BSD-3-Clause")},
        {QStringLiteral("libpng"), QString::fromLatin1(png_get_libpng_ver(nullptr)),
         QStringLiteral("libpng licence")},
        {QStringLiteral("FreeType"), freetypeVersion(),
         QStringLiteral("FreeType licence (FTL) or GPL 2")},
        {QStringLiteral("HarfBuzz"), QString::fromLatin1(hb_version_string()),
         QStringLiteral("MIT (Old MIT)")},
        {QStringLiteral("Fontconfig"),
         QStringLiteral("%1.%2.%3").arg(fc / 10000).arg(fc / 100 % 100).arg(fc % 100),
         QStringLiteral("MIT-style")},
    };
}

QString aboutText() {
    QString rows;
    for (const Library& l : libraries())
        rows +=
            QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>")
                .arg(l.name.toHtmlEscaped(), l.version.toHtmlEscaped(), l.licence.toHtmlEscaped());
    const QString own = QString::fromUtf8(STILLWICK_LICENCE);
    return QObject::tr("<h2>Stillwick %1</h2>"
                       "<p>Contact sheets from movies: rows and columns of frames from evenly "
                       "spaced moments, each the exact frame at its moment and stamped with its "
                       "own time.</p>"
                       "<p>%2</p>"
                       "<p>It runs on these libraries, at the versions this run loaded:</p>"
                       "<table cellspacing=\"0\" cellpadding=\"3\">"
                       "<tr><th align=\"left\">Library</th><th align=\"left\">Version</th>"
                       "<th align=\"left\">Licence</th></tr>%3</table>")
        .arg(QStringLiteral(STILLWICK_VERSION),
             own.isEmpty() ? QObject::tr("This build states no licence of its own; the "
                                         "libraries' licences below apply to them.")
                           : QObject::tr("Licence: %1.").arg(own.toHtmlEscaped()),
             rows);
}

} // namespace about

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("about"));
    setWindowTitle(tr("About Stillwick"));
    auto* text = new QLabel(about::aboutText(), this);
    text->setObjectName(QStringLiteral("aboutText"));
    text->setTextFormat(Qt::RichText);
    text->setWordWrap(true);
    // Versions are what people copy into a bug report.
    text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text->setFocusPolicy(Qt::StrongFocus);
    text->setAccessibleName(tr("About Stillwick"));
    text->setMinimumWidth(fontMetrics().averageCharWidth() * 70);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(tr("&Close"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* root = new QVBoxLayout(this);
    root->addWidget(text);
    root->addWidget(buttons);
}

CHelpDlg::CHelpDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("help"));
    setWindowTitle(tr("Stillwick Help"));
    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("helpPage"));
    browser_->setAccessibleName(tr("Help"));
    browser_->setOpenExternalLinks(true);
    QFile page(QStringLiteral(":/help/index.html"));
    if (page.open(QIODevice::ReadOnly))
        browser_->setHtml(QString::fromUtf8(page.readAll()));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(tr("&Close"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* root = new QVBoxLayout(this);
    root->addWidget(browser_);
    root->addWidget(buttons);
    resize(fontMetrics().averageCharWidth() * 80, fontMetrics().lineSpacing() * 36);
}

QString CHelpDlg::pageText() const {
    return browser_->toPlainText();
}
