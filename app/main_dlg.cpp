#include "app/main_dlg.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

#include <algorithm>

#include "app/info_text.h"
#include "settings/dialog/dialog_units.h"
#include "settings/dialog/fitted_width.h"
#include "settings/dialog/options_dlg.h"

// Resource initialisers live in the global namespace.
static void initResources() {
    Q_INIT_RESOURCE(stillwick);
}

QIcon stillwickIcon() {
    initResources();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/hicolor/%1x%1/apps/stillwick.png").arg(size),
                     QSize(size, size));
    return icon;
}

namespace {

constexpr uint32_t kWorkerMessages[] = {ui::WM_PROBE_DONE, ui::WM_CAPTURE_DONE,
                                        ui::WM_CAPTURE_BEGIN, ui::WM_CAPTURE_STEP};

std::string toLocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

FileRequest CMainDlg::movieRequest() {
    FileRequest r;
    r.mode = FileRequest::Mode::Open;
    r.caption = tr("Open");
    QStringList patterns;
    for (const QString& p :
         QString::fromLatin1(CaptureJob::kMovieFilterPatterns).split(QLatin1Char(';'))) {
        if (!p.trimmed().isEmpty())
            patterns << p.trimmed();
    }
    r.filters = {NameFilter{QString::fromLatin1(CaptureJob::kMovieFilterDescription), patterns}};
    r.selectedFilter = 0;
    return r;
}

FileRequest CMainDlg::sheetRequest() {
    FileRequest r;
    r.mode = FileRequest::Mode::Save;
    r.caption = tr("Save");
    r.filters = {NameFilter{tr("Bitmap Files (*.bmp)"), {QStringLiteral("*.bmp")}},
                 NameFilter{tr("Jpeg Files (*.jpg)"), {QStringLiteral("*.jpg")}},
                 NameFilter{tr("PNG Files (*.png)"), {QStringLiteral("*.png")}}};
    r.selectedFilter = 1;
    r.defaultSuffix = QStringLiteral("jpg");
    return r;
}

CMainDlg::CMainDlg(QWidget* parent, const DialogSeams& seams) : QDialog(parent), seams_(seams) {
    setWindowTitle(QStringLiteral("Stillwick"));
    setWindowIcon(stillwickIcon());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setAcceptDrops(true);

    const DialogUnits du(font());
    auto button = [&](const QString& text, const char* name, int x, int y) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        QRect r = du.rect(x, y, 54, 14);
        r.setWidth(std::max(r.width(), fittedWidth(b)));
        b->setGeometry(r);
        return b;
    };
    // Created in tab order; the buttons are the only controls that take
    // the focus.
    open_ = button(tr("Open…"), "open", 155, 8);
    save_ = button(tr("Save…"), "save", 156, 24);
    save_->setDefault(true);
    settings_ = button(tr("Settings"), "settings", 156, 40);

    auto* details = new QGroupBox(tr("Details"), this);
    details->setGeometry(du.rect(6, 4, 144, 63));
    details->setAttribute(Qt::WA_TransparentForMouseEvents);
    details->lower();

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setGeometry(du.rect(5, 71, 204, 10));
    progress_->setTextVisible(false);
    progress_->setRange(0, 100);
    progress_->setValue(0);

    info_ = new CInfoText(this);
    info_->setObjectName(QStringLiteral("info"));
    info_->setGeometry(du.rect(13, 16, 132, 49));

    setTabOrder(open_, save_);
    setTabOrder(save_, settings_);
    setFixedSize(du.rect(0, 0, 215, 86).size());
    open_->setFocus();

    connect(open_, &QPushButton::clicked, this, &CMainDlg::OnOpen);
    connect(save_, &QPushButton::clicked, this, &CMainDlg::OnSave);
    connect(settings_, &QPushButton::clicked, this, &CMainDlg::OnOptions);
}

CMainDlg::~CMainDlg() {
    // The job's own destructor would wait too, but by then this object is
    // no longer a MessageSink a worker may post to.
    job_.detach();
    job_.cancel();
    job_.wait();
}

void CMainDlg::post(uint32_t message, intptr_t wParam, intptr_t lParam) {
    QCoreApplication::postEvent(this, new WorkerMessageEvent(message, wParam, lParam));
}

QMessageBox::StandardButton CMainDlg::message(QMessageBox::Icon icon, const QString& title,
                                              const QString& text) {
    return seams_.message(this,
                          MessageRequest{icon, title, text, QMessageBox::Ok, QMessageBox::Ok});
}

void CMainDlg::setWorking(bool working) {
    if (working == working_)
        return;
    working_ = working;
    if (working)
        focusBeforeWork_ = focusWidget();
    open_->setEnabled(!working);
    save_->setEnabled(!working);
    settings_->setEnabled(!working);
    // Disabling the focused button takes the focus away; give it back, so
    // pressing Enter after a capture saves again as before.
    if (!working && focusBeforeWork_ && !focusWidget())
        focusBeforeWork_->setFocus();
}

bool CMainDlg::openMovie(const QString& path) {
    if (working_ || path.isEmpty())
        return false;
    if (!job_.acceptMovie(toLocalPath(path)))
        return false;
    setWorking(true);
    return true;
}

void CMainDlg::OnOpen() {
    if (working_)
        return;
    const QString path = seams_.chooseFile(this, movieRequest());
    if (!path.isEmpty())
        openMovie(path);
}

void CMainDlg::OnSave() {
    if (working_)
        return;
    // Without a movie a capture can only fail; saying so before the file
    // chooser spares the user choosing a file for nothing.
    if (job_.moviePath().empty()) {
        message(QMessageBox::Information, QGuiApplication::applicationDisplayName(),
                tr("Open a movie first, or drop one on this window."));
        return;
    }
    const QString target = seams_.chooseFile(this, sheetRequest());
    if (target.isEmpty())
        return;
    if (job_.startCapture(toLocalPath(target)))
        setWorking(true);
}

void CMainDlg::OnOptions() {
    if (working_)
        return;
    COptionsDlg options(this, seams_);
    options.exec();
}

QString CMainDlg::movieIn(const QMimeData* data) const {
    if (!data || !data->hasUrls())
        return {};
    // Only the first local file of a drop counts.
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return {};
}

void CMainDlg::dragEnterEvent(QDragEnterEvent* event) {
    const QString path = movieIn(event->mimeData());
    // The refusal shows while dragging; a drop would be ignored anyway.
    if (!working_ && !path.isEmpty() && CaptureJob::hasMovieExtension(toLocalPath(path)))
        event->acceptProposedAction();
    else
        event->ignore();
}

void CMainDlg::dragMoveEvent(QDragMoveEvent* event) {
    if (working_)
        event->ignore();
    else
        event->acceptProposedAction();
}

void CMainDlg::dropEvent(QDropEvent* event) {
    const QString path = movieIn(event->mimeData());
    if (working_ || path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    openMovie(path);
}

bool CMainDlg::event(QEvent* event) {
    const auto type = static_cast<uint32_t>(event->type());
    if (type >= ui::WM_PROBE_DONE && type <= ui::WM_CAPTURE_STEP) {
        auto* m = static_cast<WorkerMessageEvent*>(event);
        onWorkerMessage(type, m->wParam, m->lParam);
        return true;
    }
    return QDialog::event(event);
}

void CMainDlg::onWorkerMessage(uint32_t message, intptr_t wParam, intptr_t lParam) {
    switch (message) {
    case ui::WM_PROBE_DONE:
        // The result is not shown separately: a failed probe's text says
        // what went wrong.
        info_->setText(QString::fromStdString(job_.finishProbe().infoText));
        setWorking(false);
        break;
    case ui::WM_CAPTURE_BEGIN: {
        const int lower = static_cast<int>(lParam & 0xFFFF);
        const int upper = static_cast<int>((lParam >> 16) & 0xFFFF);
        // An empty range would turn the bar into a busy indicator.
        progress_->setRange(lower, std::max(upper, lower + 1));
        progressStep_ = 1;
        break;
    }
    case ui::WM_CAPTURE_STEP:
        progress_->setValue(std::min(progress_->value() + progressStep_, progress_->maximum()));
        break;
    case ui::WM_CAPTURE_DONE: {
        const CaptureResult& result = job_.finishCapture();
        if (wParam != 0)
            this->message(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                          QString::fromStdString(result.errorText));
        else
            this->message(QMessageBox::NoIcon, tr("Finished!"), tr("OK!"));
        progress_->setValue(0);
        setWorking(false);
        break;
    }
    default:
        break;
    }
}

void CMainDlg::stopWorker() {
    job_.cancel();
    job_.wait();
    // What the stopped worker posted is about a run the user walked away
    // from; a reopened dialog must not show its boxes.
    for (uint32_t type : kWorkerMessages)
        QCoreApplication::removePostedEvents(this, static_cast<int>(type));
    progress_->setValue(0);
    setWorking(false);
}

void CMainDlg::reject() {
    if (working_)
        stopWorker();
    QDialog::reject();
}
