#pragma once
// A read-only text area for the movie's information: lines of "label<TAB>:
// value". The tab stop is placed just past the longest label, so the colons
// line up whatever the font, which fixed stops of eight characters do not
// guarantee. Lines are never wrapped; a text too wide for the area shows in
// full as a tool tip.

#include <QString>
#include <QWidget>

class CInfoText : public QWidget {
    Q_OBJECT
public:
    explicit CInfoText(QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);

    // Where the first tab of each line ends, in pixels from the left edge.
    int tabStop() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateToolTip();

    QString text_;
};
