#include "app/sheet_target.h"

#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QTemporaryFile>

namespace sheettarget {

bool knownExtension(const QString& path) {
    const QString ext = QFileInfo(path).suffix().toLower();
    return ext == QLatin1String("jpg") || ext == QLatin1String("jpeg") ||
           ext == QLatin1String("png") || ext == QLatin1String("bmp");
}

QString proposedName(const QString& moviePath, const QString& extension) {
    const QFileInfo info(moviePath);
    // completeBaseName keeps the dots of "holiday.2024.mp4" but the last.
    QString base = info.completeBaseName();
    if (base.isEmpty())
        base = info.fileName();
    if (base.isEmpty())
        base = QStringLiteral("sheet");
    return base + QLatin1Char('.') + extension;
}

QString besideMovie(const QString& moviePath) {
    return QFileInfo(moviePath).dir().filePath(proposedName(moviePath));
}

bool folderTakesFiles(const QString& folder, QString* reason) {
    const QFileInfo info(folder);
    if (!info.exists() || !info.isDir()) {
        if (reason)
            *reason = QObject::tr("The folder does not exist.");
        return false;
    }
    // Permission bits alone do not tell (read-only mounts, ACLs, full
    // disks): making a file does.
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".stillwick-XXXXXX")));
    if (!probe.open()) {
        if (reason)
            *reason = probe.errorString();
        return false;
    }
    return true;
}

} // namespace sheettarget
