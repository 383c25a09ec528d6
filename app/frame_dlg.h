#pragma once
// One cell's frame, large: the picture at the size the movie is shown at
// (fitted to the window), its exact time, and what can be done with it: copy
// the time, open the movie there in the user's player, step to the frame or
// the key frame before or after, go to a typed time, and put the frame shown into the
// sheet's cell instead of the one it has (a nudge; the stamp follows).
//
// The frames are read by a FrameFetcher of the dialog's own, on its thread;
// the buttons that would ask for another wait while one is read.

#include <QDialog>
#include <QImage>
#include <QWidget>

#include <memory>

#include "app/dialog_seams.h"
#include "app/frame_fetcher.h"
#include "app/sheet_composer.h"

class QLabel;
class QLineEdit;
class QPushButton;

// A picture fitted to the widget, drawn at the screen's own density.
class CFramePicture : public QWidget {
    Q_OBJECT
public:
    explicit CFramePicture(QWidget* parent = nullptr);
    void setImage(const QImage& image);
    const QImage& image() const { return image_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

class CFrameDlg : public QDialog {
    Q_OBJECT
public:
    struct Cell {
        QString movie;
        int index = 0; // of the cell, from 0
        int cells = 0;
        CellShot shot; // what the cell shows now
        int width = 0; // the cell's size
        int height = 0;
        bool canReplace = true; // the sheet can take another frame
    };
    CFrameDlg(const Cell& cell, const DialogSeams& seams, QWidget* parent = nullptr);

    // The frame shown, once read.
    bool hasFrame() const { return shown_.found; }
    const FetchedFrame& shown() const { return shown_; }
    bool busy() const { return fetcher_.busy(); }
    FrameFetcher& fetcher() { return fetcher_; }

    void previousFrame();
    void nextFrame();
    void previousKeyFrame();
    void nextKeyFrame();
    // Goes to the first frame at or after a typed time ("83.4", "1:23.4",
    // "00:01:23.456"); false when the text is no time.
    bool goTo(const QString& text);
    void copyTime();
    void openInPlayer();
    void useInSheet();

    // "00:01:23.456": a time to the millisecond, truncated.
    static QString exactText(const MediaTime& time);
    // A typed time in 100-ns units; false when the text is none.
    static bool parseTime(const QString& text, int64_t& units);

signals:
    // The user put the frame shown into the cell.
    void cellReplaced(int index, const CellShot& shot);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ask(const FrameQuery& query);
    // A step from the frame shown, unless there is none or one is under way.
    void stepFrom(FrameQuery::Kind kind);
    void onFetched(const FetchedFrame& frame);
    void updateState();

    Cell cell_;
    DialogSeams seams_;
    FrameFetcher fetcher_;
    FetchedFrame shown_;
    QString problem_;

    CFramePicture* picture_ = nullptr;
    QLabel* time_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* previousKey_ = nullptr;
    QPushButton* nextKey_ = nullptr;
    QLineEdit* goTo_ = nullptr;
    QPushButton* go_ = nullptr;
    QPushButton* copy_ = nullptr;
    QPushButton* play_ = nullptr;
    QPushButton* use_ = nullptr;
};
