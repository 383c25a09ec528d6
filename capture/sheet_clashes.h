#pragma once
// Which sheets of one batch would destroy another file of the same batch.
//
// A batch must not overwrite its own work or its own input: two movies whose
// sheets would be one file (`clip.mkv` and `clip.webm` both make clip.jpg),
// or a sheet that would land on a movie of the batch (its own included), are
// found here before any work, so the later movie can be left out with words
// that name the earlier one. Sameness is judged on what the names lead to —
// symbolic links followed, also dangling ones, `dir/./a.jpg` and `dir/a.jpg`
// alike — not on how they are spelt.
//
// Plain C++ over the file-system layer, with no words of its own: each front
// end says what a clash means in its own way.

#include <cstddef>
#include <string>
#include <vector>

namespace sheetclash {

struct Entry {
    std::string movie;
    std::string sheet;
    // Makes no sheet for another reason already: its sheet neither clashes
    // nor is clashed with, though its movie still counts as one of the batch.
    bool leftOut = false;
};

struct Clash {
    enum class Kind {
        None,
        OwnMovie,     // the sheet is the movie itself
        OtherMovie,   // the sheet is another movie of the batch (`other`)
        EarlierSheet, // the sheet is that of an earlier entry (`other`)
    };
    Kind kind = Kind::None;
    size_t other = 0;
    bool operator==(const Clash&) const = default;
};

// One verdict per entry, in order. An entry that clashes is left out, so a
// third movie with the same sheet names the first, not the second.
std::vector<Clash> findClashes(const std::vector<Entry>& entries);

// True when writing either path would write the same file.
bool samePlace(const std::string& a, const std::string& b);

} // namespace sheetclash
