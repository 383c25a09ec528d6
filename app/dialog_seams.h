#pragma once
// The blocking dialogs that the main and settings dialogs open: file choosers,
// message boxes, the colour chooser and the font chooser.
//
// Both dialogs reach them only through a `DialogSeams` value, a record of
// plain functions that the dialogs copy when they are constructed. The
// program uses `DialogSeams::standard()`; tests put in functions that answer
// at once, so no test waits for a person. The record owns nothing but its
// function objects.

#include <QColor>
#include <QFont>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

#include "app/player.h"
#include "platform/types/media_time.h"

class QDialog;
class QFileDialog;
class QWidget;

// One entry of a file chooser's type list. The description is shown as
// written; the patterns (such as "*.avi") decide which files are listed and
// are matched without regard to case.
struct NameFilter {
    QString description;
    QStringList patterns;
};

struct FileRequest {
    // One file to open, several, a folder, or a file to save.
    enum class Mode { Open, OpenMany, Folder, Save };
    Mode mode = Mode::Open;
    QString caption;
    QList<NameFilter> filters;
    int selectedFilter = 0;
    // Appended to a typed name without an extension; follows the type the
    // user selects in a save chooser.
    QString defaultSuffix;
    // Where the chooser starts (empty: wherever it likes) and the name it
    // proposes (a save chooser; empty for none).
    QString directory;
    QString initialName;
};

// What the user chose in a file chooser: an empty path when they cancelled,
// and the index of the type selected at the end (-1 when unknown). A chooser
// of several files gives them all in `paths` (and the first in `path`).
struct ChosenFile {
    QString path;
    int filter = -1;
    QStringList paths;
};

// Where the sheets of a queue go, and as what.
struct QueueOutput {
    bool besideMovies = true;
    QString folder;                         // when not beside the movies
    QString format = QStringLiteral("jpg"); // "jpg", "png" or "bmp"
    bool operator==(const QueueOutput&) const = default;
};

struct MessageRequest {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// The font of the sheet's text and the colour it is drawn in, chosen together.
struct FontChoice {
    QFont font;
    QColor color;
};

struct DialogSeams {
    std::function<ChosenFile(QWidget* parent, const FileRequest&)> chooseFile;
    // The button that closed the box (the Escape button when it was closed
    // another way).
    std::function<QMessageBox::StandardButton(QWidget* parent, const MessageRequest&)> message;
    // A box with buttons of the program's own beside its standard ones: the
    // index of the action chosen, or -1 when a standard button or the close
    // box ended it.
    std::function<int(QWidget* parent, const MessageRequest&, const QStringList& actions)>
        messageWithActions;
    // Hands a file or folder to the desktop's default application for it.
    std::function<bool(const QUrl& url)> openUrl;
    // Shows the file selected in the desktop's file manager; calls `done`
    // later, on the user thread, with whether a file manager took it (and not
    // at all when `parent` is gone by then).
    std::function<void(QWidget* parent, const QString& file, std::function<void(bool shown)> done)>
        revealFile;
    // The chosen colour, or nothing when the user cancelled.
    std::function<std::optional<QColor>(QWidget* parent, const QColor& initial)> chooseColor;
    // True when the user chose; `choice` then holds the font and colour.
    std::function<bool(QWidget* parent, FontChoice& choice)> chooseFont;
    // Asked before a queue of `movies` candidates starts: true to start,
    // with `output` as chosen (it comes in as last time).
    std::function<bool(QWidget* parent, QueueOutput& output, int movies)> chooseQueueOutput;
    // Runs a dialog of the program's own (About, Help, a frame seen large)
    // until it is closed.
    std::function<void(QDialog& dialog)> runDialog;
    // The command that opens `movie` at `time` in the user's player (an
    // empty program: none that takes a start time), and a way to start it
    // without waiting for it.
    std::function<player::Command(const QString& movie, const MediaTime& time)> playerCommand;
    std::function<bool(const QString& program, const QStringList& arguments)> startProgram;

    // The real choosers and boxes.
    static const DialogSeams& standard();
};

// The file chooser that `standard().chooseFile` runs, built but not shown,
// so its filters can be checked without blocking.
std::unique_ptr<QFileDialog> makeFileDialog(QWidget* parent, const FileRequest& request);

// The box `standard().messageWithActions` runs, built but not shown: the
// request's buttons, then one per action (in that order, with the action role).
std::unique_ptr<QMessageBox> makeMessageBox(QWidget* parent, const MessageRequest& request,
                                            const QStringList& actions = {});

// "*.avi" as "*.[aA][vV][iI]": the file system model of the chooser matches
// patterns with the file system's case rules, which on Linux are exact.
QString caseInsensitivePattern(const QString& pattern);
