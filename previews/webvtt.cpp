#include "previews/webvtt.h"

#include <cstdio>

namespace previews {

std::string cueTime(int64_t units) {
    const int64_t ms = units > 0 ? units / kUnitsPerMillisecond : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld",
                  static_cast<long long>(ms / 3'600'000), static_cast<long long>(ms / 60'000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

std::string relativeUrl(const std::string& fileName) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string url;
    url.reserve(fileName.size());
    for (const char c : fileName) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                           byte == '_' || byte == '~';
        if (plain) {
            url += c;
        } else {
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 15];
        }
    }
    return url;
}

std::string previewTrack(const PreviewPlan& plan, const std::string& stem,
                         const std::vector<bool>& shown) {
    std::string track = "WEBVTT\n";
    const size_t sprites = plan.sprites();
    std::vector<std::string> urls(sprites);
    for (size_t s = 0; s < sprites; ++s)
        urls[s] = relativeUrl(spriteName(stem, s, sprites));
    for (size_t i = 0; i < plan.moments.size(); ++i) {
        if (i < shown.size() && !shown[i])
            continue;
        const Region r = plan.regionOf(i);
        track += "\n" + cueTime(plan.moments[i]) + " --> " + cueTime(plan.endOf(i)) + "\n" +
                 urls[plan.spriteOf(i)] + "#xywh=" + std::to_string(r.x) + "," +
                 std::to_string(r.y) + "," + std::to_string(r.width) + "," +
                 std::to_string(r.height) + "\n";
    }
    return track;
}

} // namespace previews
