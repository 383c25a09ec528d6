#include "app/movie_finder.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace moviefinder {

namespace {

// The name without its last extension; a name that is all extension
// (".profile") keeps it.
QString stem(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 ? name : name.left(dot);
}

class Search {
public:
    Search(const QStringList& leftOut, Found& found) : found_(found) {
        for (const QString& folder : leftOut) {
            const QString canonical = QFileInfo(folder).canonicalFilePath();
            if (!canonical.isEmpty())
                leftOut_.insert(canonical);
        }
    }

    void folder(const QString& path, const QString& subFolder, bool dropped) {
        if (!dropped && leftOut_.contains(QFileInfo(path).canonicalFilePath()))
            return;
        QDir dir(path);
        if (!dir.isReadable()) {
            found_.unreadable << path;
            return;
        }
        // Names in the order of their characters, whatever the machine's
        // language, as the command line orders them.
        const QFileInfoList entries = dir.entryInfoList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
        QStringList files;
        QStringList folders;
        for (const QFileInfo& entry : entries) {
            const QString name = entry.fileName();
            if (name.startsWith(QLatin1Char('.'))) {
                ++found_.hiddenLeftOut;
                continue;
            }
            if (entry.isDir()) {
                if (!entry.isSymLink())
                    folders << name;
            } else if (entry.isFile()) {
                files << name;
            }
        }
        std::sort(files.begin(), files.end());
        std::sort(folders.begin(), folders.end());

        // A picture named like a file that is no picture is that file's sheet.
        QSet<QString> otherStems;
        for (const QString& name : files) {
            if (!isSheetName(name))
                otherStems.insert(stem(name));
        }
        for (const QString& name : files) {
            if (isSheetName(name) && otherStems.contains(stem(name))) {
                ++found_.sheetsLeftOut;
                continue;
            }
            found_.candidates << Candidate{dir.filePath(name), subFolder, true};
        }
        for (const QString& name : folders)
            folder(dir.filePath(name), subFolder.isEmpty() ? name : subFolder + u'/' + name, false);
    }

private:
    Found& found_;
    QSet<QString> leftOut_;
};

} // namespace

bool isSheetName(const QString& name) {
    const QString ext = QFileInfo(name).suffix().toLower();
    return ext == QLatin1String("jpg") || ext == QLatin1String("jpeg") ||
           ext == QLatin1String("png") || ext == QLatin1String("bmp");
}

Found find(const QStringList& paths, const QStringList& leftOut) {
    Found found;
    Search search(leftOut, found);
    for (const QString& path : paths) {
        if (QFileInfo(path).isDir())
            search.folder(path, QString(), true);
        else
            found.candidates << Candidate{path, QString(), false};
    }
    return found;
}

} // namespace moviefinder
