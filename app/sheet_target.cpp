#include "app/sheet_target.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QTemporaryFile>

#include "capture/file_names.h"

namespace sheettarget {

bool knownExtension(const QString& path) {
    return isSheetExtension(lowerExtension(QFile::encodeName(path).toStdString()));
}

QString proposedName(const QString& moviePath, const QString& extension) {
    // The command line's rule: the last extension replaced.
    QString base = QFile::decodeName(stemOf(QFile::encodeName(moviePath).toStdString()).c_str());
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
