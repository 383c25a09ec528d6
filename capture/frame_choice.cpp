#include "capture/frame_choice.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace {

constexpr double kUnitsPerSecond = 1e7;

} // namespace

int64_t TimeSpan::resolve(int64_t duration) const {
    if (!(value > 0) || duration <= 0)
        return 0;
    const double units = percent ? std::floor(static_cast<double>(duration) * value / 100.0)
                                 : value * kUnitsPerSecond;
    // Anything beyond the movie is the whole movie.
    return units >= static_cast<double>(duration) ? duration : static_cast<int64_t>(units);
}

bool TimeSpan::parse(const std::string& text, TimeSpan& out) {
    if (text.empty() || text.size() > 32)
        return false;
    std::string number = text;
    bool percent = false;
    if (number.back() == '%') {
        percent = true;
        number.pop_back();
    } else if (number.back() == 's') {
        number.pop_back();
    }
    if (number.empty() ||
        !(std::isdigit(static_cast<unsigned char>(number[0])) || number[0] == '.'))
        return false;
    char* end = nullptr;
    const double value = std::strtod(number.c_str(), &end);
    if (end != number.c_str() + number.size() || !std::isfinite(value) || value < 0 ||
        (percent && value > 100))
        return false;
    out = TimeSpan{value, percent};
    return true;
}

namespace {

// The part of the movie the choice keeps: [start, end).
void keptPart(int64_t duration, const FrameChoice& choice, int64_t& start, int64_t& end) {
    start = choice.skipStart.resolve(duration);
    end = duration - choice.skipEnd.resolve(duration);
}

} // namespace

bool captureMoments(int64_t duration, int64_t cells, const FrameChoice& choice,
                    std::vector<int64_t>& moments, std::string& error) {
    moments.clear();
    if (cells <= 0)
        return true;
    int64_t start = 0;
    int64_t end = 0;
    keptPart(duration, choice, start, end);
    const bool skipping = start > 0 || end < duration;
    if (skipping && end <= start) {
        error = "Skipping the start and the end leaves nothing of the movie.";
        return false;
    }
    const int64_t step = (end - start) / (cells + 1);
    moments.reserve(static_cast<size_t>(cells));
    for (int64_t i = 1; i <= cells; ++i)
        moments.push_back(start + i * step);
    return true;
}

int64_t momentStep(int64_t duration, int64_t cells, const FrameChoice& choice) {
    int64_t start = 0;
    int64_t end = 0;
    keptPart(duration, choice, start, end);
    if (cells <= 0 || end <= start)
        return 0;
    return (end - start) / (cells + 1);
}

int rowsForInterval(int64_t duration, int columns, const FrameChoice& choice,
                    const TimeSpan& interval) {
    int64_t start = 0;
    int64_t end = 0;
    keptPart(duration, choice, start, end);
    const int64_t every = interval.resolve(duration);
    if (columns <= 0 || every <= 0 || end <= start)
        return 1;
    // n cells sit (end − start) / (n + 1) apart: n = span / every − 1 puts
    // them `every` apart, and whole rows come as close to that as they can.
    const double cells = static_cast<double>(end - start) / static_cast<double>(every) - 1.0;
    const double rows = std::round(cells / columns);
    // Beyond this no sheet can hold the grid; the layout check says so.
    constexpr double kMostRows = 1 << 20;
    return rows < 1 ? 1 : static_cast<int>(std::min(rows, kMostRows));
}
