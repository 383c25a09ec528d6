#include "app/info_text.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTextLayout>

#include <algorithm>

#include "app/accessible.h"

namespace {

// A line split at its first run of tabs: the label and the value ("label",
// ": value"); a line without a tab is all value, with no label.
struct Split {
    QString label;
    QString value;
    bool hasLabel = false;
};

Split split(const QString& line) {
    const qsizetype tab = line.indexOf(QLatin1Char('\t'));
    if (tab < 0)
        return {QString(), line, false};
    qsizetype rest = tab;
    while (rest < line.size() && line[rest] == QLatin1Char('\t'))
        ++rest;
    return {line.left(tab), line.mid(rest), true};
}

// A little air around the text, so the focus frame does not touch it.
constexpr int kMargin = 2;

} // namespace

CInfoText::CInfoText(QWidget* parent) : QWidget(parent) {
    // Before anything that tells assistive tools about this widget: the
    // first such word makes Qt pick its interface for good.
    installAccessibleFactories();
    setFocusPolicy(Qt::StrongFocus);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setAccessibleName(tr("Details"));
}

void CInfoText::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    setAccessibleDescription(plainText());
    fitHeight();
    updateGeometry();
    update();
}

QString CInfoText::plainText() const {
    QStringList out;
    for (const QString& line : text_.split(QLatin1Char('\n'))) {
        const Split s = split(line);
        out << (s.hasLabel ? s.label + QLatin1Char(' ') + s.value : s.value);
    }
    return out.join(QLatin1Char('\n'));
}

int CInfoText::tabStop() const {
    const QFontMetrics m(font());
    int widest = 0;
    for (const QString& line : text_.split(QLatin1Char('\n'))) {
        const Split s = split(line);
        if (s.hasLabel)
            widest = std::max(widest, m.horizontalAdvance(s.label));
    }
    // One average character of air between the longest label and the colon.
    return kMargin + widest + m.averageCharWidth();
}

QList<CInfoText::Row> CInfoText::rows(int width) const {
    QList<Row> out;
    if (text_.isEmpty())
        return out;
    const QFontMetrics m(font());
    const int stop = tabStop();
    const int right = std::max(width - kMargin, stop + m.averageCharWidth() * 8);
    qreal y = kMargin;
    for (const QString& line : text_.split(QLatin1Char('\n'))) {
        const Split s = split(line);
        const qreal x = s.hasLabel ? stop : kMargin;
        if (s.hasLabel)
            out << Row{s.label, QRectF(kMargin, y, stop - kMargin, m.height())};
        // The value wraps at word boundaries, or anywhere in a word too long
        // for the column (a long file name).
        QTextLayout layout(s.value, font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        bool first = true;
        // Rows after the first start under the value, past its ": ".
        const qreal hang =
            s.value.startsWith(QLatin1String(": ")) ? m.horizontalAdvance(QStringLiteral(": ")) : 0;
        for (QTextLine tl = layout.createLine(); tl.isValid(); tl = layout.createLine()) {
            const qreal left = first ? x : x + hang;
            tl.setLineWidth(right - left);
            out << Row{s.value.mid(tl.textStart(), tl.textLength()),
                       QRectF(left, y, tl.naturalTextWidth(), m.height())};
            y += m.lineSpacing();
            first = false;
        }
        layout.endLayout();
        if (first)
            y += m.lineSpacing(); // an empty value still takes its line
    }
    return out;
}

int CInfoText::heightForWidth(int width) const {
    const QFontMetrics m(font());
    const QList<Row> r = rows(width);
    int bottom = 4 * m.lineSpacing(); // the four facts, even before a movie
    for (const Row& row : r)
        bottom = std::max(bottom, static_cast<int>(row.rect.bottom() + 0.999));
    return bottom + kMargin;
}

QSize CInfoText::sizeHint() const {
    const int w = QFontMetrics(font()).averageCharWidth() * 44;
    return QSize(w, heightForWidth(w));
}

QSize CInfoText::minimumSizeHint() const {
    // Room for the labels and a usual file name beside them.
    const int w = QFontMetrics(font()).averageCharWidth() * 36;
    return QSize(w, heightForWidth(w));
}

void CInfoText::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    const QFontMetrics m(font());
    for (const Row& row : rows(width()))
        p.drawText(row.rect.adjusted(0, 0, m.averageCharWidth(), 0),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, row.text);
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
    }
}

void CInfoText::fitHeight() {
    // A window does not follow its children's height-for-width by itself;
    // a minimum height does make it grow.
    const int needed = heightForWidth(width());
    if (minimumHeight() != needed)
        setMinimumHeight(needed);
}

void CInfoText::resizeEvent(QResizeEvent*) {
    fitHeight();
}

void CInfoText::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        fitHeight();
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

void CInfoText::copy() const {
    if (QClipboard* clipboard = QApplication::clipboard())
        clipboard->setText(plainText());
}

void CInfoText::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CInfoText::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("&Copy"), this, &CInfoText::copy);
    copyAction->setEnabled(!text_.isEmpty());
    menu.exec(event->globalPos());
}
