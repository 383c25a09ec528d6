#include "tests/previews/webvtt_parser.h"

namespace vtt {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            line += c;
        }
    }
    // A last line without its terminator still counts.
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// A block keyword followed by the end of the line, a space or a tab.
bool isBlock(const std::string& line, const std::string& keyword) {
    return startsWith(line, keyword) &&
           (line.size() == keyword.size() || line[keyword.size()] == ' ' ||
            line[keyword.size()] == '\t');
}

bool fail(std::string& error, size_t line, const std::string& why) {
    error = "line " + std::to_string(line + 1) + ": " + why;
    return false;
}

} // namespace

int64_t parseTimestamp(const std::string& text) {
    // Groups of digits separated by ':' and a last '.' before three digits.
    std::vector<std::string> parts;
    std::string part;
    size_t at = 0;
    for (; at < text.size() && text[at] != '.'; ++at) {
        if (text[at] == ':') {
            parts.push_back(part);
            part.clear();
        } else if (isDigit(text[at])) {
            part += text[at];
        } else {
            return -1;
        }
    }
    parts.push_back(part);
    if (at >= text.size() || text.size() - at != 4)
        return -1;
    for (size_t k = at + 1; k < text.size(); ++k)
        if (!isDigit(text[k]))
            return -1;
    if (parts.size() < 2 || parts.size() > 3)
        return -1;
    const std::string& minutes = parts[parts.size() - 2];
    const std::string& seconds = parts.back();
    if (minutes.size() != 2 || seconds.size() != 2)
        return -1;
    int64_t hours = 0;
    if (parts.size() == 3) {
        // Hours are two or more digits.
        if (parts[0].size() < 2 || parts[0].size() > 12)
            return -1;
        hours = std::stoll(parts[0]);
    }
    const int64_t m = std::stoll(minutes);
    const int64_t s = std::stoll(seconds);
    if (m > 59 || s > 59)
        return -1;
    return ((hours * 60 + m) * 60 + s) * 1000 + std::stoll(text.substr(at + 1));
}

bool parse(const std::string& input, Track& track, std::string& error) {
    track = Track{};
    std::string text = input;
    if (startsWith(text, "\xEF\xBB\xBF"))
        text.erase(0, 3);
    if (text.find('\0') != std::string::npos)
        return fail(error, 0, "a NUL character");
    const std::vector<std::string> lines = splitLines(text);
    if (lines.empty() || !startsWith(lines[0], "WEBVTT") ||
        (lines[0].size() > 6 && lines[0][6] != ' ' && lines[0][6] != '\t'))
        return fail(error, 0, "the file does not start with the WEBVTT signature");
    if (lines[0].find("-->") != std::string::npos)
        return fail(error, 0, "\"-->\" in the signature line");
    size_t i = 1;
    // Header lines up to the first blank line.
    for (; i < lines.size() && !lines[i].empty(); ++i)
        if (lines[i].find("-->") != std::string::npos)
            return fail(error, i, "a cue with no blank line after the header");
    bool cueSeen = false;
    int64_t lastStart = -1;
    while (i < lines.size()) {
        if (lines[i].empty()) {
            ++i;
            continue;
        }
        const size_t first = i;
        size_t end = i;
        while (end < lines.size() && !lines[end].empty())
            ++end;
        if (isBlock(lines[first], "NOTE")) {
            for (size_t k = first; k < end; ++k)
                if (lines[k].find("-->") != std::string::npos)
                    return fail(error, k, "\"-->\" in a NOTE block");
            i = end;
            continue;
        }
        if (isBlock(lines[first], "STYLE") || isBlock(lines[first], "REGION")) {
            if (cueSeen)
                return fail(error, first, "a STYLE or REGION block after a cue");
            i = end;
            continue;
        }
        Cue cue;
        size_t timing = first;
        if (lines[first].find("-->") == std::string::npos) {
            cue.id = lines[first];
            timing = first + 1;
            if (timing >= end)
                return fail(error, first, "a block that is neither a cue nor a note");
        }
        const std::string& t = lines[timing];
        const size_t arrow = t.find("-->");
        if (arrow == std::string::npos)
            return fail(error, timing, "no \"-->\" in the timing line");
        // Start, whitespace, arrow, whitespace, end, then settings after
        // whitespace.
        const size_t startEnd = t.find_first_of(" \t");
        if (startEnd == std::string::npos || startEnd > arrow ||
            t.find_first_not_of(" \t", startEnd) != arrow)
            return fail(error, timing, "the start time is not followed by spaces and \"-->\"");
        cue.start = parseTimestamp(t.substr(0, startEnd));
        const size_t endFrom = t.find_first_not_of(" \t", arrow + 3);
        if (arrow + 3 >= t.size() || (t[arrow + 3] != ' ' && t[arrow + 3] != '\t') ||
            endFrom == std::string::npos)
            return fail(error, timing, "\"-->\" is not followed by spaces and an end time");
        const size_t endStop = t.find_first_of(" \t", endFrom);
        cue.end = parseTimestamp(t.substr(endFrom, endStop - endFrom));
        if (cue.start < 0 || cue.end < 0)
            return fail(error, timing, "a timestamp that is not one: " + t);
        if (endStop != std::string::npos) {
            const size_t settingsFrom = t.find_first_not_of(" \t", endStop);
            if (settingsFrom != std::string::npos)
                cue.settings = t.substr(settingsFrom);
        }
        if (cue.end <= cue.start)
            return fail(error, timing, "the cue ends before it starts, or when it starts");
        if (cue.start < lastStart)
            return fail(error, timing, "the cue starts before the one before it");
        for (size_t k = timing + 1; k < end; ++k) {
            if (lines[k].find("-->") != std::string::npos)
                return fail(error, k, "\"-->\" in a cue's text (a missing blank line?)");
            cue.text += (k > timing + 1 ? "\n" : "") + lines[k];
        }
        cue.line = static_cast<int>(timing + 1);
        lastStart = cue.start;
        cueSeen = true;
        track.cues.push_back(std::move(cue));
        i = end;
    }
    return true;
}

} // namespace vtt
