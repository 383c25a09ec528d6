#include "app/movie_finder.h"

#include <QFile>
#include <QFileInfo>

#include "capture/file_names.h"
#include "capture/movie_walk.h"

namespace moviefinder {

bool isSheetName(const QString& name) {
    return isSheetExtension(lowerExtension(name.toStdString()));
}

Found find(const QStringList& paths, const QStringList& leftOut) {
    std::vector<std::string> names;
    for (const QString& path : paths)
        names.push_back(QFile::encodeName(path).toStdString());
    std::vector<std::string> left;
    for (const QString& folder : leftOut)
        left.push_back(QFile::encodeName(folder).toStdString());
    // The same discovery as the command line's -r.
    const moviewalk::Result walked = moviewalk::walk(names, true, left);
    Found found;
    for (const moviewalk::Entry& e : walked.entries)
        found.candidates << Candidate{QFile::decodeName(e.path.c_str()),
                                      QString::fromStdString(e.subFolder), e.inFolder};
    for (const moviewalk::Unreadable& u : walked.unreadable)
        found.unreadable << QFile::decodeName(u.folder.c_str());
    found.sheetsLeftOut = walked.sheetsLeftOut;
    found.hiddenLeftOut = walked.hiddenLeftOut;
    return found;
}

} // namespace moviefinder
