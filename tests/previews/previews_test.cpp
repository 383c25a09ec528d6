// The previews' moments, sprite geometry, track text and sprite packing, on
// made-up frames: no movie is read here.

#include <gtest/gtest.h>

#include <map>

#include "previews/preview_plan.h"
#include "previews/sprite_builder.h"
#include "previews/webvtt.h"
#include "tests/previews/preview_check.h"
#include "tests/previews/webvtt_parser.h"

namespace {

using previews::PreviewPlan;
using previews::PreviewSettings;
using previews::Region;

constexpr int64_t kSecond = 10'000'000;
constexpr int64_t kMs = 10'000;

PreviewPlan planFor(int64_t length, const PreviewSettings& settings, int shownW = 1280,
                    int shownH = 720) {
    PreviewPlan plan;
    std::string error;
    EXPECT_TRUE(previews::planPreviews(length, shownW, shownH, settings, plan, error)) << error;
    return plan;
}

std::vector<int64_t> inMs(const std::vector<int64_t>& units) {
    std::vector<int64_t> ms;
    for (int64_t u : units)
        ms.push_back(u / kMs);
    return ms;
}

TEST(PreviewMoments, OneEveryIntervalFromTheStartUpToTheReadableEnd) {
    // 95.04 s: ten moments, the last stretch shorter.
    PreviewPlan plan = planFor(950'400'000, PreviewSettings{});
    EXPECT_EQ(inMs(plan.moments), (std::vector<int64_t>{0, 10000, 20000, 30000, 40000, 50000, 60000,
                                                        70000, 80000, 90000}));
    EXPECT_EQ(plan.end, 95'040 * kMs);
    EXPECT_EQ(plan.endOf(8), 90'000 * kMs);
    EXPECT_EQ(plan.endOf(9), plan.end);

    // A length that is a whole number of intervals has no empty last stretch.
    plan = planFor(100 * kSecond, PreviewSettings{});
    EXPECT_EQ(plan.moments.size(), 10u);
    EXPECT_EQ(plan.moments.back(), 90 * kSecond);

    // Shorter than one interval: one thumbnail for the whole movie.
    plan = planFor(2 * kSecond, PreviewSettings{});
    EXPECT_EQ(plan.moments, (std::vector<int64_t>{0}));
    EXPECT_EQ(plan.end, 2 * kSecond);

    // Below a millisecond is cut off the end, so every cue time is exact.
    plan = planFor(2 * kSecond + 9'999, PreviewSettings{});
    EXPECT_EQ(plan.end, 2 * kSecond);
}

TEST(PreviewMoments, AnIntervalIsCutToWholeMilliseconds) {
    PreviewSettings every;
    every.interval = 3'333'999; // 333.3999 ms
    const PreviewPlan plan = planFor(kSecond, every);
    EXPECT_EQ(inMs(plan.moments), (std::vector<int64_t>{0, 333, 666, 999}));
    for (int64_t m : plan.moments)
        EXPECT_EQ(m % kMs, 0);
}

TEST(PreviewMoments, ACountIsSpreadEvenlyInWholeMilliseconds) {
    PreviewSettings count;
    count.count = 7;
    PreviewPlan plan = planFor(10 * kSecond, count);
    EXPECT_EQ(inMs(plan.moments), (std::vector<int64_t>{0, 1428, 2857, 4285, 5714, 7142, 8571}));

    // More than one a millisecond cannot be told apart: one a millisecond.
    count.count = 50;
    plan = planFor(30 * kMs + 5, count);
    EXPECT_EQ(plan.moments.size(), 30u);
    EXPECT_EQ(plan.moments.back(), 29 * kMs);

    // k · length passes 64 bits on the way for a very long movie.
    count.count = previews::kMostThumbnails;
    plan = planFor(int64_t{1} << 62, count);
    const int64_t endMs = (int64_t{1} << 62) / kMs;
    __extension__ typedef __int128 Wide;
    const auto expected = static_cast<int64_t>(static_cast<Wide>(previews::kMostThumbnails - 1) *
                                               endMs / previews::kMostThumbnails);
    EXPECT_EQ(plan.moments.back(), expected * kMs);
    EXPECT_TRUE(std::is_sorted(plan.moments.begin(), plan.moments.end()));
}

TEST(PreviewMoments, SettingsThatMakeNoPreviewsAreRefusedWithAReason) {
    PreviewPlan plan;
    std::string error;
    EXPECT_FALSE(previews::planPreviews(9'999, 640, 360, PreviewSettings{}, plan, error));
    EXPECT_NE(error.find("shorter than a millisecond"), std::string::npos) << error;

    PreviewSettings tiny;
    tiny.interval = 9'999;
    EXPECT_FALSE(previews::planPreviews(kSecond, 640, 360, tiny, plan, error));
    EXPECT_NE(error.find("millisecond or more"), std::string::npos) << error;

    PreviewSettings wide;
    wide.width = 4000;
    wide.columns = 9; // 36000 pixels across
    EXPECT_FALSE(previews::planPreviews(kSecond, 640, 360, wide, plan, error));
    EXPECT_NE(error.find("larger than"), std::string::npos) << error;

    PreviewSettings many;
    many.interval = kMs;
    EXPECT_FALSE(previews::planPreviews(2000 * kSecond, 640, 360, many, plan, error));
    EXPECT_NE(error.find("previews, more than"), std::string::npos) << error;

    EXPECT_FALSE(previews::planPreviews(kSecond, 0, 360, PreviewSettings{}, plan, error));
}

TEST(PreviewGeometry, TheHeightFollowsThePictureAsShownAndIsEven) {
    EXPECT_EQ(previews::thumbnailHeight(160, 1920, 1080), 90);
    EXPECT_EQ(previews::thumbnailHeight(160, 640, 480), 120);
    // 2.39:1 gives 66.9 rows: the nearest even count.
    EXPECT_EQ(previews::thumbnailHeight(160, 1280, 536), 68);
    // An upright phone picture; PAL shown at 16:9.
    EXPECT_EQ(previews::thumbnailHeight(160, 1080, 1920), 284);
    EXPECT_EQ(previews::thumbnailHeight(160, 1024, 576), 90);
    // A sliver still gets two rows.
    EXPECT_EQ(previews::thumbnailHeight(160, 4000, 10), 2);
}

TEST(PreviewGeometry, ThumbnailsFillTheirSpritesRowByRowAndTheLastSpriteIsCut) {
    PreviewSettings s;
    s.interval = kSecond;
    s.columns = 5;
    s.rows = 2;
    const PreviewPlan plan = planFor(23 * kSecond, s, 640, 360); // 23 thumbnails of 160x90
    ASSERT_EQ(plan.moments.size(), 23u);
    EXPECT_EQ(plan.sprites(), 3u);
    EXPECT_EQ(plan.spriteOf(9), 0u);
    EXPECT_EQ(plan.spriteOf(10), 1u);
    EXPECT_EQ(plan.regionOf(0), (Region{0, 0, 160, 90}));
    EXPECT_EQ(plan.regionOf(4), (Region{640, 0, 160, 90}));
    EXPECT_EQ(plan.regionOf(5), (Region{0, 90, 160, 90}));
    EXPECT_EQ(plan.regionOf(17), (Region{320, 90, 160, 90}));
    EXPECT_EQ(plan.spriteSize(0), (Region{0, 0, 800, 180}));
    EXPECT_EQ(plan.spriteSize(2), (Region{0, 0, 480, 90})); // three thumbnails left

    const PreviewPlan seven = planFor(17 * kSecond, s, 640, 360);
    EXPECT_EQ(seven.spriteSize(1), (Region{0, 0, 800, 180})); // 7: two rows, all columns
}

TEST(PreviewGeometry, NamesNumberTheSpritesFromOneWithEnoughDigits) {
    EXPECT_EQ(previews::spriteName("clip", 0, 3), "clip-001.jpg");
    EXPECT_EQ(previews::spriteName("clip", 998, 999), "clip-999.jpg");
    EXPECT_EQ(previews::spriteName("clip", 0, 1000), "clip-0001.jpg");
    EXPECT_EQ(previews::spriteName("a b", 41, 12000), "a b-00042.jpg");
    EXPECT_EQ(previews::trackName("a b"), "a b.vtt");
}

TEST(PreviewTrack, CueTimesAreExactAndTruncated) {
    EXPECT_EQ(previews::cueTime(0), "00:00:00.000");
    EXPECT_EQ(previews::cueTime(46'400'000), "00:00:04.640");
    EXPECT_EQ(previews::cueTime(599'999'999), "00:00:59.999");
    EXPECT_EQ(previews::cueTime(3'723'004 * kMs), "01:02:03.004");
    EXPECT_EQ(previews::cueTime(int64_t{360'000'000} * kMs), "100:00:00.000");
    EXPECT_EQ(previews::cueTime(-5), "00:00:00.000");
}

TEST(PreviewTrack, FileNamesBecomeRelativeUrlsThatCannotBreakACue) {
    EXPECT_EQ(previews::relativeUrl("clip-001.jpg"), "clip-001.jpg");
    EXPECT_EQ(previews::relativeUrl("my clip #2?%-001.jpg"), "my%20clip%20%232%3F%25-001.jpg");
    EXPECT_EQ(previews::relativeUrl("caf\xC3\xA9-001.jpg"), "caf%C3%A9-001.jpg");
    EXPECT_EQ(previews::relativeUrl("\xFF:x-001.jpg"), "%FF%3Ax-001.jpg");
    const std::string nasty = previews::relativeUrl("a-->b<i>&amp;\nc-001.jpg");
    EXPECT_EQ(nasty.find("-->"), std::string::npos);
    EXPECT_EQ(nasty.find_first_of("<>&\n "), std::string::npos);
    std::string back;
    ASSERT_TRUE(previewcheck::decodeUrl(nasty, back));
    EXPECT_EQ(back, "a-->b<i>&amp;\nc-001.jpg");
}

TEST(PreviewTrack, IsValidWebVttWithOneCuePerThumbnailPointingIntoItsSprite) {
    PreviewSettings s;
    s.interval = 7 * kSecond;
    s.columns = 3;
    s.rows = 2;
    const PreviewPlan plan = planFor(50 * kSecond + 123 * kMs, s, 720, 576); // 8 thumbnails
    const std::string text =
        previews::previewTrack(plan, "my clip", std::vector<bool>(plan.moments.size(), true));
    vtt::Track track;
    std::string error;
    ASSERT_TRUE(vtt::parse(text, track, error)) << error << "\n" << text;
    ASSERT_EQ(track.cues.size(), 8u);
    int64_t previous = 0;
    for (size_t i = 0; i < track.cues.size(); ++i) {
        const vtt::Cue& cue = track.cues[i];
        EXPECT_EQ(cue.start, previous);
        EXPECT_EQ(cue.start, plan.moments[i] / kMs);
        previous = cue.end;
        const Region r = plan.regionOf(i);
        EXPECT_EQ(cue.text, "my%20clip-00" + std::to_string(i / 6 + 1) +
                                ".jpg#xywh=" + std::to_string(r.x) + "," + std::to_string(r.y) +
                                "," + std::to_string(r.width) + "," + std::to_string(r.height));
    }
    EXPECT_EQ(track.cues.back().end, 50'123);
    EXPECT_EQ(track.cues[1].text, "my%20clip-001.jpg#xywh=160,0,160,128");
    EXPECT_EQ(track.cues[7].text, "my%20clip-002.jpg#xywh=160,0,160,128");
}

TEST(PreviewTrack, AThumbnailWithoutAPictureHasNoCue) {
    const PreviewPlan plan = planFor(40 * kSecond, PreviewSettings{});
    const std::string text = previews::previewTrack(plan, "c", {true, false, true, true});
    vtt::Track track;
    std::string error;
    ASSERT_TRUE(vtt::parse(text, track, error)) << error;
    ASSERT_EQ(track.cues.size(), 3u);
    EXPECT_EQ(track.cues[0].end, 10'000);
    EXPECT_EQ(track.cues[1].start, 20'000);
}

// Keeps what the builder writes, in order.
class Files : public previews::PreviewFiles {
public:
    struct Sprite {
        std::string name;
        int width, height;
        std::vector<uint8_t> rgb; // top-down, as the image holds it
        int stride;
    };
    bool writeSprite(const std::string& name, const RasterImage& sprite) override {
        order.push_back(name);
        const size_t bytes = static_cast<size_t>(sprite.stride()) * sprite.height();
        const uint8_t* rows = sprite.hasPixels() ? sprite.row(0) : nullptr;
        sprites.push_back(Sprite{name, sprite.width(), sprite.height(),
                                 rows ? std::vector<uint8_t>(rows, rows + bytes)
                                      : std::vector<uint8_t>(),
                                 sprite.stride()});
        return failSpriteAt < 0 || static_cast<int>(sprites.size()) < failSpriteAt;
    }
    bool writeTrack(const std::string& name, const std::string& text) override {
        order.push_back(name);
        track = text;
        return true;
    }
    // (r, g, b) at picture row y from the top.
    static uint32_t rgbAt(const Sprite& s, int x, int y) {
        const uint8_t* p = s.rgb.data() + static_cast<size_t>(y) * s.stride + 3 * x;
        return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    }
    std::vector<std::string> order;
    std::vector<Sprite> sprites;
    std::string track;
    int failSpriteAt = -1; // the n-th sprite (from 1) and later fail
};

// A frame whose top half is one colour and bottom half another.
media::Frame twoColours(int w, int h, uint32_t top, uint32_t bottom) {
    media::Frame f;
    f.found = true;
    f.picture.width = w;
    f.picture.height = h;
    f.picture.rgb.resize(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t c = y < h / 2 ? top : bottom;
            uint8_t* p = f.picture.rgb.data() + (static_cast<size_t>(y) * w + x) * 3;
            p[0] = static_cast<uint8_t>(c >> 16);
            p[1] = static_cast<uint8_t>(c >> 8);
            p[2] = static_cast<uint8_t>(c);
        }
    return f;
}

class Builder : public ::testing::Test {
protected:
    void SetUp() override {
        PreviewSettings s;
        s.interval = kSecond;
        s.width = 16;
        s.columns = 3;
        s.rows = 2;
        plan = planFor(14 * kSecond, s, 160, 90); // 14 thumbnails of 16x10, 3 sprites
        ASSERT_EQ(plan.thumbHeight, 10);
    }
    PreviewPlan plan;
    Files files;
};

TEST_F(Builder, EachThumbnailLandsInItsCellTheRightWayUpAndSpritesGoOutWhenFull) {
    previews::SpriteBuilder builder(plan, "clip", files);
    for (size_t i = 0; i < plan.moments.size(); ++i) {
        const auto n = static_cast<uint32_t>(i);
        ASSERT_TRUE(builder.add(i, twoColours(16, 10, 0x100000 * n + 0x01, 0x000100 * n + 0x02)));
        // A sprite is handed on with its last thumbnail, not later.
        EXPECT_EQ(files.sprites.size(), (i + 1) / 6 + (i + 1 == plan.moments.size() ? 1 : 0));
    }
    EXPECT_TRUE(files.track.empty());
    ASSERT_TRUE(builder.finish());
    EXPECT_EQ(files.order, (std::vector<std::string>{"clip-001.jpg", "clip-002.jpg", "clip-003.jpg",
                                                     "clip.vtt"}));
    ASSERT_EQ(files.sprites.size(), 3u);
    EXPECT_EQ(files.sprites[2].width, 32); // two thumbnails left
    EXPECT_EQ(files.sprites[2].height, 10);
    for (size_t i = 0; i < plan.moments.size(); ++i) {
        const Files::Sprite& sprite = files.sprites[plan.spriteOf(i)];
        const Region r = plan.regionOf(i);
        const auto n = static_cast<uint32_t>(i);
        EXPECT_EQ(Files::rgbAt(sprite, r.x, r.y), 0x100000 * n + 0x01) << i;
        EXPECT_EQ(Files::rgbAt(sprite, r.x + 15, r.y + 4), 0x100000 * n + 0x01) << i;
        EXPECT_EQ(Files::rgbAt(sprite, r.x + 15, r.y + 5), 0x000100 * n + 0x02) << i;
        EXPECT_EQ(Files::rgbAt(sprite, r.x, r.y + 9), 0x000100 * n + 0x02) << i;
    }
    EXPECT_TRUE(builder.missing().empty());
    EXPECT_EQ(files.track, previews::previewTrack(plan, "clip", std::vector<bool>(14, true)));
}

TEST_F(Builder, AMomentWithoutAPictureStaysDarkAndHasNoCue) {
    previews::SpriteBuilder builder(plan, "clip", files);
    for (size_t i = 0; i < plan.moments.size(); ++i) {
        media::Frame frame = twoColours(16, 10, 0xffffff, 0xffffff);
        if (i == 4) {
            frame = media::Frame{};
            frame.decodeErrors = 3;
        }
        ASSERT_TRUE(builder.add(i, frame));
    }
    ASSERT_TRUE(builder.finish());
    EXPECT_EQ(builder.missing(), (std::vector<int64_t>{4 * kSecond}));
    EXPECT_EQ(builder.decoderErrors(), 3);
    const Region r = plan.regionOf(4);
    EXPECT_EQ(Files::rgbAt(files.sprites[0], r.x + 8, r.y + 5), 0u);
    vtt::Track track;
    std::string error;
    ASSERT_TRUE(vtt::parse(files.track, track, error)) << error;
    EXPECT_EQ(track.cues.size(), 13u);
    for (const vtt::Cue& cue : track.cues)
        EXPECT_NE(cue.start, 4000);
}

TEST_F(Builder, NoPictureAtAllWritesNoTrack) {
    previews::SpriteBuilder builder(plan, "clip", files);
    for (size_t i = 0; i < plan.moments.size(); ++i)
        ASSERT_TRUE(builder.add(i, media::Frame{}));
    EXPECT_FALSE(builder.finish());
    EXPECT_NE(builder.error().find("No picture"), std::string::npos);
    EXPECT_TRUE(files.track.empty());
}

TEST_F(Builder, ASpriteThatCannotBeWrittenEndsThePreviews) {
    files.failSpriteAt = 2;
    previews::SpriteBuilder builder(plan, "clip", files);
    size_t taken = 0;
    while (taken < plan.moments.size() && builder.add(taken, twoColours(16, 10, 1, 2)))
        ++taken;
    EXPECT_EQ(taken, 11u); // the 12th thumbnail fills the second sprite, whose write fails
    EXPECT_TRUE(builder.failed());
    EXPECT_FALSE(builder.add(12, twoColours(16, 10, 1, 2)));
    EXPECT_FALSE(builder.finish());
    EXPECT_TRUE(files.track.empty());
}

TEST_F(Builder, FramesOutOfOrderOrUnfinishedPreviewsAreRefused) {
    previews::SpriteBuilder builder(plan, "clip", files);
    EXPECT_FALSE(builder.add(1, twoColours(16, 10, 1, 2)));
    EXPECT_TRUE(builder.add(0, twoColours(16, 10, 1, 2)));
    EXPECT_FALSE(builder.add(0, twoColours(16, 10, 1, 2)));
    EXPECT_FALSE(builder.finish());
    EXPECT_FALSE(builder.complete());
    EXPECT_TRUE(files.track.empty());
}

} // namespace
