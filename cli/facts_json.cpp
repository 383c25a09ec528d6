#include "cli/facts_json.h"

#include <nlohmann/json.hpp>

namespace cli {

namespace {

using json = nlohmann::ordered_json;

json orNull(const std::string& value) {
    return value.empty() ? json(nullptr) : json(value);
}

json positiveOrNull(int64_t value) {
    return value > 0 ? json(value) : json(nullptr);
}

json video(const media::VideoFacts& v) {
    json frameRate = nullptr;
    if (v.frameRateNum > 0 && v.frameRateDen > 0)
        frameRate = static_cast<double>(v.frameRateNum) / v.frameRateDen;
    json aspect = nullptr;
    if (v.sampleAspectNum > 0 && v.sampleAspectDen > 0)
        aspect = std::to_string(v.sampleAspectNum) + ":" + std::to_string(v.sampleAspectDen);
    return json{
        {"codec", orNull(v.codec)},
        {"profile", orNull(v.profile)},
        {"width", v.width},
        {"height", v.height},
        {"display_width", v.displayWidth},
        {"display_height", v.displayHeight},
        {"sample_aspect_ratio", aspect},
        {"rotation", v.rotation},
        {"frame_rate", frameRate},
        {"bit_rate", positiveOrNull(v.bitRate)},
        {"pixel_format", orNull(v.pixelFormat)},
        {"color_transfer", orNull(v.colorTransfer)},
        {"color_primaries", orNull(v.colorPrimaries)},
        {"color_space", orNull(v.colorSpace)},
        {"color_range", orNull(v.colorRange)},
    };
}

json audio(const media::AudioFacts& a) {
    return json{
        {"codec", orNull(a.codec)},       {"channels", a.channels},
        {"sample_rate", a.sampleRate},    {"bit_rate", positiveOrNull(a.bitRate)},
        {"language", orNull(a.language)},
    };
}

// One line; bytes of a file name that are not UTF-8 become U+FFFD rather
// than ending the run.
std::string line(const json& object) {
    try {
        return object.dump(-1, ' ', false, json::error_handler_t::replace);
    } catch (const json::exception&) {
        return std::string("{\"error\":\"cannot write the facts as JSON\"}");
    }
}

} // namespace

std::string factsJson(const std::string& file, const media::MediaFacts& facts,
                      const std::string& error) {
    try {
        json object = {
            {"file", file},
            {"size", facts.fileSize >= 0 ? json(facts.fileSize) : json(nullptr)},
            {"container", orNull(facts.container)},
            {"container_name", orNull(facts.containerName)},
            {"duration",
             facts.duration >= 0 ? json(static_cast<double>(facts.duration) / 1e7) : json(nullptr)},
            {"readable_duration", facts.readableDuration >= 0
                                      ? json(static_cast<double>(facts.readableDuration) / 1e7)
                                      : json(nullptr)},
            {"bit_rate", positiveOrNull(facts.bitRate)},
            {"video", facts.hasVideo ? video(facts.video) : json(nullptr)},
            {"audio", json::array()},
        };
        for (const media::AudioFacts& a : facts.audio)
            object["audio"].push_back(audio(a));
        if (!error.empty())
            object["error"] = error;
        return line(object);
    } catch (const json::exception&) {
        return factsErrorJson(file, facts.fileSize, "cannot write the facts as JSON");
    }
}

std::string factsErrorJson(const std::string& file, int64_t fileSize, const std::string& error) {
    try {
        return line(json{{"file", file},
                         {"size", fileSize >= 0 ? json(fileSize) : json(nullptr)},
                         {"error", error}});
    } catch (const json::exception&) {
        return "{\"error\":\"cannot write the facts as JSON\"}";
    }
}

} // namespace cli
