// `--info --json` on movies the test makes: every object holds to the
// published schema, and the values are the movies' own.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "capture/movie_probe.h"
#include "cli/cli.h"
#include "cli/facts_json.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// The part of JSON Schema the published schema uses: type (with null),
// required, properties, additionalProperties: false, items, minimum, enum.
// Returns the first violation, or "" when the value holds to the schema.
std::string violation(const json& value, const json& schema, const std::string& where = "$") {
    if (schema.contains("type")) {
        std::vector<std::string> types;
        if (schema["type"].is_array())
            for (const json& t : schema["type"])
                types.push_back(t.get<std::string>());
        else
            types.push_back(schema["type"].get<std::string>());
        bool matches = false;
        for (const std::string& t : types)
            matches = matches || (t == "null" && value.is_null()) ||
                      (t == "string" && value.is_string()) ||
                      (t == "integer" && value.is_number_integer()) ||
                      (t == "number" && value.is_number()) ||
                      (t == "object" && value.is_object()) || (t == "array" && value.is_array());
        if (!matches)
            return where + ": " + value.dump() + " is not of type " + schema["type"].dump();
    }
    if (value.is_null())
        return {};
    if (schema.contains("enum") &&
        std::find(schema["enum"].begin(), schema["enum"].end(), value) == schema["enum"].end())
        return where + ": " + value.dump() + " is not one of " + schema["enum"].dump();
    if (schema.contains("minimum") && value.is_number() &&
        value.get<double>() < schema["minimum"].get<double>())
        return where + ": " + value.dump() + " is below the minimum";
    if (value.is_object()) {
        for (const json& key : schema.value("required", json::array()))
            if (!value.contains(key.get<std::string>()))
                return where + ": " + key.get<std::string>() + " is missing";
        const json properties = schema.value("properties", json::object());
        for (const auto& [key, item] : value.items()) {
            if (!properties.contains(key)) {
                if (schema.value("additionalProperties", true) == false)
                    return where + ": " + key + " is not in the schema";
                continue;
            }
            if (std::string v = violation(item, properties[key], where + "." + key); !v.empty())
                return v;
        }
    }
    if (value.is_array() && schema.contains("items"))
        for (size_t i = 0; i < value.size(); ++i)
            if (std::string v =
                    violation(value[i], schema["items"], where + "[" + std::to_string(i) + "]");
                !v.empty())
                return v;
    return {};
}

class FactsJson : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream in(STILLWICK_INFO_SCHEMA);
        ASSERT_TRUE(in) << STILLWICK_INFO_SCHEMA;
        schema = json::parse(in, nullptr, false);
        ASSERT_FALSE(schema.is_discarded());
    }

    std::string make(testmovies::MovieSpec spec) {
        spec.path = temp.file(spec.path);
        std::string error;
        EXPECT_EQ(testmovies::make(spec, &error), 0) << error;
        return spec.path;
    }

    // Runs --info --json and parses each line of the output, which must hold
    // to the schema.
    std::vector<json> facts(std::vector<std::string> files, int* code = nullptr) {
        std::vector<std::string> args{
            "stillwick-cli", "--options", temp.file("options.swk"), "--info", "--json", "-j", "2"};
        args.insert(args.end(), files.begin(), files.end());
        std::vector<const char*> argv;
        for (const std::string& a : args)
            argv.push_back(a.c_str());
        std::ostringstream out;
        std::ostringstream errors;
        const int rc = cli::run(static_cast<int>(argv.size()), argv.data(), out, errors, false);
        if (code)
            *code = rc;
        err = errors.str();
        std::vector<json> objects;
        std::istringstream lines(out.str());
        for (std::string line; std::getline(lines, line);) {
            json object = json::parse(line, nullptr, false);
            EXPECT_FALSE(object.is_discarded()) << line;
            EXPECT_EQ(violation(object, schema), "") << line;
            objects.push_back(object);
        }
        return objects;
    }

    testmovies::TempDir temp;
    json schema;
    std::string err;
};

TEST_F(FactsJson, AMovieWithSoundTurnedAndStretchedPixels) {
    testmovies::MovieSpec spec;
    spec.path = "phone.mp4";
    spec.width = 320;
    spec.height = 240;
    spec.frames = 50;
    spec.audio = true;
    spec.audioLanguage = "eng";
    spec.sarNum = 4;
    spec.sarDen = 3;
    spec.rotation = 90;
    const std::string movie = make(spec);

    int code = -1;
    const std::vector<json> objects = facts({movie}, &code);
    EXPECT_EQ(code, 0) << err;
    ASSERT_EQ(objects.size(), 1u);
    const json& f = objects[0];
    EXPECT_EQ(f["file"], movie);
    EXPECT_EQ(f["size"], fs::file_size(movie));
    EXPECT_EQ(f["container"], "mov,mp4,m4a,3gp,3g2,mj2");
    EXPECT_DOUBLE_EQ(f["duration"].get<double>(), 2.0);
    // A whole movie: all of it can be read, and the field says so by null.
    ASSERT_TRUE(f.contains("readable_duration"));
    EXPECT_TRUE(f["readable_duration"].is_null());
    EXPECT_GT(f["bit_rate"].get<int64_t>(), 0);
    const json& v = f["video"];
    EXPECT_EQ(v["codec"], "h264");
    EXPECT_EQ(v["profile"], "High");
    EXPECT_EQ(v["width"], 320);
    EXPECT_EQ(v["height"], 240);
    EXPECT_EQ(v["sample_aspect_ratio"], "4:3");
    EXPECT_EQ(v["rotation"], 90);
    // 320 × 4/3 = 427 wide as shown, then turned a quarter.
    EXPECT_EQ(v["display_width"], 240);
    EXPECT_EQ(v["display_height"], 427);
    EXPECT_DOUBLE_EQ(v["frame_rate"].get<double>(), 25.0);
    EXPECT_EQ(v["pixel_format"], "yuv420p");
    ASSERT_EQ(f["audio"].size(), 1u);
    const json& a = f["audio"][0];
    EXPECT_EQ(a["codec"], "aac");
    EXPECT_EQ(a["channels"], 2);
    EXPECT_EQ(a["sample_rate"], 44100);
    EXPECT_EQ(a["language"], "eng");
}

TEST_F(FactsJson, TheLengthIsTheOneTheSheetIsSpreadOverAndOrderIsKept) {
    testmovies::MovieSpec mkv;
    mkv.path = "rounded.mkv"; // Matroska rounds times to the millisecond
    mkv.fpsNum = 30000;
    mkv.fpsDen = 1001;
    mkv.frames = 45;
    testmovies::MovieSpec avi;
    avi.path = "plain.avi";
    avi.frames = 40;
    const std::string first = make(mkv);
    const std::string second = make(avi);

    const std::vector<json> objects = facts({first, second});
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0]["file"], first);
    EXPECT_EQ(objects[1]["file"], second);
    const ProbeResult probe = MovieProbe::probe(first);
    ASSERT_TRUE(probe.ok());
    EXPECT_DOUBLE_EQ(objects[0]["duration"].get<double>(),
                     static_cast<double>(probe.facts.duration) / 1e7);
    EXPECT_NEAR(objects[0]["video"]["frame_rate"].get<double>(), 29.97, 0.001);
    EXPECT_DOUBLE_EQ(objects[1]["duration"].get<double>(), 1.6);
    EXPECT_EQ(objects[1]["video"]["codec"], "mpeg4");
    EXPECT_TRUE(objects[1]["audio"].empty());
}

TEST_F(FactsJson, FilesWithoutAMovieSayWhyInTheObjectAndOnTheErrorOutput) {
    const std::string text = temp.file("notes.txt");
    std::ofstream(text) << "not a movie";
    testmovies::MovieSpec wav;
    wav.path = "sound.wav";
    wav.video = false;
    wav.audio = true;
    const std::string sound = make(wav);
    const std::string missing = temp.file("gone.mp4");

    int code = -1;
    const std::vector<json> objects = facts({text, sound, missing}, &code);
    EXPECT_EQ(code, 1);
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(objects[0]["size"], 11);
    EXPECT_FALSE(objects[0]["error"].get<std::string>().empty());
    EXPECT_FALSE(objects[0].contains("video"));
    // A sound file is read, and has no picture.
    EXPECT_EQ(objects[1]["container"], "wav");
    EXPECT_TRUE(objects[1]["video"].is_null());
    EXPECT_EQ(objects[1]["audio"].size(), 1u);
    EXPECT_NE(objects[1]["error"].get<std::string>().find("no video"), std::string::npos);
    EXPECT_TRUE(objects[2]["size"].is_null());
    // One line on the error output per failure, in the order of the files.
    std::istringstream lines(err);
    for (const std::string& file : {text, sound, missing}) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line)) << err;
        EXPECT_EQ(line.rfind(file + ": ", 0), 0u) << line;
    }
}

TEST_F(FactsJson, NamesThatAreNotUtf8StillMakeValidJson) {
    testmovies::MovieSpec spec;
    spec.path = "caf\xE9.avi"; // Latin-1, as old archives have it
    const std::string movie = make(spec);
    const std::vector<json> objects = facts({movie});
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_NE(objects[0]["file"].get<std::string>().find("caf\xEF\xBF\xBD.avi"), std::string::npos);
    EXPECT_EQ(objects[0]["video"]["width"], 176);
}

// A cut-short movie: what can be read of it, in seconds as `duration`.
TEST_F(FactsJson, TheReadableLengthOfACutShortMovieIsGivenInSeconds) {
    media::MediaFacts facts;
    facts.fileSize = 4000;
    facts.duration = 600'000'000;
    facts.readableDuration = 27'040'000;
    facts.hasVideo = true;
    const json object = json::parse(cli::factsJson("cut.mp4", facts));
    EXPECT_EQ(violation(object, schema), "") << object.dump();
    EXPECT_DOUBLE_EQ(object["duration"].get<double>(), 60.0);
    EXPECT_DOUBLE_EQ(object["readable_duration"].get<double>(), 2.704);
}

} // namespace
