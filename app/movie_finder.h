#pragma once
// The files that a dropped or chosen folder stands for: every file in it and
// in its sub-folders, folder by folder in name order, as candidates. Whether a
// candidate is a movie is the probe's word (files are judged by what is in
// them, not by their names); what the queue's probe finds without moving
// pictures is passed over.
//
// Left out before any probe, as the command line's -r leaves them out:
// hidden files and folders (names starting with "."), symbolic links to
// folders (a link may lead back up the tree), the folder the sheets are
// written to when it lies below the dropped one (a dropped folder itself is
// always looked in), and our own sheets: a JPEG, PNG or BMP named like
// another file beside it (clip.jpg beside clip.mkv).
//
// A file given directly is always a candidate, whatever its name.

#include <QList>
#include <QString>
#include <QStringList>

namespace moviefinder {

struct Candidate {
    QString path;
    // The path of its folder below the dropped folder ("" at its top, or
    // for a file given directly), with "/" between names.
    QString subFolder;
    bool inFolder = false; // found in a folder rather than given
};

struct Found {
    QList<Candidate> candidates;
    QStringList unreadable; // folders that could not be read
    int sheetsLeftOut = 0;  // our own sheets passed over
    int hiddenLeftOut = 0;  // hidden files and folders passed over
};

// `paths` as dropped or chosen; `leftOut` the folders never to look in
// below a dropped folder (the folder the sheets go to).
Found find(const QStringList& paths, const QStringList& leftOut = {});

// True for the extensions of the sheets we write (any case).
bool isSheetName(const QString& name);

} // namespace moviefinder
