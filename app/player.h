#pragma once
// Opening a movie at a moment in the user's player.
//
// mpv and VLC take a start time on their command line; when one of them is
// the desktop's player for the movie's type it is used, else whichever of
// them is installed (mpv first: its seek to the time is exact). Without
// either, the movie goes to the desktop's default application, which starts
// at the beginning; the caller says so.

#include <QString>
#include <QStringList>

#include <functional>

#include "platform/types/media_time.h"

namespace player {

struct Command {
    QString program; // empty: hand the movie to the desktop instead
    QStringList arguments;
    QString name; // "mpv", "VLC" (for messages)
};

// What the lookups answer: the path of an installed program (empty when it
// is not installed), and the desktop entry of the default application for a
// file ("vlc.desktop"; empty when unknown).
struct Lookups {
    std::function<QString(const QString& program)> findProgram;
    std::function<QString(const QString& file)> defaultApplication;
    static Lookups system();
};

// "83.456": seconds to the millisecond, truncated, so the player's first
// frame at or after it is the frame itself.
QString startSeconds(const MediaTime& time);

Command commandFor(const QString& movie, const MediaTime& time, const Lookups& lookups);

} // namespace player
