#pragma once
// The full-size frames of --frames-dir, written so that they never replace
// what they must not and never outlive a movie that failed.
//
// A frame file never replaces a sheet of the run (also when the frames
// folder is the output folder), a movie of the run, or a frame another movie
// of the run has claimed; without -y it replaces nothing at all. The frames
// of a movie are written into a hidden folder of their own inside the frames
// folder as they arrive, and are moved to their names only once every moment
// is done, just before the sheet is written; a movie that fails or is
// stopped takes them all back, moved or not.
//
// Ownership: a `FrameSet` owns its hidden folder and the frames it moved
// into place until `keep`; the `FrameGuard` is shared by the movies of a run
// and outlives them.

#include <cstddef>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class RasterImage;

namespace cli {

// The names no frame may take, and the names frames have claimed.
class FrameGuard {
public:
    // No frame may take the place `path` leads to; `what` names it in the
    // refusal ("the sheet of clip.mkv", "the movie clip.mkv").
    void protect(const std::string& path, const std::string& what);
    // Why the frame (or the file of another `kind`, "preview") at `path` of
    // the movie `owner` may not be written, or empty; an empty answer claims
    // the name for `owner`.
    std::string claim(const std::string& path, const std::string& owner,
                      const std::string& kind = "frame");
    // Gives back the names `owner` claimed.
    void release(const std::string& owner);

private:
    std::mutex mutex_;
    std::map<std::string, std::string> protected_; // place → "the sheet of M", "the movie M"
    std::map<std::string, std::string> claimed_;   // place → the movie whose frame it is
};

// One place for one name, however it is spelt: links followed, the folder
// made canonical.
std::string placeOf(const std::string& path);

// The same care serves the scrub previews of --previews, whose sprites and
// track are files of a movie in one folder too: a set of kind "preview"
// says so in its messages and its hidden folder.
class FrameSet {
public:
    // `folder` exists; `replace` is -y; `kind` names a file in messages.
    FrameSet(FrameGuard& guard, std::string movie, std::string folder, bool replace,
             std::string kind = "frame");
    ~FrameSet();
    FrameSet(const FrameSet&) = delete;
    FrameSet& operator=(const FrameSet&) = delete;

    // Writes one frame, to be moved to `name` in the folder later. False
    // (and `error` says why in one line) when the name is not to be taken or
    // the write failed; no frame is written after that.
    bool add(const std::string& name, const RasterImage& frame, bool png, int quality,
             bool progressive);
    // The same for a file of text.
    bool addText(const std::string& name, const std::string& text);
    // Moves the frames written so far to their names; false when one of them
    // could not be moved (those moved are taken back).
    bool place();
    // The movie made its sheet: the frames stay.
    void keep() { kept_ = true; }

    bool failed() const { return !error_.empty(); }
    bool placed() const { return placed_; }
    const std::string& error() const { return error_; }

private:
    using Writer = bool (*)(const void* what, const std::string& staged, std::string* error);
    bool addFile(const std::string& name, const void* what, Writer write);
    bool fail(std::string why);
    void takeBack();

    FrameGuard& guard_;
    std::string movie_;
    std::string folder_;
    bool replace_;
    std::string kind_;
    std::string staging_; // the hidden folder, once made
    std::vector<std::string> names_;
    std::vector<std::string> moved_; // full paths of the frames moved into place
    bool placed_ = false;
    bool kept_ = false;
    std::string error_;
};

} // namespace cli
