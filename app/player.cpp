#include "app/player.h"

#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>

namespace player {

namespace {

QString systemDefault(const QString& file) {
    // The desktop's own answer, as xdg-open would act on it.
    const QString type = QMimeDatabase().mimeTypeForFile(file).name();
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), type});
    if (!query.waitForFinished(2000)) {
        query.kill();
        query.waitForFinished(500);
        return {};
    }
    return QString::fromUtf8(query.readAllStandardOutput()).trimmed();
}

Command mpv(const QString& path, const QString& movie, const MediaTime& time) {
    // An exact seek, so the frame shown is the one chosen, not the key
    // frame before it.
    return {path,
            {QStringLiteral("--start=") + startSeconds(time), QStringLiteral("--hr-seek=yes"),
             QStringLiteral("--"), movie},
            QStringLiteral("mpv")};
}

Command vlc(const QString& path, const QString& movie, const MediaTime& time) {
    return {
        path, {QStringLiteral("--start-time=") + startSeconds(time), movie}, QStringLiteral("VLC")};
}

} // namespace

Lookups Lookups::system() {
    return {[](const QString& program) { return QStandardPaths::findExecutable(program); },
            systemDefault};
}

QString startSeconds(const MediaTime& time) {
    const int64_t ms = time.milliseconds();
    return QStringLiteral("%1.%2").arg(ms / 1000).arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

Command commandFor(const QString& movie, const MediaTime& time, const Lookups& lookups) {
    const QString mpvPath = lookups.findProgram(QStringLiteral("mpv"));
    const QString vlcPath = lookups.findProgram(QStringLiteral("vlc"));
    const QString usual = lookups.defaultApplication(movie).toLower();
    if (usual.contains(QLatin1String("vlc")) && !vlcPath.isEmpty())
        return vlc(vlcPath, movie, time);
    if (usual.contains(QLatin1String("mpv")) && !mpvPath.isEmpty())
        return mpv(mpvPath, movie, time);
    if (!mpvPath.isEmpty())
        return mpv(mpvPath, movie, time);
    if (!vlcPath.isEmpty())
        return vlc(vlcPath, movie, time);
    return {};
}

} // namespace player
