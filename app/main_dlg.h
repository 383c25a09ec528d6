#pragma once
// The main window: open or drop a movie, read its facts, save its contact
// sheet while watching it grow, open the settings.
//
// The dialog owns the one CaptureJob and is its message receiver: the
// workers post their four messages through `post`, which queues them as Qt
// events for the dialog, and the dialog reacts to them on its own thread.
// While a worker runs the commands that would touch the job or the settings
// are disabled and drops are refused, so the job and the settings record are
// never changed under a worker; the worker's completion message gives them
// back. A running capture can be stopped (the Cancel button, Escape);
// closing the window during one asks first, then stops it and waits, and the
// destructor waits too, so no worker outlives the dialog or posts to it
// half-destroyed.
//
// Several movies dropped at once (or named at start) form a queue: each is
// probed and, when it has video, captured to a JPEG sheet beside it. A queue
// never overwrites its own work or its own movies: a movie whose sheet would
// land on an earlier movie's sheet or on a movie of the queue is left out
// before any work, and the list and the summary say which one it met.

#include <QDialog>
#include <QEvent>
#include <QIcon>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <vector>

#include "app/capture_job.h"
#include "app/dialog_seams.h"
#include "app/message_sink.h"
#include "app/user_settings.h"

class CInfoText;
struct CellShot;
struct SheetLayout;
struct SheetSession;
class CSheetPreview;
class PreviewFeed;
class QLabel;
class QListWidget;
class QMenu;
class QMenuBar;
class QFontMetrics;
class QMimeData;
class QProgressBar;
class QPushButton;

// A worker's message as it travels through the event queue; the event type is
// the message number.
class WorkerMessageEvent : public QEvent {
public:
    WorkerMessageEvent(uint32_t message, intptr_t wParam, intptr_t lParam)
        : QEvent(static_cast<QEvent::Type>(message)), wParam(wParam), lParam(lParam) {}
    const intptr_t wParam;
    const intptr_t lParam;
};

class CMainDlg : public QDialog, public ui::MessageSink {
    Q_OBJECT
public:
    // `options` is the program's live settings record: the settings dialog
    // edits it and each capture copies it when it starts. It must outlive
    // the dialog.
    explicit CMainDlg(Options& options, QWidget* parent = nullptr,
                      const DialogSeams& seams = DialogSeams::standard());
    ~CMainDlg() override;

    // Called by the workers, on their threads.
    void post(uint32_t message, intptr_t wParam, intptr_t lParam) override;

    // The open and drop commands end here: the file is probed when no
    // worker runs. It becomes the movie only when the probe finds video in
    // it, whatever its name; otherwise a message says why and the movie
    // before it stays.
    bool openMovie(const QString& path);
    // Several movies, or folders of them: one sheet each, where the user
    // chooses (beside each movie, or in one folder) and in the format chosen.
    // One file alone is opened instead. False when a worker runs, nothing
    // was found or the user declined.
    bool queueMovies(const QStringList& paths);

    enum class Mode { Idle, Probing, Capturing };
    Mode mode() const { return mode_; }
    // True from starting a worker until its completion message was handled,
    // and for the whole of a queue.
    bool isWorking() const { return mode_ != Mode::Idle || queueRunning(); }
    bool queueRunning() const { return queueActive_; }
    // Stops a running capture (and the rest of a queue); it ends with no
    // file written and no error shown.
    void cancelCapture();

    CaptureJob& job() { return job_; }
    Options& options() { return options_; }
    UserSettings& userSettings() { return user_; }
    QPushButton* openButton() const { return open_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* settingsButton() const { return settings_; }
    QPushButton* cancelButton() const { return cancel_; }
    QProgressBar* progressBar() const { return progress_; }
    CInfoText* infoText() const { return info_; }
    CSheetPreview* preview() const { return preview_; }
    QListWidget* queueList() const { return queueList_; }
    QMenu* recentMenu() const { return recent_; }
    PreviewFeed* previewFeed() const { return feed_.get(); }
    // The sheet the last capture wrote (empty before the first).
    QString lastSheet() const { return lastSheet_; }
    // What stands where the sheet will be until there is one.
    QLabel* hint() const { return hint_; }

    // The finished sheet the window works with (null before a capture, in a
    // queue, or when its frames could not be kept).
    const SheetSession* session() const { return session_.get(); }
    // Shows a cell's frame large (a click on it does this).
    void showCell(int index);
    // Puts a frame into a cell of the finished sheet, with its stamp; Save
    // then writes that sheet as it is. False when there is no such sheet.
    bool replaceCell(int index, const CellShot& shot);
    // After the settings changed: the finished sheet drawn again with them
    // from the frames it keeps, when no new frame is needed (true). Otherwise
    // it goes, and Save makes the new sheet.
    bool relayout();

    // The details of a probed movie: the information text, then what the
    // file's facts add (codec, size, sound …).
    static QString detailsText(const ProbeResult& probe);

    // Shows the file selected in the file manager, or else opens its folder.
    void showInFolder(const QString& file);

    // Closing asks first during a capture; see closeEvent.
    void reject() override;

    // The open chooser's request: the movie filter, shown as written, and
    // every file.
    static FileRequest movieRequest();
    // The save chooser's request: BMP, JPEG (selected) and PNG.
    static FileRequest sheetRequest();
    // The save chooser's request for the current movie: its name as a JPEG,
    // in its folder (or the folder last saved to when that one takes no
    // files).
    FileRequest sheetRequestForMovie() const;
    // What the finished message adds below the file's name, a sentence a
    // line: that the sheet is incomplete and how (cut short, moments without
    // a picture), stamps left out, decoding errors. Empty for a sheet without
    // any of them.
    static QString finishedNote(const CaptureResult& result);
    // The finished message of a sheet of `movie` saved as `sheet`: a warning
    // when the sheet is incomplete or the decoder met errors.
    static MessageRequest finishedMessage(const QString& movie, const QString& sheet,
                                          const CaptureResult& result);
    // What an incomplete sheet lacks, in one short line for the queue's list
    // and summary; empty for a complete sheet.
    static QString incompleteLine(const CaptureResult& result);
    // The n-th entry of Open Recent (from 1): its number as the shortcut,
    // then the movie's name, cut in the middle when long, with any "&"
    // shown as itself.
    static QString recentLabel(int n, const QString& path, const QFontMetrics& metrics);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct QueueItem {
        enum class State {
            Waiting,
            Probing,
            Capturing,
            Saved,
            Failed,
            Skipped,
            Stopped,
            LeftOut,    // its sheet would destroy another file of the queue
            PassedOver, // found in a folder, and no movie
        };
        QString movie;
        QString sheet;
        bool inFolder = false; // found in a dropped folder, not given itself
        State state = State::Waiting;
        bool incomplete = false; // saved, but not the whole movie in every cell
        QString note;            // its first line follows the state in the list
        QString details;         // the tooltip's words, when more than `note`
    };

    void OnOpen();
    void OnOpenFolder();
    void updateHint();
    void updateViewActions();
    void OnSave();
    void OnOptions();
    void buildMenu();
    void fillRecentMenu();
    void onWorkerMessage(uint32_t message, intptr_t wParam, intptr_t lParam);
    void onProbeDone();
    void onCaptureDone(intptr_t code);
    void showPreview();
    void setMode(Mode mode);
    void updateCommands();
    void updateTitle();
    void stopWorker();
    bool startCapture(const QString& target);
    // Asks for the target until it is one the capture can write, or the
    // user gives up (empty).
    QString askTarget();
    void showFinished(const CaptureResult& result);
    // Hands the file to the desktop; a box says so when nothing takes it.
    void openWithDesktop(const QUrl& url);
    // Writes the sheet the user edited, as it is, to `target`.
    void saveEdited(const QString& target);
    // The finished sheet in the window, at its size, cells ready to click.
    void showSession();
    void dropSession();
    // The view's sheet size and cells, for clicks and the keyboard.
    void showLayout(const SheetLayout& layout);
    // Leaves out the movies whose sheets would land on a sheet made earlier
    // in the queue or on a movie of it.
    void leaveOutClashes(std::vector<QueueItem>& items) const;
    void nextInQueue();
    void finishQueue();
    void showQueueItem(size_t index);
    QMessageBox::StandardButton
    message(QMessageBox::Icon icon, const QString& title, const QString& text,
            QMessageBox::StandardButtons buttons = QMessageBox::Ok,
            QMessageBox::StandardButton defaultButton = QMessageBox::Ok);
    QStringList moviesIn(const QMimeData* data) const;

    Options& options_;
    DialogSeams seams_;
    UserSettings user_;
    QPushButton* open_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* settings_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QProgressBar* progress_ = nullptr;
    CInfoText* info_ = nullptr;
    CSheetPreview* preview_ = nullptr;
    QListWidget* queueList_ = nullptr;
    QMenuBar* menuBar_ = nullptr;
    QMenu* recent_ = nullptr;
    QLabel* hint_ = nullptr;
    QAction* fitAction_ = nullptr;
    QAction* actualAction_ = nullptr;
    QList<QAction*> viewActions_;
    QList<QAction*> commandActions_; // the menu's twins of the buttons
    QAction* saveAction_ = nullptr;

    Mode mode_ = Mode::Idle;
    bool stopping_ = false;
    // A question is open over the window: worker messages wait until it
    // is answered, so no other box opens under it.
    bool asking_ = false;
    std::vector<std::unique_ptr<WorkerMessageEvent>> deferred_;
    QPointer<QWidget> focusBeforeWork_;
    QPointer<QWidget> focusDuringWork_;
    QString probing_; // the file being probed
    QString target_;  // the sheet being made
    QString lastSheet_;
    std::vector<QueueItem> queue_;
    QueueOutput queueOutput_; // where the queue's sheets go
    bool queueActive_ = false;
    int queueAt_ = -1; // the queue item being worked on

    std::unique_ptr<PreviewFeed> feed_;
    std::unique_ptr<SheetSession> session_;
    CaptureJob job_{this};
};

// The program's icon in all its sizes, from the program's resources.
QIcon stillwickIcon();
