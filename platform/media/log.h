#pragma once
// FFmpeg's own messages. The libraries print warnings about nearly every
// real-world file to the terminal unless told otherwise; the media layer
// routes them through a callback of its own, silent until a front end asks
// for them. The desktop program never does: its user has no terminal.

namespace media {

enum class LibraryLog {
    Silent,     // nothing (the default)
    Errors,     // what FFmpeg reports as an error
    Everything, // down to its debugging detail
};

// Takes effect at once for every thread; safe to call at any time.
void setLibraryLog(LibraryLog level);

// Installs the callback (silent) if it is not installed yet. Called by the
// media layer before it opens anything, so no message can come first.
void quietLibrary();

} // namespace media
