// The strict WebVTT reader the preview tests rely on: it must take what the
// format allows and refuse what a player would have to skip or guess at,
// or its "valid" would mean nothing.

#include <gtest/gtest.h>

#include "tests/previews/webvtt_parser.h"

namespace {

bool accepts(const std::string& text, vtt::Track* out = nullptr) {
    vtt::Track track;
    std::string error;
    const bool ok = vtt::parse(text, track, error);
    if (out)
        *out = track;
    return ok;
}

TEST(StrictWebVtt, ReadsEverythingTheFormatAllows) {
    vtt::Track track;
    ASSERT_TRUE(
        accepts("\xEF\xBB\xBFWEBVTT - made by hand\r\nKind: metadata\r\n\r\n"
                "STYLE\r\n::cue { color: red }\r\n\r\n"
                "NOTE a comment\r\nover two lines\r\n\r\n\r\n"
                "first\r\n00:01.000 --> 00:02.500 align:start\r\nline one\r\nline two\r\n\r\n"
                "01:00:00.000\t-->\t100:00:00.001\rthird\r",
                &track));
    ASSERT_EQ(track.cues.size(), 2u);
    EXPECT_EQ(track.cues[0].id, "first");
    EXPECT_EQ(track.cues[0].start, 1000);
    EXPECT_EQ(track.cues[0].end, 2500);
    EXPECT_EQ(track.cues[0].settings, "align:start");
    EXPECT_EQ(track.cues[0].text, "line one\nline two");
    EXPECT_EQ(track.cues[1].start, 3'600'000);
    EXPECT_EQ(track.cues[1].end, 360'000'001);
    EXPECT_EQ(track.cues[1].text, "third");
    EXPECT_TRUE(accepts("WEBVTT"));
    EXPECT_TRUE(accepts("WEBVTT\n\n00:00.000 --> 00:00.001\n"));
}

TEST(StrictWebVtt, TimestampsHaveOneSpelling) {
    EXPECT_EQ(vtt::parseTimestamp("00:00:04.640"), 4640);
    EXPECT_EQ(vtt::parseTimestamp("59:59.999"), 3'599'999);
    for (const char* bad : {"0:00:01.000", "00:60:00.000", "00:00:60.000", "00:00:01.00",
                            "00:00:01,000", "00:00:01.0000", "1:01.000", "00:00:01", "00:01.000 ",
                            "-00:01.000", "00:00:00:01.000", ""})
        EXPECT_EQ(vtt::parseTimestamp(bad), -1) << bad;
}

TEST(StrictWebVtt, RefusesWhatAPlayerWouldSkipOrGuessAt) {
    static constexpr char kNul[] = "00:00:00.000 --> 00:00:01.000\na\0b\n";
    const std::string cue = "00:00:00.000 --> 00:00:01.000\na.jpg#xywh=0,0,1,1\n";
    for (const std::string& bad : {
             std::string("WEBVTT-x\n\n") + cue,      // not the signature
             std::string("webvtt\n\n") + cue,        // nor is this
             std::string("\n") + "WEBVTT\n\n" + cue, // not at the start
             std::string("WEBVTT\n") + cue,          // no blank line after the header
             std::string("WEBVTT\n\n") + cue + cue,  // no blank line between cues
             std::string("WEBVTT\n\n00:00:01.000 --> 00:00:01.000\nx\n"),         // empty stretch
             std::string("WEBVTT\n\n00:00:02.000 --> 00:00:01.000\nx\n"),         // backwards
             std::string("WEBVTT\n\n00:00:05.000 --> 00:00:06.000\nx\n\n") + cue, // goes back
             std::string("WEBVTT\n\n00:00:00.000-->00:00:01.000\nx\n"),           // no spaces
             std::string("WEBVTT\n\n00:00:00.000 -> 00:00:01.000\nx\n"),          // no arrow
             std::string("WEBVTT\n\n00:00:00.000 --> 0:00:01.000\nx\n"),          // bad end
             std::string("WEBVTT\n\n") + cue + "\nSTYLE\n::cue {}\n",        // style after a cue
             std::string("WEBVTT\n\nlonely identifier\n"),                   // no timing line
             std::string("WEBVTT\n\nNOTE a --> b\n"),                        // arrow in a note
             std::string("WEBVTT\n\n") + std::string(kNul, sizeof kNul - 1), // a NUL
         })
        EXPECT_FALSE(accepts(bad)) << bad;
}

TEST(StrictWebVtt, SaysWhereTheFaultIs) {
    vtt::Track track;
    std::string error;
    EXPECT_FALSE(vtt::parse("WEBVTT\n\n00:00:00.000 --> 00:00:01.000\nx\n\n"
                            "00:00:01.000 --> 00:00:0x.000\ny\n",
                            track, error));
    EXPECT_EQ(error.rfind("line 6: ", 0), 0u) << error;
}

} // namespace
