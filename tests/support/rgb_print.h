#pragma once
// How GoogleTest shows a colour in a failed comparison: rgb(1, 2, 3).

#include <ostream>

#include "platform/types/rgb.h"

inline void PrintTo(const Rgb& c, std::ostream* os) {
    *os << "rgb(" << int{c.r} << ", " << int{c.g} << ", " << int{c.b} << ")";
}
