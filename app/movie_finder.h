#pragma once
// The files that a dropped or chosen folder stands for, in Qt's terms: every
// file in it and in its sub-folders, folder by folder in name order, as
// candidates, found as the command line's -r finds them (capture/movie_walk.h
// says what is left out). Whether a candidate is a movie is the probe's word;
// what the queue's probe finds without moving pictures is passed over.
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
