#include "app/user_settings.h"

#include <QSettings>

namespace {

const QString kSkipStart = QStringLiteral("frames/skipStart");
const QString kSkipEnd = QStringLiteral("frames/skipEnd");
const QString kAvoidBlank = QStringLiteral("frames/avoidBlank");
const QString kKeyFrames = QStringLiteral("frames/keyFrames");
const QString kRecent = QStringLiteral("files/recentMovies");
const QString kMovieFolder = QStringLiteral("files/lastMovieFolder");
const QString kSheetFolder = QStringLiteral("files/lastSheetFolder");
const QString kQueueBeside = QStringLiteral("queue/besideMovies");
const QString kQueueFolder = QStringLiteral("queue/folder");
const QString kQueueFormat = QStringLiteral("queue/format");

bool parseSpan(const QString& text, TimeSpan& out) {
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        out = TimeSpan{};
        return true;
    }
    return TimeSpan::parse(t.toStdString(), out);
}

} // namespace

bool FrameChoiceText::toChoice(FrameChoice& out, QString* error) const {
    FrameChoice c;
    if (!parseSpan(skipStart, c.skipStart)) {
        if (error)
            *error = QStringLiteral("skipStart");
        return false;
    }
    if (!parseSpan(skipEnd, c.skipEnd)) {
        if (error)
            *error = QStringLiteral("skipEnd");
        return false;
    }
    c.avoidBlank = avoidBlank;
    c.keyFrames = keyFrames;
    out = c;
    return true;
}

UserSettings::UserSettings()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QStringLiteral("Stillwick"),
                                            QStringLiteral("stillwick"))) {}

UserSettings::~UserSettings() = default;

QString UserSettings::fileName() const {
    return settings_->fileName();
}

FrameChoiceText UserSettings::frameChoiceText() const {
    FrameChoiceText t;
    t.skipStart = settings_->value(kSkipStart).toString();
    t.skipEnd = settings_->value(kSkipEnd).toString();
    t.avoidBlank = settings_->value(kAvoidBlank, false).toBool();
    t.keyFrames = settings_->value(kKeyFrames, false).toBool();
    return t;
}

void UserSettings::setFrameChoiceText(const FrameChoiceText& t) {
    settings_->setValue(kSkipStart, t.skipStart.trimmed());
    settings_->setValue(kSkipEnd, t.skipEnd.trimmed());
    settings_->setValue(kAvoidBlank, t.avoidBlank);
    settings_->setValue(kKeyFrames, t.keyFrames);
}

FrameChoice UserSettings::frameChoice() const {
    const FrameChoiceText t = frameChoiceText();
    FrameChoice c;
    if (!parseSpan(t.skipStart, c.skipStart))
        c.skipStart = TimeSpan{};
    if (!parseSpan(t.skipEnd, c.skipEnd))
        c.skipEnd = TimeSpan{};
    c.avoidBlank = t.avoidBlank;
    c.keyFrames = t.keyFrames;
    return c;
}

QStringList UserSettings::recentMovies() const {
    QStringList list = settings_->value(kRecent).toStringList();
    list.removeAll(QString());
    list.removeDuplicates();
    if (list.size() > kRecentMovies)
        list = list.mid(0, kRecentMovies);
    return list;
}

void UserSettings::addRecentMovie(const QString& path) {
    if (path.isEmpty())
        return;
    QStringList list = recentMovies();
    list.removeAll(path);
    list.prepend(path);
    settings_->setValue(kRecent, list.mid(0, kRecentMovies));
}

void UserSettings::clearRecentMovies() {
    settings_->remove(kRecent);
}

QString UserSettings::lastMovieFolder() const {
    return settings_->value(kMovieFolder).toString();
}

void UserSettings::setLastMovieFolder(const QString& folder) {
    settings_->setValue(kMovieFolder, folder);
}

QString UserSettings::lastSheetFolder() const {
    return settings_->value(kSheetFolder).toString();
}

void UserSettings::setLastSheetFolder(const QString& folder) {
    settings_->setValue(kSheetFolder, folder);
}

QueueOutput UserSettings::queueOutput() const {
    QueueOutput out;
    out.besideMovies = settings_->value(kQueueBeside, true).toBool();
    out.folder = settings_->value(kQueueFolder).toString();
    const QString format = settings_->value(kQueueFormat).toString().toLower();
    if (format == QLatin1String("png") || format == QLatin1String("bmp"))
        out.format = format;
    // Without a folder there is nowhere else to put them.
    if (out.folder.isEmpty())
        out.besideMovies = true;
    return out;
}

void UserSettings::setQueueOutput(const QueueOutput& output) {
    settings_->setValue(kQueueBeside, output.besideMovies);
    settings_->setValue(kQueueFolder, output.folder);
    settings_->setValue(kQueueFormat, output.format);
}

bool UserSettings::sync() {
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}
