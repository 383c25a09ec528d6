#pragma once
// Where a sheet goes: the name proposed for it, the formats the writers know,
// and whether a folder takes a new file, checked before a capture starts
// rather than reported after all its work.

#include <QString>

namespace sheettarget {

// "jpg", "jpeg", "png" or "bmp" (any case): the extensions whose format the
// capture writes.
bool knownExtension(const QString& path);
// The movie's name with its last extension replaced: "/v/clip.mp4" ->
// "clip.jpg".
QString proposedName(const QString& moviePath, const QString& extension = QStringLiteral("jpg"));
// The sheet beside the movie: "/v/clip.mp4" -> "/v/clip.jpg".
QString besideMovie(const QString& moviePath);
// True when a new file can be made in `folder`, found by making (and
// removing) one; otherwise false with `reason` saying why.
bool folderTakesFiles(const QString& folder, QString* reason = nullptr);

} // namespace sheettarget
