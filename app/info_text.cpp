#include "app/info_text.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextOption>

#include <algorithm>

CInfoText::CInfoText(QWidget* parent) : QWidget(parent) {}

void CInfoText::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    updateToolTip();
    update();
}

int CInfoText::tabStop() const {
    const QFontMetrics m(font());
    int widest = 0;
    for (QStringView line : QStringView(text_).split(u'\n')) {
        const qsizetype tab = line.indexOf(u'\t');
        if (tab >= 0)
            widest = std::max(widest, m.horizontalAdvance(line.left(tab).toString()));
    }
    // One average character of air between the longest label and the colon.
    return widest + m.averageCharWidth();
}

void CInfoText::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFontMetrics m(font());
    QTextOption option(Qt::AlignLeft | Qt::AlignTop);
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(std::max(tabStop(), 1));
    p.setPen(palette().color(QPalette::WindowText));
    int y = 0;
    for (const QString& line : text_.split(QLatin1Char('\n'))) {
        p.drawText(QRectF(0, y, width(), m.height()), line, option);
        y += m.lineSpacing();
    }
}

void CInfoText::resizeEvent(QResizeEvent*) {
    updateToolTip();
}

void CInfoText::updateToolTip() {
    const QFontMetrics m(font());
    const int stop = tabStop();
    bool clipped = false;
    const QStringList lines = text_.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        const int w =
            tab < 0 ? m.horizontalAdvance(line) : stop + m.horizontalAdvance(line.mid(tab + 1));
        clipped = clipped || w > width();
    }
    clipped = clipped || lines.size() * m.lineSpacing() > height();
    setToolTip(clipped ? QString(text_).replace(QLatin1Char('\t'), QLatin1Char(' ')) : QString());
}
