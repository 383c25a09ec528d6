#include "app/frame_dlg.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "app/accessible.h"
#include "capture/cell_painter.h"

namespace {

QImage imageOf(const media::Picture& p) {
    if (p.empty())
        return {};
    return QImage(p.rgb.data(), p.width, p.height, p.width * 3, QImage::Format_RGB888).copy();
}

} // namespace

// ---- The picture -------------------------------------------------------------------

CFramePicture::CFramePicture(QWidget* parent) : QWidget(parent) {
    installAccessibleFactories();
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAccessibleName(tr("Frame"));
}

void CFramePicture::setImage(const QImage& image) {
    image_ = image;
    updateGeometry();
    update();
}

QSize CFramePicture::sizeHint() const {
    if (image_.isNull())
        return QSize(640, 360);
    // The frame at its size, within three quarters of the screen.
    QSize room(1280, 800);
    if (screen())
        room = screen()->availableGeometry().size() * 3 / 4;
    // One of the frame's pixels to one of the window's, which on a screen
    // of twice the density shows a small movie at a size that can be seen.
    QSize own = image_.size();
    if (own.width() > room.width() || own.height() > room.height())
        own = own.scaled(room, Qt::KeepAspectRatio);
    return own.expandedTo(QSize(160, 90));
}

void CFramePicture::paintEvent(QPaintEvent*) {
    if (image_.isNull())
        return;
    QPainter p(this);
    // Fitted to the room the window gives it: this is the frame seen large.
    const QSizeF shown = QSizeF(image_.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
    const QRectF target(QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2),
                        shown);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, image_);
}

// ---- The dialog ------------------------------------------------------------------

CFrameDlg::CFrameDlg(const Cell& cell, const DialogSeams& seams, QWidget* parent)
    : QDialog(parent), cell_(cell), seams_(seams),
      fetcher_(QFile::encodeName(cell.movie).toStdString()) {
    installAccessibleFactories();
    setObjectName(QStringLiteral("frame"));
    setWindowTitle(tr("Frame %1 of %2 — %3")
                       .arg(cell.index + 1)
                       .arg(cell.cells)
                       .arg(QFileInfo(cell.movie).fileName()));

    picture_ = new CFramePicture(this);
    picture_->setObjectName(QStringLiteral("picture"));
    picture_->setFocusPolicy(Qt::StrongFocus);
    time_ = new QLabel(this);
    time_->setObjectName(QStringLiteral("time"));
    time_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    time_->setAccessibleName(tr("Time"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    status_->setAccessibleName(tr("State"));

    auto button = [this](const QString& text, const char* name, const QString& description) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAccessibleDescription(description);
        b->setAutoDefault(false);
        return b;
    };
    previous_ = button(tr("◀ &Previous Frame"), "previous",
                       tr("Show the frame before this one (the Left key does too)."));
    next_ = button(tr("&Next Frame ▶"), "next",
                   tr("Show the frame after this one (the Right key does too)."));
    previousKey_ = button(tr("◀◀ Previous &Key Frame"), "previousKey",
                          tr("Show the key frame before this one, the picture the movie can "
                             "start from there (Shift and the Left key do too)."));
    nextKey_ = button(tr("N&ext Key Frame ▶▶"), "nextKey",
                      tr("Show the key frame after this one (Shift and the Right key do too)."));
    goTo_ = new QLineEdit(this);
    goTo_->setObjectName(QStringLiteral("goTo"));
    goTo_->setAccessibleName(tr("Go to time"));
    goTo_->setAccessibleDescription(
        tr("A time as hours:minutes:seconds, minutes:seconds or seconds, such as 1:23.4."));
    goTo_->setPlaceholderText(tr("1:23.4"));
    goTo_->setMinimumWidth(fontMetrics().averageCharWidth() * 14);
    goTo_->setMaximumWidth(fontMetrics().averageCharWidth() * 16);
    auto* goLabel = new QLabel(tr("&Time:"), this);
    goLabel->setBuddy(goTo_);
    go_ = button(tr("&Go"), "go", tr("Show the first frame at or after the time typed."));
    copy_ = button(tr("&Copy Time"), "copyTime", tr("Copy this frame's exact time."));
    play_ = button(tr("Open in P&layer"), "play",
                   tr("Play the movie from this frame in mpv or VLC, or else in the desktop's "
                      "player."));
    use_ = button(tr("&Use in Sheet"), "use",
                  tr("Put this frame into the sheet's cell, with its time stamp."));
    auto* close = button(tr("Cl&ose"), "close", tr("Close this window."));

    auto* steps = new QHBoxLayout;
    steps->addWidget(previousKey_);
    steps->addWidget(previous_);
    steps->addWidget(next_);
    steps->addWidget(nextKey_);
    steps->addSpacing(fontMetrics().averageCharWidth() * 3);
    steps->addWidget(goLabel);
    steps->addWidget(goTo_);
    steps->addWidget(go_);
    steps->addStretch(1);
    auto* actions = new QHBoxLayout;
    actions->addWidget(copy_);
    actions->addWidget(play_);
    actions->addWidget(use_);
    actions->addStretch(1);
    actions->addWidget(close);
    auto* root = new QVBoxLayout(this);
    root->addWidget(picture_, 1);
    root->addWidget(time_);
    root->addWidget(status_);
    root->addLayout(steps);
    root->addLayout(actions);

    connect(previous_, &QPushButton::clicked, this, &CFrameDlg::previousFrame);
    connect(next_, &QPushButton::clicked, this, &CFrameDlg::nextFrame);
    connect(previousKey_, &QPushButton::clicked, this, &CFrameDlg::previousKeyFrame);
    connect(nextKey_, &QPushButton::clicked, this, &CFrameDlg::nextKeyFrame);
    connect(go_, &QPushButton::clicked, this, [this] { goTo(goTo_->text()); });
    connect(goTo_, &QLineEdit::returnPressed, this, [this] { goTo(goTo_->text()); });
    connect(copy_, &QPushButton::clicked, this, &CFrameDlg::copyTime);
    connect(play_, &QPushButton::clicked, this, &CFrameDlg::openInPlayer);
    connect(use_, &QPushButton::clicked, this, &CFrameDlg::useInSheet);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(&fetcher_, &FrameFetcher::fetched, this, &CFrameDlg::onFetched);

    // The cell's own frame, or the first at its moment when it has none.
    FrameQuery query;
    query.kind = FrameQuery::Kind::At;
    query.position = cell.shot.found ? cell.shot.time.units() : cell.shot.moment;
    ask(query);
    picture_->setFocus();
}

QString CFrameDlg::exactText(const MediaTime& time) {
    const int64_t ms = std::max<int64_t>(time.milliseconds(), 0);
    const int64_t s = ms / 1000;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

bool CFrameDlg::parseTime(const QString& text, int64_t& units) {
    // Up to three parts: hours, minutes, then seconds with up to seven
    // decimals, each part a whole number but the last; or seconds alone,
    // with an optional "s".
    static const QRegularExpression form(
        QStringLiteral("^\\s*(?:(?:(\\d+):)?(\\d+):)?(\\d+)(?:[.,](\\d{1,7}))?\\s*s?\\s*$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    const bool hasMinutes = !m.captured(2).isEmpty();
    const int64_t hours = m.captured(1).toLongLong();
    const int64_t minutes = m.captured(2).toLongLong();
    const int64_t seconds = m.captured(3).toLongLong();
    // Within a clock's parts, minutes and seconds stay below 60.
    if (hasMinutes && seconds >= 60)
        return false;
    if (!m.captured(1).isEmpty() && minutes >= 60)
        return false;
    if (hours > 1'000'000 || minutes > 60'000'000 || seconds > 3'600'000'000LL)
        return false;
    QString fraction = m.captured(4);
    fraction = fraction.leftJustified(7, QLatin1Char('0'));
    units = ((hours * 60 + minutes) * 60 + seconds) * 10'000'000 + fraction.toLongLong();
    return true;
}

void CFrameDlg::ask(const FrameQuery& q) {
    FrameQuery query = q;
    query.width = cell_.width;
    query.height = cell_.height;
    if (!fetcher_.fetch(query))
        return;
    problem_.clear();
    updateState();
}

void CFrameDlg::stepFrom(FrameQuery::Kind kind) {
    if (!shown_.found || busy())
        return;
    FrameQuery q;
    q.kind = kind;
    q.time = shown_.time;
    ask(q);
}

void CFrameDlg::previousFrame() {
    stepFrom(FrameQuery::Kind::Previous);
}

void CFrameDlg::nextFrame() {
    stepFrom(FrameQuery::Kind::Next);
}

void CFrameDlg::previousKeyFrame() {
    stepFrom(FrameQuery::Kind::PreviousKey);
}

void CFrameDlg::nextKeyFrame() {
    stepFrom(FrameQuery::Kind::NextKey);
}

bool CFrameDlg::goTo(const QString& text) {
    int64_t units = 0;
    if (!parseTime(text, units)) {
        problem_ = tr("“%1” is not a time. Type it as 1:23.4, 00:01:23.456 or 83.4.").arg(text);
        updateState();
        return false;
    }
    if (busy())
        return false;
    FrameQuery q;
    q.kind = FrameQuery::Kind::At;
    q.position = units;
    ask(q);
    return true;
}

void CFrameDlg::onFetched(const FetchedFrame& frame) {
    if (!frame.status.ok()) {
        problem_ = QString::fromStdString(frame.status.text());
    } else if (!frame.found) {
        // Stepping past either end keeps the frame shown.
        problem_ = shown_.found ? tr("There is no frame there; this is the nearest.")
                                : tr("No picture can be had at this moment.");
    } else {
        shown_ = frame;
        picture_->setImage(imageOf(frame.full));
        picture_->setAccessibleDescription(tr("The frame at %1").arg(exactText(frame.time)));
    }
    updateState();
}

void CFrameDlg::updateState() {
    const bool working = busy();
    const bool have = shown_.found;
    previous_->setEnabled(have && !working);
    next_->setEnabled(have && !working);
    previousKey_->setEnabled(have && !working);
    nextKey_->setEnabled(have && !working);
    go_->setEnabled(!working);
    copy_->setEnabled(have);
    play_->setEnabled(have);
    const bool other =
        have && (!cell_.shot.found || cell_.shot.time.units() != shown_.time.units());
    use_->setEnabled(cell_.canReplace && other && !working && !shown_.cell.empty());

    if (have) {
        QString text =
            tr("%1  (%2 s)").arg(exactText(shown_.time)).arg(shown_.time.seconds(), 0, 'f', 6);
        if (cell_.shot.found && cell_.shot.time.units() == shown_.time.units())
            text += QStringLiteral(" — ") + tr("the cell's frame");
        else if (cell_.shot.found)
            text += QStringLiteral(" — ") +
                    tr("the cell shows %1").arg(QString::fromStdString(timeText(cell_.shot.time)));
        time_->setText(text);
    } else {
        time_->setText(QString());
    }
    time_->setAccessibleDescription(time_->text());
    status_->setText(working ? tr("Reading the frame…") : problem_);
    status_->setVisible(!status_->text().isEmpty());
}

void CFrameDlg::copyTime() {
    if (!shown_.found)
        return;
    if (QClipboard* clipboard = QApplication::clipboard())
        clipboard->setText(exactText(shown_.time));
}

void CFrameDlg::openInPlayer() {
    if (!shown_.found)
        return;
    const QString movie = QFileInfo(cell_.movie).absoluteFilePath();
    const player::Command command = seams_.playerCommand(movie, shown_.time);
    if (!command.program.isEmpty()) {
        if (seams_.startProgram(command.program, command.arguments))
            return;
        problem_ = tr("%1 could not be started.").arg(command.name);
    } else if (seams_.openUrl(QUrl::fromLocalFile(movie))) {
        problem_ = tr("The desktop's player opens the movie at its start: neither mpv nor VLC, "
                      "which can start at %1, is installed.")
                       .arg(exactText(shown_.time));
    } else {
        problem_ = tr("The desktop has no program set up to play %1.")
                       .arg(QDir::toNativeSeparators(movie));
    }
    updateState();
}

void CFrameDlg::useInSheet() {
    if (!use_->isEnabled())
        return;
    CellShot shot = cell_.shot;
    shot.found = true;
    shot.time = shown_.time;
    shot.picture = shown_.cell;
    cell_.shot = shot;
    emit cellReplaced(cell_.index, shot);
    updateState();
}

void CFrameDlg::keyPressEvent(QKeyEvent* event) {
    // The arrow keys step through the frames, with Shift through the key
    // frames, unless a time is being typed.
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (!goTo_->hasFocus() && (mods == Qt::NoModifier || mods == Qt::ShiftModifier)) {
        const bool keys = mods == Qt::ShiftModifier;
        if (event->key() == Qt::Key_Left) {
            keys ? previousKeyFrame() : previousFrame();
            return;
        }
        if (event->key() == Qt::Key_Right) {
            keys ? nextKeyFrame() : nextFrame();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}
