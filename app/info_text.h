#pragma once
// A read-only text area for the movie's information: lines of "label<TAB>:
// value". The values start at one column, placed just past the longest label,
// so the colons line up whatever the font; a run of tabs counts as one, so a
// label padded for fixed tab stops ("Error\t\t: …") lines up too. A value too
// long for the width wraps inside its column, and the area asks its layout
// for the height the wrapped lines need, so nothing is ever cut off.
//
// It takes the keyboard focus (to be read by assistive tools and copied with
// Ctrl+C); its accessible description is its text.

#include <QList>
#include <QRectF>
#include <QString>
#include <QWidget>

class CInfoText : public QWidget {
    Q_OBJECT
public:
    explicit CInfoText(QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    // The text as one would read it aloud or paste it: each line's label,
    // ": " and value, tabs gone.
    QString plainText() const;

    // Where the values start, in pixels from the left edge.
    int tabStop() const;

    // One line as it is drawn at a given width: a label (only on a line's
    // first row) or a piece of a value, and where it goes.
    struct Row {
        QString text;
        QRectF rect;
    };
    QList<Row> rows(int width) const;
    // The height all rows need at `width`.
    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override { return true; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void copy() const;
    void fitHeight();

    QString text_;
};
