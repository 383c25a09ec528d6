#include "tests/previews/preview_check.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <jpeglib.h>
#include <map>

#include "tests/support/test_movies.h"

namespace previewcheck {

namespace fs = std::filesystem;

bool readJpeg(const std::string& path, Image& image) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    image.width = static_cast<int>(cinfo.output_width);
    image.height = static_cast<int>(cinfo.output_height);
    image.rgb.assign(static_cast<size_t>(image.width) * image.height * 3, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row =
            image.rgb.data() + static_cast<size_t>(cinfo.output_scanline) * image.width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return true;
}

bool decodeUrl(const std::string& url, std::string& name) {
    name.clear();
    const auto hex = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    for (size_t i = 0; i < url.size(); ++i) {
        const char c = url[i];
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            name += c;
        } else if (c == '%' && i + 2 < url.size() && hex(url[i + 1]) >= 0 && hex(url[i + 2]) >= 0) {
            name += static_cast<char>(hex(url[i + 1]) * 16 + hex(url[i + 2]));
            i += 2;
        } else {
            return false;
        }
    }
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

namespace {

// "N,N,N,N" of whole numbers, the last two above 0.
bool parseRegion(const std::string& text, previews::Region& r) {
    int values[4] = {};
    size_t at = 0;
    for (int k = 0; k < 4; ++k) {
        const size_t from = at;
        long long v = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - from < 9)
            v = v * 10 + (text[at++] - '0');
        if (at == from || (k < 3 && (at >= text.size() || text[at++] != ',')))
            return false;
        values[k] = static_cast<int>(v);
    }
    r = {values[0], values[1], values[2], values[3]};
    return at == text.size() && r.width > 0 && r.height > 0;
}

} // namespace

bool readPreviews(const std::string& trackPath, const Checks& checks,
                  std::vector<Thumbnail>& thumbnails, std::string& error) {
    thumbnails.clear();
    std::ifstream in(trackPath, std::ios::binary);
    if (!in) {
        error = "no track at " + trackPath;
        return false;
    }
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    vtt::Track track;
    if (!vtt::parse(text, track, error))
        return false;
    if (track.cues.empty()) {
        error = "the track has no cue";
        return false;
    }
    const fs::path folder = fs::path(trackPath).parent_path();
    std::map<std::string, Image> sprites;
    int64_t previousEnd = 0;
    for (const vtt::Cue& cue : track.cues) {
        const std::string where = "the cue at line " + std::to_string(cue.line) + " ";
        if (checks.continuous && cue.start != previousEnd) {
            error = where + "starts at " + std::to_string(cue.start) + " ms, not where the one " +
                    "before it ends (" + std::to_string(previousEnd) + " ms)";
            return false;
        }
        previousEnd = cue.end;
        const size_t hash = cue.text.find("#xywh=");
        std::string name;
        Thumbnail t;
        if (hash == std::string::npos || !decodeUrl(cue.text.substr(0, hash), name) ||
            !parseRegion(cue.text.substr(hash + 6), t.region)) {
            error = where + "does not say URL#xywh=x,y,w,h: " + cue.text;
            return false;
        }
        t.start = cue.start;
        t.end = cue.end;
        t.sprite = (folder / name).string();
        if (!sprites.count(t.sprite)) {
            Image image;
            if (!fs::is_regular_file(t.sprite) || !readJpeg(t.sprite, image)) {
                error = where + "names " + t.sprite + ", which is no JPEG file there";
                return false;
            }
            sprites.emplace(t.sprite, std::move(image));
        }
        const Image& sprite = sprites.at(t.sprite);
        if (int64_t{t.region.x} + t.region.width > sprite.width ||
            int64_t{t.region.y} + t.region.height > sprite.height) {
            error = where + "points outside its sprite of " + std::to_string(sprite.width) + "x" +
                    std::to_string(sprite.height) + ": " + cue.text;
            return false;
        }
        thumbnails.push_back(t);
    }
    if (checks.end >= 0 && previousEnd != checks.end) {
        error = "the last cue ends at " + std::to_string(previousEnd) + " ms, not at " +
                std::to_string(checks.end) + " ms";
        return false;
    }
    return true;
}

int indexIn(const Image& image, const previews::Region& region) {
    // The middle half of the region: away from the edges, where the
    // resampling blends in nothing, and from JPEG's block borders.
    const int x0 = region.x + region.width / 4;
    const int y0 = region.y + region.height / 4;
    const int w = std::max(1, region.width / 2);
    const int h = std::max(1, region.height / 2);
    int64_t sum[3] = {0, 0, 0};
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            for (int c = 0; c < 3; ++c)
                sum[c] += image.rgb[(static_cast<size_t>(y) * image.width + x) * 3 + c];
    const int64_t n = int64_t{w} * h;
    return testmovies::indexFromColor(static_cast<uint8_t>(sum[0] / n),
                                      static_cast<uint8_t>(sum[1] / n),
                                      static_cast<uint8_t>(sum[2] / n));
}

} // namespace previewcheck
