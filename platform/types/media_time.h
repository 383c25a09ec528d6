#pragma once
// A moment of a movie exactly as its file states it: a count of ticks of the
// stream's clock from the movie's start, and the tick's length as a fraction
// of a second. Stamps and file names are cut from this with integer
// arithmetic: a product in floating point can land a hair below a whole
// hundredth (4.64 s as 4.6399…) and print the frame before.
//
// Ownership: a plain value.

#include <cstdint>

struct MediaTime {
    int64_t ticks = 0; // from the movie's start; never negative for a frame
    int64_t num = 0;   // one tick is num / den seconds
    int64_t den = 1;

    bool valid() const { return num > 0 && den > 0; }

    // floor(ticks · num · perSecond / den), exact for any real movie.
    int64_t floorIn(int64_t perSecond) const {
        if (!valid())
            return 0;
        __extension__ typedef __int128 Wide;
        const Wide product = static_cast<Wide>(ticks) * num * perSecond;
        Wide q = product / den;
        if (product % den != 0 && product < 0)
            --q;
        return static_cast<int64_t>(q);
    }
    int64_t hundredths() const { return floorIn(100); }
    int64_t milliseconds() const { return floorIn(1000); }
    // In the 100-ns units positions are given in.
    int64_t units() const { return floorIn(10'000'000); }
    double seconds() const {
        return valid() ? static_cast<double>(ticks) * static_cast<double>(num) /
                             static_cast<double>(den)
                       : 0.0;
    }

    // A time of 100-ns units, for moments that are no frame's time.
    static MediaTime fromUnits(int64_t units) { return MediaTime{units, 1, 10'000'000}; }
};
