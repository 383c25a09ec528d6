#include "app/main_dlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cmath>

#include "app/about.h"
#include "app/frame_dlg.h"
#include "app/info_text.h"
#include "app/movie_details.h"
#include "app/movie_finder.h"
#include "app/options_dlg.h"
#include "app/sheet_preview.h"
#include "app/sheet_session.h"
#include "app/sheet_target.h"
#include "capture/sheet_clashes.h"

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

// The capture's times are in 100-ns units.
constexpr int64_t kUnitsPerSecond = 10'000'000;

constexpr uint32_t kWorkerMessages[] = {ui::WM_PROBE_DONE, ui::WM_CAPTURE_DONE,
                                        ui::WM_CAPTURE_BEGIN, ui::WM_CAPTURE_STEP};

std::string toLocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString fromLocalPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString fileName(const QString& path) {
    return QFileInfo(path).fileName();
}

// "hh:mm:ss.cc" of a time in 100-ns units, truncated, in integers: through
// a double, 2.53 s is 2.5299… s and would read 00:00:02.52.
QString hundredthsText(int64_t units) {
    const int64_t hundredths = std::max<int64_t>(units, 0) / (kUnitsPerSecond / 100);
    const int64_t seconds = hundredths / 100;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        .arg(hundredths % 100, 2, 10, QLatin1Char('0'));
}

// How much of a cut-short movie could be read. A short part needs its
// hundredths: "00:00:00" would say that nothing could.
QString readableText(const CaptureResult& result) {
    return result.readableDuration >= 10 * kUnitsPerSecond
               ? QString::fromStdString(momentText(result.readableDuration))
               : hundredthsText(result.readableDuration);
}

// The first `most` moments without a picture, to the hundredth (moments of a
// short movie lie within one second), and "…" for the rest.
QString missingTimes(const CaptureResult& result, size_t most) {
    QStringList times;
    for (size_t i = 0; i < result.missingMoments.size() && i < most; ++i)
        times << hundredthsText(result.missingMoments[i]);
    if (result.missingMoments.size() > most)
        times << QStringLiteral("…");
    return times.join(QStringLiteral(", "));
}

// The open chooser's filter: the classic extensions, then today's. It only
// decides which files the chooser lists; whether a file is a movie is the
// probe's word, and "All files" offers the rest.
constexpr const char* kMovieFilterDescription =
    "Movie Files (.avi, .qt, .mov, .mpg, .mpeg, .m1v, .dat, .rm, .rmvb .wmv, .mp4, .m4v, "
    ".mkv, .webm, .ts, .m2ts, .mts, .m2v, .flv, .f4v, .ogv, .3gp, .3g2, .mxf, .vob, .asf, "
    ".divx, .y4m)";
constexpr const char* kMovieFilterPatterns =
    "*.avi; *.qt; *.mov; *.mpg; *.mpeg; *.m1v; *.dat; *.rm; *.rmvb; *.wmv; *.mp4; *.m4v; "
    "*.mkv; *.webm; *.ts; *.m2ts; *.mts; *.m2v; *.flv; *.f4v; *.ogv; *.3gp; *.3g2; *.mxf; "
    "*.vob; *.asf; *.divx; *.y4m;";

QStringList patternsOf(const char* list) {
    QStringList patterns;
    for (const QString& p : QString::fromLatin1(list).split(QLatin1Char(';'))) {
        if (!p.trimmed().isEmpty())
            patterns << p.trimmed();
    }
    return patterns;
}

} // namespace

FileRequest CMainDlg::movieRequest() {
    FileRequest r;
    r.mode = FileRequest::Mode::OpenMany;
    r.caption = tr("Open");
    r.filters = {
        NameFilter{QString::fromLatin1(kMovieFilterDescription), patternsOf(kMovieFilterPatterns)},
        NameFilter{tr("All files"), {QStringLiteral("*")}}};
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

FileRequest CMainDlg::sheetRequestForMovie() const {
    FileRequest r = sheetRequest();
    const QString movie = fromLocalPath(job_.moviePath());
    if (movie.isEmpty())
        return r;
    // Beside the movie when that folder takes files; a movie on a disc or a
    // read-only share gets the folder last saved to instead. (Permission
    // bits cannot tell: they do not bind the superuser or a read-only mount.)
    QString folder = QFileInfo(movie).absolutePath();
    if (!sheettarget::folderTakesFiles(folder)) {
        const QString last = user_.lastSheetFolder();
        folder = !last.isEmpty() && sheettarget::folderTakesFiles(last) ? last : QDir::homePath();
    }
    r.directory = folder;
    r.initialName = sheettarget::proposedName(movie);
    return r;
}

CMainDlg::CMainDlg(Options& options, QWidget* parent, const DialogSeams& seams)
    : QDialog(parent), options_(options), seams_(seams),
      feed_(std::make_unique<PreviewFeed>(this)) {
    setWindowIcon(stillwickIcon());
    // A main window: it can be made larger to see the sheet better.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setAcceptDrops(true);

    auto button = [this](const QString& text, const char* name, const QString& description) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAccessibleDescription(description);
        return b;
    };
    open_ = button(tr("&Open…"), "open", tr("Choose a movie."));
    save_ = button(tr("&Save…"), "save", tr("Choose where the contact sheet goes and make it."));
    save_->setDefault(true);
    settings_ = button(tr("Se&ttings"), "settings", tr("Edit the layout of the sheet."));
    cancel_ = button(tr("&Cancel"), "cancel", tr("Stop the capture; nothing is saved."));

    auto* details = new QGroupBox(tr("&Details"), this);
    details->setObjectName(QStringLiteral("details"));
    info_ = new CInfoText(details);
    info_->setObjectName(QStringLiteral("info"));
    auto* detailsLayout = new QVBoxLayout(details);
    detailsLayout->addWidget(info_);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setAccessibleName(tr("Capture progress"));
    progress_->setTextVisible(false);
    progress_->setRange(0, 100);
    progress_->setValue(0);

    queueList_ = new QListWidget(this);
    queueList_->setObjectName(QStringLiteral("queue"));
    queueList_->setAccessibleName(tr("Queue"));
    queueList_->setAccessibleDescription(
        tr("The movies dropped together; activate a saved one to open its sheet."));
    queueList_->setMaximumHeight(queueList_->fontMetrics().lineSpacing() * 6);
    queueList_->hide();
    connect(queueList_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        const int i = queueList_->row(item);
        if (i >= 0 && i < static_cast<int>(queue_.size()) &&
            queue_[i].state == QueueItem::State::Saved)
            seams_.openUrl(QUrl::fromLocalFile(queue_[i].sheet));
    });

    preview_ = new CSheetPreview(this);
    preview_->setObjectName(QStringLiteral("preview"));
    preview_->hide();

    // Where the sheet will be: until there is one, what to do first.
    hint_ = new QLabel(this);
    hint_->setObjectName(QStringLiteral("hint"));
    hint_->setAlignment(Qt::AlignCenter);
    hint_->setWordWrap(true);
    hint_->setFrameShape(QFrame::StyledPanel);
    hint_->setMargin(fontMetrics().height());
    hint_->setMinimumHeight(fontMetrics().lineSpacing() * 7);
    hint_->setAccessibleName(tr("What to do"));

    buildMenu();

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(open_);
    buttons->addWidget(save_);
    buttons->addWidget(settings_);
    buttons->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(details, 1);
    top->addLayout(buttons);
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(progress_, 1);
    progressRow->addWidget(cancel_);
    auto* root = new QVBoxLayout(this);
    root->setMenuBar(menuBar_);
    root->addLayout(top);
    root->addLayout(progressRow);
    root->addWidget(queueList_);
    root->addWidget(hint_, 1);
    root->addWidget(preview_, 1);

    // The order the eye reads: the details, the buttons beside them, then
    // what lies below.
    setTabOrder(info_, open_);
    setTabOrder(open_, save_);
    setTabOrder(save_, settings_);
    setTabOrder(settings_, cancel_);
    setTabOrder(cancel_, queueList_);
    setTabOrder(queueList_, preview_);
    open_->setFocus();

    connect(open_, &QPushButton::clicked, this, &CMainDlg::OnOpen);
    connect(save_, &QPushButton::clicked, this, &CMainDlg::OnSave);
    connect(settings_, &QPushButton::clicked, this, &CMainDlg::OnOptions);
    connect(cancel_, &QPushButton::clicked, this, &CMainDlg::cancelCapture);

    connect(preview_, &CSheetPreview::cellActivated, this, &CMainDlg::showCell);

    updateTitle();
    updateCommands();
    updateHint();
    // A window whose text wraps would open at its narrowest; it opens at the
    // width its details ask for instead.
    resize(sizeHint());
}

void CMainDlg::buildMenu() {
    menuBar_ = new QMenuBar(this);
    QMenu* file = menuBar_->addMenu(tr("&File"));
    QAction* open = file->addAction(tr("&Open…"), this, &CMainDlg::OnOpen);
    open->setShortcut(QKeySequence::Open);
    QAction* openFolder = file->addAction(tr("Open &Folder…"), this, &CMainDlg::OnOpenFolder);
    recent_ = file->addMenu(tr("Open &Recent"));
    recent_->setObjectName(QStringLiteral("recent"));
    // The whole path of a movie whose name is cut short.
    recent_->setToolTipsVisible(true);
    connect(recent_, &QMenu::aboutToShow, this, &CMainDlg::fillRecentMenu);
    fillRecentMenu();
    saveAction_ = file->addAction(tr("&Save Sheet…"), this, &CMainDlg::OnSave);
    saveAction_->setShortcut(QKeySequence::Save);
    QAction* settings = file->addAction(tr("Se&ttings…"), this, &CMainDlg::OnOptions);
    file->addSeparator();
    QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);
    commandActions_ = {open, openFolder, settings};

    QMenu* view = menuBar_->addMenu(tr("&View"));
    view->setObjectName(QStringLiteral("viewMenu"));
    fitAction_ = view->addAction(tr("&Fit to Window"), preview_, &CSheetPreview::fitToWindow);
    fitAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    fitAction_->setCheckable(true);
    actualAction_ =
        view->addAction(tr("&Actual Size"), preview_, [this] { preview_->setZoom(1.0); });
    actualAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    actualAction_->setCheckable(true);
    QAction* in = view->addAction(tr("Zoom &In"), preview_, &CSheetPreview::zoomIn);
    in->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    QAction* out = view->addAction(tr("Zoom &Out"), preview_, &CSheetPreview::zoomOut);
    out->setShortcut(QKeySequence::ZoomOut);
    view->addSeparator();
    // The keyboard's way to the sheet's cells, wherever the focus is.
    QAction* cells = view->addAction(tr("&Choose a Frame"), this, [this] {
        preview_->setFocus();
        if (preview_->cellsActive() && preview_->currentCell() < 0)
            preview_->setCurrentCell(0);
    });
    cells->setShortcut(QKeySequence(Qt::Key_F6));
    viewActions_ = {fitAction_, actualAction_, in, out, cells};
    connect(preview_, &CSheetPreview::zoomChanged, this, &CMainDlg::updateViewActions);

    QMenu* help = menuBar_->addMenu(tr("&Help"));
    QAction* page = help->addAction(tr("Stillwick &Help"), this, [this] {
        CHelpDlg dialog(this);
        seams_.runDialog(dialog);
    });
    page->setShortcut(QKeySequence::HelpContents);
    help->addAction(tr("&About Stillwick"), this, [this] {
        CAboutDlg dialog(this);
        seams_.runDialog(dialog);
    });
}

void CMainDlg::updateViewActions() {
    const bool sheet = preview_->isVisible() && !preview_->image().isNull();
    for (QAction* a : viewActions_)
        a->setEnabled(sheet);
    fitAction_->setChecked(preview_->fitting());
    actualAction_->setChecked(!preview_->fitting() && std::abs(preview_->zoom() - 1.0) < 1e-9);
}

void CMainDlg::updateHint() {
    // The hint stands where the sheet will be, until there is one.
    const bool sheet = preview_->isVisible();
    const bool queue = queueList_->isVisible();
    hint_->setVisible(!sheet && !queue);
    if (job_.moviePath().empty())
        hint_->setText(tr("Open a movie with Open… (Ctrl+O), or drop it here.\n\n"
                          "Drop several movies or a folder to make a sheet of each."));
    else
        hint_->setText(tr("Save… (Ctrl+S) makes the contact sheet of %1.\n\n"
                          "Settings changes its layout.")
                           .arg(fileName(fromLocalPath(job_.moviePath()))));
    hint_->setAccessibleDescription(hint_->text());
}

QString CMainDlg::recentLabel(int n, const QString& path, const QFontMetrics& metrics) {
    // A long name is cut in the middle, where names differ least: the start
    // says what the movie is and the end often its part or episode. The
    // width is counted in characters of the menu's font, so it stays
    // within a screen at any scale.
    const QString shown =
        metrics.elidedText(fileName(path), Qt::ElideMiddle, metrics.averageCharWidth() * 48);
    // A menu reads "&" as the mark of the next letter's shortcut.
    QString label = shown;
    label.replace(QLatin1Char('&'), QLatin1String("&&"));
    return n < 10 ? QStringLiteral("&%1 %2").arg(n).arg(label) : label;
}

void CMainDlg::fillRecentMenu() {
    recent_->clear();
    int n = 0;
    for (const QString& path : user_.recentMovies()) {
        // A movie that has gone is left out rather than offered in vain.
        if (!QFileInfo::exists(path))
            continue;
        ++n;
        QAction* a = recent_->addAction(recentLabel(n, path, recent_->fontMetrics()), this,
                                        [this, path] { openMovie(path); });
        a->setToolTip(QDir::toNativeSeparators(path));
        a->setStatusTip(a->toolTip());
    }
    if (n == 0)
        recent_->addAction(tr("No recent movies"))->setEnabled(false);
    recent_->addSeparator();
    recent_->addAction(tr("&Clear List"), this, [this] { user_.clearRecentMovies(); })
        ->setEnabled(n > 0);
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
                                              const QString& text,
                                              QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton) {
    return seams_.message(this, MessageRequest{icon, title, text, buttons, defaultButton});
}

void CMainDlg::setMode(Mode mode) {
    const bool wasWorking = isWorking();
    mode_ = mode;
    const bool working = isWorking();
    if (working && !wasWorking)
        focusBeforeWork_ = focusWidget();
    updateCommands();
    if (working && !wasWorking)
        focusDuringWork_ = focusWidget();
    // Disabling the focused button moves the focus on; unless the user has
    // moved it since, give it back, so pressing Enter after a capture saves
    // again as before.
    if (!working && wasWorking && focusBeforeWork_ && focusBeforeWork_->isEnabled() &&
        focusWidget() == focusDuringWork_)
        focusBeforeWork_->setFocus();
}

void CMainDlg::updateCommands() {
    const bool idle = !isWorking();
    open_->setEnabled(idle);
    settings_->setEnabled(idle);
    for (QAction* a : commandActions_)
        a->setEnabled(idle);
    recent_->setEnabled(idle);
    const bool canSave = idle && job_.movieReady();
    save_->setEnabled(canSave);
    saveAction_->setEnabled(canSave);
    cancel_->setEnabled((mode_ == Mode::Capturing || queueRunning()) && !stopping_);

    QString why;
    const QString movie = fileName(fromLocalPath(job_.moviePath()));
    // A file is the movie only once its probe found video in it, so a
    // movie that is there can be saved.
    if (job_.moviePath().empty())
        why = tr("Open a movie first, or drop one on this window.");
    else if (!idle)
        why = tr("Wait for the capture to end, or cancel it.");
    else
        why = tr("Save a contact sheet of %1.").arg(movie);
    save_->setToolTip(why);
    save_->setAccessibleDescription(why);
}

void CMainDlg::updateTitle() {
    const QString app = QStringLiteral("Stillwick");
    QString movie = fileName(fromLocalPath(job_.moviePath()));
    // The sheet shown holds frames chosen by hand: Save writes it as it is.
    if (session_ && session_->edited && !movie.isEmpty())
        movie += tr(" (frames chosen)");
    setWindowTitle(movie.isEmpty() ? app : tr("%1 — %2").arg(movie, app));
}

bool CMainDlg::openMovie(const QString& path) {
    if (isWorking() || path.isEmpty())
        return false;
    if (!job_.acceptMovie(toLocalPath(path)))
        return false;
    probing_ = path;
    // A queue's list stays up until another movie is opened.
    queueList_->hide();
    updateHint();
    setMode(Mode::Probing);
    return true;
}

void CMainDlg::OnOpen() {
    if (isWorking())
        return;
    FileRequest request = movieRequest();
    request.directory = user_.lastMovieFolder();
    const ChosenFile chosen = seams_.chooseFile(this, request);
    QStringList paths = chosen.paths;
    if (paths.isEmpty() && !chosen.path.isEmpty())
        paths << chosen.path;
    // One opens; several make a queue, as when dropped.
    if (paths.size() == 1)
        openMovie(paths.front());
    else if (paths.size() > 1)
        queueMovies(paths);
}

void CMainDlg::OnOpenFolder() {
    if (isWorking())
        return;
    FileRequest request;
    request.mode = FileRequest::Mode::Folder;
    request.caption = tr("Open Folder");
    request.directory = user_.lastMovieFolder();
    const ChosenFile chosen = seams_.chooseFile(this, request);
    if (!chosen.path.isEmpty())
        queueMovies({chosen.path});
}

QString CMainDlg::askTarget() {
    FileRequest request = sheetRequestForMovie();
    for (;;) {
        const ChosenFile chosen = seams_.chooseFile(this, request);
        if (chosen.path.isEmpty())
            return {};
        QString target = chosen.path;
        // Another round starts where this one ended.
        request.directory = QFileInfo(target).absolutePath();
        request.initialName = fileName(target);
        if (chosen.filter >= 0 && chosen.filter < request.filters.size())
            request.selectedFilter = chosen.filter;

        if (!sheettarget::knownExtension(target)) {
            // The type chosen in the chooser decides; a name such as
            // sheet.gif would otherwise get bytes of another format.
            const QString ext =
                request.filters[request.selectedFilter].patterns.value(0).mid(2).toLower();
            const QString proposed = target + QLatin1Char('.') + ext;
            if (!QFileInfo(target).suffix().isEmpty()) {
                const QMessageBox::StandardButton answer = message(
                    QMessageBox::Question, QGuiApplication::applicationDisplayName(),
                    tr("Stillwick writes JPEG, PNG and BMP pictures; “%1” does not name one of "
                       "them.\n\nSave the sheet as “%2”?")
                        .arg(fileName(target), fileName(proposed)),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
                if (answer == QMessageBox::No)
                    continue;
                if (answer != QMessageBox::Yes)
                    return {};
            }
            target = proposed;
            // The chooser asked about the name it saw, not this one.
            if (QFileInfo::exists(target) &&
                message(QMessageBox::Question, QGuiApplication::applicationDisplayName(),
                        tr("“%1” exists already. Replace it?").arg(fileName(target)),
                        QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
                continue;
        }

        // A movie named like a picture (clip.jpg) is offered its own name;
        // the chooser's "Replace?" does not say that the file is the movie.
        if (sheetclash::samePlace(toLocalPath(target), job_.moviePath())) {
            message(QMessageBox::Warning, QGuiApplication::applicationDisplayName(),
                    tr("“%1” is the movie itself: the sheet would replace it.\n\nChoose another "
                       "name.")
                        .arg(fileName(target)));
            continue;
        }

        const QString folder = QFileInfo(target).absolutePath();
        QString reason;
        if (!sheettarget::folderTakesFiles(folder, &reason)) {
            message(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                    tr("No sheet can be saved in %1:\n%2\n\nChoose another folder.")
                        .arg(QDir::toNativeSeparators(folder), reason));
            continue;
        }
        return target;
    }
}

void CMainDlg::OnSave() {
    if (isWorking() || !job_.movieReady())
        return;
    const QString target = askTarget();
    if (target.isEmpty())
        return;
    user_.setLastSheetFolder(QFileInfo(target).absolutePath());
    // A sheet drawn here (frames chosen by hand, or the settings changed
    // since its capture) is written as it is shown: it is what a capture
    // would make, or what the user made of it.
    if (session_ && (session_->edited || session_->composed) &&
        session_->moviePath == job_.moviePath() &&
        session_->madeWith(options_, user_.frameChoice())) {
        saveEdited(target);
        return;
    }
    startCapture(target);
}

void CMainDlg::saveEdited(const QString& target) {
    std::string error;
    if (!session_->compose(error)) {
        message(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                tr("The sheet could not be made.\n\n%1").arg(QString::fromStdString(error)));
        return;
    }
    const Result written = writeComposedSheet(session_->sheet, session_->plan, toLocalPath(target));
    if (!written.ok()) {
        message(
            QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
            tr("The sheet could not be made.\n\n%1").arg(QString::fromStdString(written.text())));
        return;
    }
    target_ = target;
    lastSheet_ = target;
    showFinished(session_->outcome());
}

void CMainDlg::showLayout(const SheetLayout& l) {
    QList<QRect> cells;
    for (int64_t k = 0; k < l.cells; ++k) {
        const CellRect c = l.cellAt(k);
        cells << QRect(c.x, c.y, c.width, c.height);
    }
    preview_->setSheet(QSize(l.sheetWidth, l.sheetHeight), cells);
}

void CMainDlg::dropSession() {
    session_.reset();
    preview_->setCellsActive(false);
}

void CMainDlg::showSession() {
    if (!session_)
        return;
    const SheetLayout& l = session_->layout;
    showLayout(l);
    if (session_->composed)
        preview_->setPicture(PreviewFeed::shrink(session_->sheet, INT_MAX),
                             static_cast<int>(std::min<int64_t>(l.cells, INT_MAX)),
                             static_cast<int>(std::min<int64_t>(l.cells, INT_MAX)));
    preview_->setCellsActive(true);
    updateViewActions();
}

void CMainDlg::showCell(int index) {
    if (!session_ || isWorking() || index < 0 ||
        static_cast<size_t>(index) >= session_->cells.size())
        return;
    const CellRect box = session_->layout.cellAt(index);
    CFrameDlg::Cell cell;
    cell.movie = fromLocalPath(session_->moviePath);
    cell.index = index;
    cell.cells = static_cast<int>(session_->cells.size());
    cell.shot = session_->cells[static_cast<size_t>(index)];
    cell.width = box.width;
    cell.height = box.height;
    CFrameDlg dialog(cell, seams_, this);
    connect(&dialog, &CFrameDlg::cellReplaced, this, &CMainDlg::replaceCell);
    seams_.runDialog(dialog);
}

bool CMainDlg::replaceCell(int index, const CellShot& shot) {
    if (!session_ || isWorking())
        return false;
    std::string error;
    if (!session_->replaceCell(index, shot, error)) {
        message(QMessageBox::Warning, QGuiApplication::applicationDisplayName(),
                QString::fromStdString(error));
        return false;
    }
    showSession();
    preview_->setCurrentCell(index);
    updateTitle();
    return true;
}

void CMainDlg::showPreview() {
    if (preview_->isVisible())
        return;
    preview_->show();
    updateHint();
    updateViewActions();
    // The window grows to give the sheet room; a window the user made
    // larger keeps its size. It stays on its screen: grown downwards from
    // where it stood, it could reach past the bottom.
    if (layout())
        layout()->activate();
    QSize wanted = size().expandedTo(sizeHint());
    if (QScreen* s = screen()) {
        const QRect room = s->availableGeometry();
        const QSize frame = frameGeometry().size() - size();
        wanted = wanted.boundedTo(room.size() - frame).expandedTo(minimumSizeHint());
        resize(wanted);
        QRect at = frameGeometry();
        at.moveRight(std::min(at.right(), room.right()));
        at.moveBottom(std::min(at.bottom(), room.bottom()));
        at.moveLeft(std::max(at.left(), room.left()));
        at.moveTop(std::max(at.top(), room.top()));
        if (at.topLeft() != frameGeometry().topLeft())
            move(at.topLeft());
    } else {
        resize(wanted);
    }
}

bool CMainDlg::startCapture(const QString& target) {
    dropSession();
    preview_->clear();
    job_.setSheetWatcher(feed_.get());
    // The desktop program draws the information block so it can be read
    // on any background.
    if (!job_.startCapture(toLocalPath(target), options_, user_.frameChoice(),
                           InformationColor::ByBackground))
        return false;
    if (feed_->layoutKnown())
        showLayout(feed_->layout());
    // Shown once its size is known, so the window grows to fit it.
    showPreview();
    target_ = target;
    stopping_ = false;
    setMode(Mode::Capturing);
    return true;
}

void CMainDlg::OnOptions() {
    if (isWorking())
        return;
    COptionsDlg options(options_, this, seams_);
    if (job_.movieReady())
        options.setMovie(job_.movie().facts, job_.movie().infoText);
    options.exec();
    relayout();
}

bool CMainDlg::relayout() {
    if (!session_ || isWorking() || session_->madeWith(options_, user_.frameChoice()))
        return false;
    std::string why;
    switch (session_->relayout(options_, user_.frameChoice(), why)) {
    case SheetSession::Relayout::Drawn:
        showSession();
        updateCommands();
        return true;
    case SheetSession::Relayout::NeedsFrames:
        // The next capture takes the frames it shares with this sheet.
        if (session_->moviePath == job_.moviePath())
            job_.keepFrames(session_->keptFrames());
        break;
    case SheetSession::Relayout::Refused:
        break;
    }
    // The sheet shown is no longer what Save would make: it goes, and the
    // hint says how to make the new one.
    dropSession();
    preview_->clear();
    preview_->hide();
    updateViewActions();
    updateHint();
    return false;
}

void CMainDlg::cancelCapture() {
    if (!queueRunning() && mode_ != Mode::Capturing)
        return;
    if (stopping_)
        return;
    stopping_ = true;
    // A queue's probe stops too; the queue ends when it returns.
    job_.cancel();
    if (mode_ == Mode::Capturing) {
        progress_->setFormat(tr("Stopping…"));
        progress_->setTextVisible(true);
    }
    updateCommands();
}

QStringList CMainDlg::moviesIn(const QMimeData* data) const {
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            paths << url.toLocalFile();
    }
    return paths;
}

void CMainDlg::dragEnterEvent(QDragEnterEvent* event) {
    // Any file may be a movie: the probe decides once it is dropped.
    if (!isWorking() && !moviesIn(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CMainDlg::dragMoveEvent(QDragMoveEvent* event) {
    if (isWorking())
        event->ignore();
    else
        event->acceptProposedAction();
}

void CMainDlg::dropEvent(QDropEvent* event) {
    const QStringList paths = moviesIn(event->mimeData());
    if (isWorking() || paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // A folder, or several files, make a queue; queueMovies opens one file.
    queueMovies(paths);
}

bool CMainDlg::event(QEvent* event) {
    const auto type = static_cast<uint32_t>(event->type());
    if (type >= ui::WM_PROBE_DONE && type <= ui::WM_CAPTURE_STEP) {
        auto* m = static_cast<WorkerMessageEvent*>(event);
        if (asking_)
            deferred_.push_back(std::make_unique<WorkerMessageEvent>(type, m->wParam, m->lParam));
        else
            onWorkerMessage(type, m->wParam, m->lParam);
        return true;
    }
    if (event->type() == PreviewFeed::eventType()) {
        const PreviewFeed::Picture picture = feed_->take();
        if (!picture.image.isNull()) {
            preview_->setPicture(picture.image, picture.momentsDone, picture.moments);
            updateViewActions();
        }
        return true;
    }
    return QDialog::event(event);
}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
    // Escape stops a capture; it never closes the window, which is the
    // program, not a passing dialog.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cancelCapture();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CMainDlg::onWorkerMessage(uint32_t message, intptr_t wParam, intptr_t /*lParam*/) {
    switch (message) {
    case ui::WM_PROBE_DONE:
        onProbeDone();
        break;
    case ui::WM_CAPTURE_BEGIN: {
        // The job knows the count in full; the bar counts in int.
        const int frames = static_cast<int>(std::min<int64_t>(job_.captureFrames(), INT_MAX));
        // An empty range would turn the bar into a busy indicator.
        progress_->setRange(0, std::max(frames, 1));
        progress_->setValue(0);
        progress_->setFormat(tr("%v of %m"));
        progress_->setTextVisible(true);
        break;
    }
    case ui::WM_CAPTURE_STEP:
        progress_->setValue(std::min(progress_->value() + 1, progress_->maximum()));
        if (queueRunning() && queueAt_ >= 0)
            showQueueItem(static_cast<size_t>(queueAt_));
        break;
    case ui::WM_CAPTURE_DONE:
        onCaptureDone(wParam);
        break;
    default:
        break;
    }
}

void CMainDlg::onProbeDone() {
    const ProbeResult& probe = job_.finishProbe();
    const QString path = probing_;
    probing_.clear();
    setMode(Mode::Idle);
    const bool taken = job_.probeTaken();
    // The movies of a folder are not remembered one by one: a folder of a
    // hundred would push everything else off the list.
    const bool fromFolder = queueRunning() && queue_[static_cast<size_t>(queueAt_)].inFolder;
    if (taken) {
        info_->setText(detailsText(probe));
        dropSession();
        preview_->clear();
        if (!fromFolder) {
            user_.addRecentMovie(path);
            user_.setLastMovieFolder(QFileInfo(path).absolutePath());
        }
    }
    updateTitle();
    updateCommands();
    updateHint();

    if (queueRunning()) {
        QueueItem& item = queue_[static_cast<size_t>(queueAt_)];
        if (stopping_) {
            item.state = QueueItem::State::Stopped;
            finishQueue();
            return;
        }
        QString reason;
        const QString sheetFolder = QFileInfo(item.sheet).absolutePath();
        // A file a folder brought along that holds no moving pictures (a
        // text, a photo, a sound file) is passed over, as the command line
        // passes it over; one that holds video but cannot be read fails.
        const bool noMovie = !taken ? probe.status.code() == ResultCode::NoVideo ||
                                          probe.status.code() == ResultCode::CannotOpen
                                    : probe.movie && probe.movie->facts().stillImage;
        if (item.inFolder && noMovie) {
            item.state = QueueItem::State::PassedOver;
            item.note = tr("no moving pictures");
        } else if (!taken) {
            item.state = QueueItem::State::Failed;
            item.note = QString::fromStdString(probe.errorText());
        } else if (!QDir().mkpath(sheetFolder) ||
                   !sheettarget::folderTakesFiles(sheetFolder, &reason)) {
            if (reason.isEmpty())
                reason = tr("the folder cannot be made");
            item.state = QueueItem::State::Failed;
            item.note = tr("cannot write in its folder: %1").arg(reason);
        } else {
            item.state = QueueItem::State::Capturing;
            showQueueItem(static_cast<size_t>(queueAt_));
            if (startCapture(item.sheet))
                return;
            item.state = QueueItem::State::Failed;
        }
        showQueueItem(static_cast<size_t>(queueAt_));
        nextInQueue();
        return;
    }

    if (!taken) {
        // Every file that is not taken ends here, whatever its name, so the
        // reason stands on its own lines: it is a sentence or more, and may
        // carry a hint of what to install.
        const QString reason = probe.errorText().empty()
                                   ? tr("It holds no video that can be read.")
                                   : QString::fromStdString(probe.errorText());
        message(QMessageBox::Warning, QGuiApplication::applicationDisplayName(),
                tr("“%1” cannot be opened as a movie.\n\n%2\n\nStillwick opens any file with "
                   "video that the installed FFmpeg libraries can read.")
                    .arg(fileName(path), reason));
    }
}

QString CMainDlg::finishedNote(const CaptureResult& result) {
    QStringList parts;
    if (result.incomplete())
        parts << tr("The sheet is incomplete.");
    if (result.cutShort) {
        parts << (result.statedDuration > result.readableDuration
                      ? tr("Only %1 of the %2 of this movie could be read; the sheet shows that "
                           "part.")
                            .arg(readableText(result),
                                 QString::fromStdString(momentText(result.statedDuration)))
                      : tr("Only the first %1 of this movie could be read; the sheet shows that "
                           "part.")
                            .arg(readableText(result)));
    }
    const size_t missing = result.missingMoments.size();
    if (missing > 0)
        parts << (missing == 1
                      ? tr("1 moment gave no picture (at %1); its cell is marked “no picture”.")
                      : tr("%1 moments gave no picture (at %2); their cells are marked “no "
                           "picture”.")
                            .arg(missing))
                     .arg(missingTimes(result, 5));
    if (result.stampsLeftOut)
        parts << tr("The frames are too small for legible time stamps, so the sheet has none.");
    if (result.decoderErrors > 0)
        parts << (result.decoderErrors == 1
                      ? tr("The decoder met 1 error on the way.")
                      : tr("The decoder met %1 errors on the way.").arg(result.decoderErrors));
    return parts.join(QLatin1Char('\n'));
}

QString CMainDlg::incompleteLine(const CaptureResult& result) {
    QStringList parts;
    if (result.cutShort)
        parts << (result.statedDuration > result.readableDuration
                      ? tr("only %1 of %2 could be read")
                            .arg(readableText(result),
                                 QString::fromStdString(momentText(result.statedDuration)))
                      : tr("only the first %1 could be read").arg(readableText(result)));
    const size_t missing = result.missingMoments.size();
    if (missing > 0)
        parts << (missing == 1 ? tr("1 moment without a picture (%1)")
                               : tr("%1 moments without a picture (%2)").arg(missing))
                     .arg(missingTimes(result, 3));
    return parts.join(QStringLiteral("; "));
}

MessageRequest CMainDlg::finishedMessage(const QString& movie, const QString& sheet,
                                         const CaptureResult& result) {
    QString text =
        tr("The sheet of %1 is saved as\n%2").arg(fileName(movie), QDir::toNativeSeparators(sheet));
    const QString note = finishedNote(result);
    if (!note.isEmpty())
        text += QStringLiteral("\n\n") + note;
    // Stamps too small to draw take nothing from the frames; a sheet that
    // lacks part of the movie, or met a broken decoder, earns a warning.
    const bool warn = result.incomplete() || result.decoderErrors > 0;
    return MessageRequest{warn ? QMessageBox::Warning : QMessageBox::Information, tr("Finished!"),
                          text, QMessageBox::Close, QMessageBox::Close};
}

void CMainDlg::showFinished(const CaptureResult& result) {
    const int action = seams_.messageWithActions(
        this, finishedMessage(fromLocalPath(job_.moviePath()), target_, result),
        {tr("&Open"), tr("Show in &Folder")});
    if (action == 0)
        openWithDesktop(QUrl::fromLocalFile(target_));
    else if (action == 1)
        showInFolder(target_);
}

void CMainDlg::openWithDesktop(const QUrl& url) {
    if (!seams_.openUrl(url))
        message(QMessageBox::Warning, QGuiApplication::applicationDisplayName(),
                tr("The desktop has no program set up to open %1.")
                    .arg(QDir::toNativeSeparators(url.toLocalFile())));
}

void CMainDlg::showInFolder(const QString& file) {
    // The file manager selects the sheet; one that does not take the
    // request still gets the folder opened, as any desktop can.
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(file).absolutePath());
    QPointer<CMainDlg> self(this);
    seams_.revealFile(this, file, [self, folder](bool shown) {
        if (self && !shown)
            self->openWithDesktop(folder);
    });
}

QString CMainDlg::detailsText(const ProbeResult& probe) {
    QString text = QString::fromStdString(probe.infoText);
    if (probe.movie) {
        const QString more = moviedetails::lines(probe.movie->facts());
        if (!more.isEmpty())
            text += QLatin1Char('\n') + more;
    }
    return text;
}

void CMainDlg::onCaptureDone(intptr_t code) {
    const CaptureResult& result = job_.finishCapture();
    job_.setSheetWatcher(nullptr);
    // A stop is no error; a capture that finished before the stop took
    // effect wrote its sheet and says so.
    (void)code;
    const bool stopped = result.status.isCancelled();
    if (result.ok())
        lastSheet_ = target_;

    if (queueRunning()) {
        QueueItem& item = queue_[static_cast<size_t>(queueAt_)];
        if (result.ok()) {
            item.state = QueueItem::State::Saved;
            item.incomplete = result.incomplete();
            item.details = finishedNote(result);
            // The list has one line: what an incomplete sheet lacks, else
            // the first thing worth saying.
            item.note = item.incomplete ? incompleteLine(result)
                                        : item.details.section(QLatin1Char('\n'), 0, 0);
        } else if (stopped) {
            item.state = QueueItem::State::Stopped;
        } else {
            item.state = QueueItem::State::Failed;
            item.note = QString::fromStdString(result.errorText());
        }
        showQueueItem(static_cast<size_t>(queueAt_));
        progress_->setValue(0);
        progress_->setTextVisible(false);
        setMode(Mode::Idle);
        nextInQueue();
        return;
    }

    // The finished sheet's frames stay at hand, to look at and to change.
    std::vector<CellShot> cells;
    if (result.ok() && feed_->takeCells(cells)) {
        session_ = std::make_unique<SheetSession>();
        session_->moviePath = job_.moviePath();
        session_->plan = feed_->plan();
        session_->layout = feed_->layout();
        session_->cells = std::move(cells);
        showSession();
    }
    if (stopped) {
        // Nothing to report: the user asked for it, and nothing was written.
    } else if (!result.ok()) {
        const QString why = QString::fromStdString(result.errorText());
        message(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                tr("The sheet could not be made.\n\n%1").arg(why));
    } else {
        showFinished(result);
    }
    progress_->setValue(0);
    progress_->setTextVisible(false);
    stopping_ = false;
    setMode(Mode::Idle);
}

bool CMainDlg::queueMovies(const QStringList& paths) {
    if (isWorking() || paths.isEmpty())
        return false;
    QStringList unique = paths;
    unique.removeDuplicates();
    const bool folders = std::any_of(unique.begin(), unique.end(),
                                     [](const QString& p) { return QFileInfo(p).isDir(); });
    if (unique.size() == 1 && !folders)
        return openMovie(unique.front());

    // What the folders hold is counted first, so the question can say how
    // many sheets it is about; the folder the sheets go to is left out of
    // the search once it is known.
    QueueOutput output = user_.queueOutput();
    moviefinder::Found found = moviefinder::find(unique);
    if (found.candidates.isEmpty()) {
        message(QMessageBox::Information, QGuiApplication::applicationDisplayName(),
                found.unreadable.isEmpty()
                    ? tr("There is no file to make a sheet of in %1.")
                          .arg(QDir::toNativeSeparators(unique.join(QStringLiteral(", "))))
                    : tr("These folders cannot be read:\n%1")
                          .arg(QDir::toNativeSeparators(found.unreadable.join(u'\n'))));
        return false;
    }
    if (!seams_.chooseQueueOutput(this, output, static_cast<int>(found.candidates.size())))
        return false;
    if (output.folder.isEmpty())
        output.besideMovies = true;
    user_.setQueueOutput(output);
    if (!output.besideMovies)
        found = moviefinder::find(unique, {output.folder});

    std::vector<QueueItem> items;
    for (const moviefinder::Candidate& c : found.candidates) {
        QueueItem item;
        item.movie = c.path;
        item.inFolder = c.inFolder;
        const QString name = sheettarget::proposedName(c.path, output.format);
        if (output.besideMovies)
            item.sheet = QFileInfo(c.path).dir().filePath(name);
        else
            item.sheet = QDir(output.folder)
                             .filePath(c.subFolder.isEmpty() ? name : c.subFolder + u'/' + name);
        items.push_back(item);
    }
    queueOutput_ = output;
    leaveOutClashes(items);
    QStringList existing;
    for (const QueueItem& item : items) {
        if (item.state == QueueItem::State::Waiting && QFileInfo::exists(item.sheet))
            existing << QDir::toNativeSeparators(item.sheet);
    }
    if (!existing.isEmpty()) {
        const QMessageBox::StandardButton answer = message(
            QMessageBox::Question, QGuiApplication::applicationDisplayName(),
            (existing.size() == 1
                 ? tr("A sheet exists already:\n%1\n\nReplace it? (No keeps it and makes the "
                      "others.)")
                 : tr("Some sheets exist already:\n%1\n\nReplace them? (No keeps them and "
                      "makes the others.)"))
                .arg(existing.mid(0, 8).join(QLatin1Char('\n')) +
                     (existing.size() > 8 ? QStringLiteral("\n…") : QString())),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::No);
        if (answer == QMessageBox::Cancel)
            return false;
        if (answer != QMessageBox::Yes) {
            for (QueueItem& item : items) {
                if (item.state == QueueItem::State::Waiting && QFileInfo::exists(item.sheet)) {
                    item.state = QueueItem::State::Skipped;
                    item.note = tr("its sheet exists and is kept");
                }
            }
        }
    }

    queue_ = std::move(items);
    queueList_->clear();
    for (size_t i = 0; i < queue_.size(); ++i) {
        queueList_->addItem(QString());
        showQueueItem(i);
    }
    queueList_->show();
    updateHint();
    queueActive_ = true;
    queueAt_ = -1;
    stopping_ = false;
    nextInQueue();
    return true;
}

void CMainDlg::leaveOutClashes(std::vector<QueueItem>& items) const {
    std::vector<sheetclash::Entry> entries;
    entries.reserve(items.size());
    for (const QueueItem& item : items)
        entries.push_back({toLocalPath(item.movie), toLocalPath(item.sheet), false});
    const std::vector<sheetclash::Clash> clashes = sheetclash::findClashes(entries);
    for (size_t i = 0; i < items.size(); ++i) {
        QueueItem& item = items[i];
        const sheetclash::Clash& clash = clashes[i];
        if (clash.kind == sheetclash::Clash::Kind::None)
            continue;
        // Two movies of one name in different folders would read as one
        // movie meeting itself; the whole path tells them apart.
        const QString& otherMovie = items[clash.other].movie;
        const QString other = fileName(otherMovie) == fileName(item.movie)
                                  ? QDir::toNativeSeparators(otherMovie)
                                  : fileName(otherMovie);
        const QString sheet = fileName(item.sheet);
        item.state = QueueItem::State::LeftOut;
        switch (clash.kind) {
        case sheetclash::Clash::Kind::OwnMovie:
            item.note = tr("its sheet %1 would replace the movie itself").arg(sheet);
            break;
        case sheetclash::Clash::Kind::OtherMovie:
            item.note =
                tr("its sheet %1 would replace %2, a movie of this queue").arg(sheet, other);
            break;
        case sheetclash::Clash::Kind::EarlierSheet:
            item.note = tr("its sheet %1 would replace that of %2, made earlier in this queue")
                            .arg(sheet, other);
            break;
        case sheetclash::Clash::Kind::None:
            break;
        }
        item.details = item.note + QLatin1Char('\n') +
                       tr("Open it alone to save its sheet under another name.");
    }
}

void CMainDlg::showQueueItem(size_t index) {
    QListWidgetItem* row = queueList_->item(static_cast<int>(index));
    if (!row || index >= queue_.size())
        return;
    const QueueItem& item = queue_[index];
    QString state;
    switch (item.state) {
    case QueueItem::State::Waiting:
        state = tr("waiting");
        break;
    case QueueItem::State::Probing:
        state = tr("reading…");
        break;
    case QueueItem::State::Capturing:
        state = tr("%1 of %2").arg(progress_->value()).arg(progress_->maximum());
        break;
    case QueueItem::State::Saved:
        state = item.incomplete ? tr("saved as %1, incomplete").arg(fileName(item.sheet))
                                : tr("saved as %1").arg(fileName(item.sheet));
        break;
    case QueueItem::State::Failed:
        state = tr("failed");
        break;
    case QueueItem::State::Skipped:
        state = tr("skipped");
        break;
    case QueueItem::State::Stopped:
        state = tr("stopped");
        break;
    case QueueItem::State::LeftOut:
        state = tr("not made");
        break;
    case QueueItem::State::PassedOver:
        state = tr("passed over");
        break;
    }
    QString text = tr("%1 — %2").arg(fileName(item.movie), state);
    if (!item.note.isEmpty())
        text += QStringLiteral(": ") + item.note.section(QLatin1Char('\n'), 0, 0);
    row->setText(text);
    const QString& words = item.details.isEmpty() ? item.note : item.details;
    row->setToolTip(QDir::toNativeSeparators(item.movie) +
                    (words.isEmpty() ? QString() : QStringLiteral("\n") + words));
    if (item.state == QueueItem::State::Probing || item.state == QueueItem::State::Capturing)
        queueList_->setCurrentRow(static_cast<int>(index));
}

void CMainDlg::nextInQueue() {
    while (++queueAt_ < static_cast<int>(queue_.size())) {
        QueueItem& item = queue_[static_cast<size_t>(queueAt_)];
        if (item.state != QueueItem::State::Waiting)
            continue;
        if (stopping_) {
            item.state = QueueItem::State::Stopped;
            showQueueItem(static_cast<size_t>(queueAt_));
            continue;
        }
        item.state = QueueItem::State::Probing;
        showQueueItem(static_cast<size_t>(queueAt_));
        if (job_.acceptMovie(toLocalPath(item.movie))) {
            probing_ = item.movie;
            setMode(Mode::Probing);
            return;
        }
        item.state = QueueItem::State::Failed;
        showQueueItem(static_cast<size_t>(queueAt_));
    }
    finishQueue();
}

void CMainDlg::finishQueue() {
    // Whatever did not get its turn was stopped.
    for (size_t i = 0; i < queue_.size(); ++i) {
        if (queue_[i].state == QueueItem::State::Waiting) {
            queue_[i].state = QueueItem::State::Stopped;
            showQueueItem(i);
        }
    }
    queueActive_ = false;
    queueAt_ = -1;
    const bool stopped = stopping_;
    stopping_ = false;
    progress_->setValue(0);
    progress_->setTextVisible(false);
    setMode(Mode::Idle);

    int saved = 0;
    int incomplete = 0;
    int passedOver = 0;
    QStringList problems;
    QStringList leftOut;
    QStringList lacking;
    for (const QueueItem& item : queue_) {
        const QString line =
            tr("%1: %2").arg(fileName(item.movie), item.note.section(QLatin1Char('\n'), 0, 0));
        if (item.state == QueueItem::State::Saved) {
            ++saved;
            if (item.incomplete) {
                ++incomplete;
                lacking << tr("%1: incomplete, %2").arg(fileName(item.movie), item.note);
            }
        }
        if (item.state == QueueItem::State::Failed)
            problems << line;
        if (item.state == QueueItem::State::LeftOut)
            leftOut << line + QLatin1Char('.');
        passedOver += item.state == QueueItem::State::PassedOver;
    }
    const qsizetype movies = static_cast<qsizetype>(queue_.size()) - passedOver;
    const QString where = queueOutput_.besideMovies
                              ? tr("each beside its movie")
                              : tr("in %1").arg(QDir::toNativeSeparators(queueOutput_.folder));
    QString text = incomplete == 0
                       ? tr("%1 of %2 sheets saved, %3.").arg(saved).arg(movies).arg(where)
                       : tr("%1 of %2 sheets saved, %3 incomplete, %4.")
                             .arg(saved)
                             .arg(movies)
                             .arg(incomplete)
                             .arg(where);
    if (passedOver > 0)
        text += QStringLiteral("\n") +
                (passedOver == 1
                     ? tr("1 file without moving pictures was passed over.")
                     : tr("%1 files without moving pictures were passed over.").arg(passedOver));
    if (stopped)
        text += QStringLiteral("\n") + tr("The queue was stopped.");
    // At most ten lines of each kind: the list holds them all.
    auto some = [](const QStringList& lines) {
        return lines.mid(0, 10).join(QLatin1Char('\n')) +
               (lines.size() > 10 ? QStringLiteral("\n…") : QString());
    };
    if (!lacking.isEmpty())
        text += QStringLiteral("\n\n") + some(lacking);
    if (!problems.isEmpty())
        text += QStringLiteral("\n\n") + some(problems);
    if (!leftOut.isEmpty())
        text += QStringLiteral("\n\n") + tr("Not made, so that no sheet replaces another:") +
                QLatin1Char('\n') + some(leftOut) + QLatin1Char('\n') +
                (leftOut.size() == 1 ? tr("Open it alone to save its sheet under another name.")
                                     : tr("Open each alone to save its sheet under another name."));
    if (saved > 0)
        text += QStringLiteral("\n\n") + tr("Activate a saved movie in the list to open its "
                                            "sheet.");
    const bool allWell = problems.isEmpty() && leftOut.isEmpty() && incomplete == 0;
    message(allWell ? QMessageBox::Information : QMessageBox::Warning, tr("Finished!"), text);
}

void CMainDlg::stopWorker() {
    job_.cancel();
    job_.wait();
    // What the stopped worker posted is about a run the user walked away
    // from; a reopened dialog must not show its boxes.
    for (uint32_t type : kWorkerMessages)
        QCoreApplication::removePostedEvents(this, static_cast<int>(type));
    QCoreApplication::removePostedEvents(this, PreviewFeed::eventType());
    // The feed waits for its last picture to be taken before it posts
    // again; that picture's event is gone, so take it here.
    feed_->take();
    deferred_.clear();
    job_.setSheetWatcher(nullptr);
    queueActive_ = false;
    queueAt_ = -1;
    stopping_ = false;
    progress_->setValue(0);
    progress_->setTextVisible(false);
    setMode(Mode::Idle);
}

void CMainDlg::closeEvent(QCloseEvent* event) {
    if (mode_ == Mode::Capturing || queueRunning()) {
        // Messages of the capture wait while the question is open, so its
        // own boxes cannot pile up under it.
        asking_ = true;
        const QMessageBox::StandardButton answer = message(
            QMessageBox::Question, QGuiApplication::applicationDisplayName(),
            tr("Stop the capture and quit?"), QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        asking_ = false;
        if (answer != QMessageBox::Yes) {
            event->ignore();
            std::vector<std::unique_ptr<WorkerMessageEvent>> waiting;
            waiting.swap(deferred_);
            for (const auto& m : waiting)
                onWorkerMessage(static_cast<uint32_t>(m->type()), m->wParam, m->lParam);
            return;
        }
    }
    QDialog::closeEvent(event);
}

void CMainDlg::reject() {
    if (isWorking() || job_.busy())
        stopWorker();
    QDialog::reject();
}
