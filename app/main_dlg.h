#pragma once
// The main window: open or drop a movie, read its facts, save its contact
// sheet, open the settings.
//
// The dialog owns the one CaptureJob and is its message receiver: the
// workers post their four messages through `post`, which queues them as Qt
// events for the dialog, and the dialog reacts to them on its own thread.
// While a worker runs the dialog's commands are disabled and drops are
// refused, so the job and the settings record are never changed under a
// worker; the worker's completion message gives them back. Closing the
// dialog during a capture cancels it and waits for the worker, and the
// destructor waits too, so no worker outlives the dialog or posts to it
// half-destroyed.

#include <QDialog>
#include <QEvent>
#include <QIcon>
#include <QPointer>

#include "capture/capture_job.h"
#include "platform/ui/message_sink.h"
#include "settings/dialog/dialog_seams.h"

class CInfoText;
class QProgressBar;
class QPushButton;
class QMimeData;

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
    explicit CMainDlg(QWidget* parent = nullptr,
                      const DialogSeams& seams = DialogSeams::standard());
    ~CMainDlg() override;

    // Called by the workers, on their threads.
    void post(uint32_t message, intptr_t wParam, intptr_t lParam) override;

    // The open and drop commands end here: the movie is accepted when its
    // extension passes the test and no worker runs. A refused file changes
    // nothing and shows nothing.
    bool openMovie(const QString& path);

    // True from starting a worker until its completion message was handled.
    bool isWorking() const { return working_; }

    CaptureJob& job() { return job_; }
    QPushButton* openButton() const { return open_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* settingsButton() const { return settings_; }
    QProgressBar* progressBar() const { return progress_; }
    CInfoText* infoText() const { return info_; }

    // Closing: a running capture is cancelled and waited for, and what it
    // would still have reported is dropped.
    void reject() override;

    // The open chooser's request: the movie filter, shown as written.
    static FileRequest movieRequest();
    // The save chooser's request: BMP, JPEG (selected) and PNG.
    static FileRequest sheetRequest();

protected:
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void OnOpen();
    void OnSave();
    void OnOptions();
    void onWorkerMessage(uint32_t message, intptr_t wParam, intptr_t lParam);
    void setWorking(bool working);
    void stopWorker();
    QMessageBox::StandardButton message(QMessageBox::Icon icon, const QString& title,
                                        const QString& text);
    QString movieIn(const QMimeData* data) const;

    DialogSeams seams_;
    QPushButton* open_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* settings_ = nullptr;
    QProgressBar* progress_ = nullptr;
    CInfoText* info_ = nullptr;
    bool working_ = false;
    QPointer<QWidget> focusBeforeWork_;
    int progressStep_ = 1;
    CaptureJob job_{this};
};

// The program's icon in all its sizes, from the program's resources.
QIcon stillwickIcon();
