// The footage makers for interlaced camcorder and broadcast movies and for
// bare elementary streams: each movie is held to what FFmpeg's own demuxer,
// parser and decoder read from it, so that the capture tests built on these
// movies test the capture, not the maker.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/media/av_ptr.h"
#include "tests/support/field_movies.h"
#include "tests/support/footage.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_movies.h"
#include "tests/support/timeline.h"

namespace {

namespace av = media::av;
using testmovies::Footage;
using testmovies::TempDir;

struct ParserDeleter {
    void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};

// One video packet as libavformat hands it over, with what FFmpeg's parser
// reads from it.
struct Packet {
    int64_t pts = AV_NOPTS_VALUE;
    int64_t dts = AV_NOPTS_VALUE;
    bool key = false;
    int structure = AV_PICTURE_STRUCTURE_UNKNOWN;
    int pictType = AV_PICTURE_TYPE_NONE;
    int refIdc = -1; // nal_ref_idc of an H.264 slice
};

struct Packets {
    AVRational timeBase{0, 1};
    AVCodecID codec = AV_CODEC_ID_NONE;
    std::string format;
    std::vector<Packet> list;
};

// The nal_ref_idc of the first slice in an H.264 packet, in Annex B or with
// 4-byte lengths (Matroska).
int sliceRefIdc(const uint8_t* data, int size) {
    const bool annexB = size > 4 && data[0] == 0 && data[1] == 0 &&
                        (data[2] == 1 || (data[2] == 0 && data[3] == 1));
    for (int i = 0; i + 4 < size;) {
        int header = -1, next = size;
        if (annexB) {
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
                header = i + 3;
                next = i + 3;
            } else {
                ++i;
                continue;
            }
        } else {
            const int length = data[i] << 24 | data[i + 1] << 16 | data[i + 2] << 8 | data[i + 3];
            header = i + 4;
            next = i + 4 + length;
        }
        const int type = data[header] & 0x1F;
        if (type == 1 || type == 5)
            return data[header] >> 5 & 3;
        i = next;
    }
    return -1;
}

// Unparsed, a transport stream gives its PES packets as they are.
Packets readPackets(const std::string& path, bool parse = true) {
    Packets out;
    AVFormatContext* raw = avformat_alloc_context();
    if (!parse)
        raw->flags |= AVFMT_FLAG_NOPARSE;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return out;
    const av::InputPtr input(raw);
    avformat_find_stream_info(input.get(), nullptr);
    const int vs = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vs < 0)
        return out;
    const AVStream* st = input->streams[vs];
    out.timeBase = st->time_base;
    out.codec = st->codecpar->codec_id;
    out.format = input->iformat->name;
    const std::unique_ptr<AVCodecParserContext, ParserDeleter> parser(av_parser_init(out.codec));
    const av::CodecPtr context(avcodec_alloc_context3(nullptr));
    avcodec_parameters_to_context(context.get(), st->codecpar);
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    const av::PacketPtr pkt(av_packet_alloc());
    while (av_read_frame(input.get(), pkt.get()) >= 0) {
        const av::PacketRef unref(pkt.get());
        if (pkt->stream_index != vs)
            continue;
        Packet p;
        p.pts = pkt->pts;
        p.dts = pkt->dts;
        p.key = pkt->flags & AV_PKT_FLAG_KEY;
        uint8_t* data = nullptr;
        int size = 0;
        av_parser_parse2(parser.get(), context.get(), &data, &size, pkt->data, pkt->size, pkt->pts,
                         pkt->dts, pkt->pos);
        p.structure = parser->picture_structure;
        p.pictType = parser->pict_type;
        if (out.codec == AV_CODEC_ID_H264)
            p.refIdc = sliceRefIdc(pkt->data, pkt->size);
        out.list.push_back(p);
    }
    return out;
}

struct Decoded {
    char type = '?';
    bool interlaced = false;
    bool topFirst = false;
    bool flat = false; // every luma sample the same: no field of another frame
    int height = 0;
    std::vector<uint8_t> samples; // the three planes, row by row
};

// Every frame FFmpeg's decoder shows; `skipNonReference` drops what a
// player in a hurry may drop.
std::vector<Decoded> decodeFrames(const std::string& path, bool skipNonReference = false) {
    std::vector<Decoded> out;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return out;
    const av::InputPtr input(raw);
    avformat_find_stream_info(input.get(), nullptr);
    const int vs = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vs < 0)
        return out;
    const AVCodec* codec = avcodec_find_decoder(input->streams[vs]->codecpar->codec_id);
    const av::CodecPtr dec(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(dec.get(), input->streams[vs]->codecpar);
    if (skipNonReference)
        dec->skip_frame = AVDISCARD_NONREF;
    if (avcodec_open2(dec.get(), codec, nullptr) < 0)
        return out;
    const av::PacketPtr pkt(av_packet_alloc());
    const av::FramePtr frame(av_frame_alloc());
    const auto take = [&] {
        while (avcodec_receive_frame(dec.get(), frame.get()) >= 0) {
            Decoded d;
            d.type = av_get_picture_type_char(frame->pict_type);
            d.interlaced = frame->interlaced_frame;
            d.topFirst = frame->top_field_first;
            d.height = frame->height;
            d.flat = true;
            const uint8_t first = frame->data[0][0];
            for (int y = 0; y < frame->height; ++y)
                for (int x = 0; x < frame->width; ++x)
                    d.flat = d.flat && frame->data[0][y * frame->linesize[0] + x] == first;
            for (int plane = 0; plane < 3; ++plane) {
                const int shift = plane == 0 ? 0 : 1;
                for (int y = 0; y < frame->height >> shift; ++y) {
                    const uint8_t* row = frame->data[plane] + y * frame->linesize[plane];
                    d.samples.insert(d.samples.end(), row, row + (frame->width >> shift));
                }
            }
            out.push_back(std::move(d));
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(input.get(), pkt.get()) >= 0) {
        const av::PacketRef unref(pkt.get());
        if (pkt->stream_index == vs && avcodec_send_packet(dec.get(), pkt.get()) >= 0)
            take();
    }
    avcodec_send_packet(dec.get(), nullptr);
    take();
    return out;
}

// The picture type of frame n: GOPs of `gop` frames, I then P every third
// frame with two B between, each GOP ending on a P.
char plannedType(int n, int frames, int gop) {
    const int p = n % gop;
    if (p == 0)
        return 'I';
    if (p % 3 == 0 || p == gop - 1 || n == frames - 1)
        return 'P';
    return 'B';
}

// Every frame decodes to its own index, at exactly n × den / num seconds
// (within a millisecond where the container counts in milliseconds).
void expectTimeline(const std::string& path, int frames, int num, int den, bool milliseconds) {
    const auto timeline = testmovies::decodeTimeline(path);
    ASSERT_EQ(static_cast<int>(timeline.size()), frames) << path;
    for (int n = 0; n < frames; ++n) {
        const auto& f = timeline[n];
        EXPECT_EQ(f.index, n) << path;
        // f.num / f.den (100 ns units) against n·den/num seconds.
        __extension__ typedef __int128 Wide;
        const Wide got = static_cast<Wide>(f.num) * num;
        const Wide want = static_cast<Wide>(n) * den * 10'000'000 * f.den;
        if (milliseconds)
            EXPECT_NEAR(static_cast<double>(got - want) / (static_cast<double>(num) * f.den), 0,
                        1e4)
                << path << " frame " << n;
        else
            EXPECT_TRUE(got == want) << path << " frame " << n << " at " << f.num << "/" << f.den;
    }
}

struct FieldCase {
    Footage kind;
    int fpsNum;
    int fpsDen;
};

class FieldFootage : public testing::TestWithParam<FieldCase> {};

TEST_P(FieldFootage, EveryFieldIsAPacketAndEveryFrameDecodesWholeWithItsIndexAndTime) {
    const FieldCase c = GetParam();
    TempDir dir;
    testmovies::FootageSpec spec;
    spec.kind = c.kind;
    spec.frames = 32;
    spec.fpsNum = c.fpsNum;
    spec.fpsDen = c.fpsDen;
    const std::string path = dir.file(std::string("m") + testmovies::footageExtension(c.kind));
    std::string error;
    ASSERT_EQ(testmovies::makeFootage(spec, path, &error), 0) << error;
    const int gop = c.fpsNum / c.fpsDen >= 29 ? 15 : 12;
    const bool elementary = c.kind == Footage::EsH264Paff;
    const bool mpeg2 = c.kind == Footage::TsMpeg2Fields;

    expectTimeline(path, spec.frames, c.fpsNum, c.fpsDen, c.kind == Footage::MkvH264Paff);

    // FFmpeg's parser joins MPEG-2 fields into one packet; unparsed, the
    // transport stream shows each field in its own PES packet.
    const Packets packets = readPackets(path, !mpeg2);
    ASSERT_EQ(static_cast<int>(packets.list.size()), 2 * spec.frames);
    for (size_t k = 0; k < packets.list.size(); k += 2) {
        const Packet& top = packets.list[k];
        const Packet& bottom = packets.list[k + 1];
        if (!mpeg2) {
            EXPECT_EQ(top.structure, AV_PICTURE_STRUCTURE_TOP_FIELD) << k;
            EXPECT_EQ(bottom.structure, AV_PICTURE_STRUCTURE_BOTTOM_FIELD) << k;
        }
        if (!mpeg2) {
            EXPECT_EQ(top.key, top.pictType == AV_PICTURE_TYPE_I) << k;
            EXPECT_FALSE(bottom.key) << k;
        }
        if (!elementary) {
            // The bottom field half a frame after the top field: 1800 ticks of
            // 90 kHz at 25 frames a second, 1501 or 1502 at 29.97.
            const double half = 0.5 * c.fpsDen / c.fpsNum;
            const double gap = static_cast<double>(bottom.pts - top.pts) * av_q2d(packets.timeBase);
            EXPECT_NEAR(gap, half, av_q2d(packets.timeBase)) << k;
        }
        if (top.pictType == AV_PICTURE_TYPE_B) {
            EXPECT_EQ(bottom.pictType, AV_PICTURE_TYPE_B);
            if (!mpeg2) {
                EXPECT_EQ(top.refIdc, 0);
                EXPECT_EQ(bottom.refIdc, 0);
            }
        } else if (top.pictType != AV_PICTURE_TYPE_NONE) {
            // A key frame's second field is a P field.
            EXPECT_EQ(bottom.pictType, AV_PICTURE_TYPE_P) << k;
            if (!mpeg2) {
                EXPECT_GT(top.refIdc, 0);
                EXPECT_GT(bottom.refIdc, 0);
            }
        }
    }

    if (mpeg2) {
        const Packets frames = readPackets(path);
        ASSERT_EQ(static_cast<int>(frames.list.size()), spec.frames);
        for (int n = 0; n < spec.frames; ++n)
            EXPECT_EQ(frames.list[n].key, n % gop == 0) << n;
    }

    const std::vector<Decoded> frames = decodeFrames(path);
    ASSERT_EQ(static_cast<int>(frames.size()), spec.frames);
    for (int n = 0; n < spec.frames; ++n) {
        EXPECT_TRUE(frames[n].flat) << "frame " << n << " mixes fields of two frames";
        EXPECT_TRUE(frames[n].interlaced && frames[n].topFirst) << n;
        EXPECT_EQ(frames[n].type, plannedType(n, spec.frames, gop)) << n;
    }
}

std::string caseName(const testing::TestParamInfo<FieldCase>& info) {
    return std::string(testmovies::footageName(info.param.kind)) + "_" +
           std::to_string(info.param.fpsNum);
}

INSTANTIATE_TEST_SUITE_P(Interlaced, FieldFootage,
                         testing::Values(FieldCase{Footage::TsH264Paff, 25, 1},
                                         FieldCase{Footage::TsH264Paff, 30000, 1001},
                                         FieldCase{Footage::MtsH264Paff, 25, 1},
                                         FieldCase{Footage::EsH264Paff, 25, 1},
                                         FieldCase{Footage::MkvH264Paff, 25, 1},
                                         FieldCase{Footage::TsMpeg2Fields, 25, 1},
                                         FieldCase{Footage::TsMpeg2Fields, 30000, 1001}),
                         caseName);

TEST(FieldMovies, TransportPacketsAreTheSizeTheirKindPromises) {
    TempDir dir;
    testmovies::FootageSpec spec;
    spec.frames = 3;
    std::string error;
    for (const auto& [kind, stride] :
         {std::pair{Footage::TsH264Paff, 188}, std::pair{Footage::MtsH264Paff, 192}}) {
        spec.kind = kind;
        const std::string path = dir.file(std::string("m") + testmovies::footageExtension(kind));
        ASSERT_EQ(testmovies::makeFootage(spec, path, &error), 0) << error;
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        const size_t sync = stride == 192 ? 4 : 0;
        ASSERT_EQ(bytes.size() % stride, 0u) << path;
        for (size_t at = sync; at < bytes.size(); at += stride)
            ASSERT_EQ(bytes[at], 0x47) << path << " at " << at;
    }
}

TEST(FieldMovies, BFieldsCanBeSkippedLeavingTheReferenceFrames) {
    TempDir dir;
    testmovies::FootageSpec spec;
    spec.kind = Footage::TsH264Paff;
    spec.frames = 24;
    const std::string path = dir.file("m.ts");
    std::string error;
    ASSERT_EQ(testmovies::makeFootage(spec, path, &error), 0) << error;
    std::string types;
    for (const Decoded& d : decodeFrames(path, true)) {
        types += d.type;
        EXPECT_TRUE(d.flat);
    }
    EXPECT_EQ(types, "IPPPPIPPPP");
}

// Predicted from one raw macroblock a field, every macroblock comes out as
// the raw one: whichever neighbours a macroblock has decide how its
// coefficient count is coded, so a size of three macroblock rows and columns
// meets every case.
TEST(FieldMovies, CompactFieldsDecodeToTheSamePicturesAsRawOnes) {
    TempDir dir;
    testmovies::FieldStreamSpec spec;
    spec.width = 48;
    spec.height = 96;
    spec.frames = 8;
    std::string error;
    ASSERT_EQ(testmovies::writeFieldMovie(spec, dir.file("raw.ts"), "mpegts", &error), 0) << error;
    spec.compact = true;
    ASSERT_EQ(testmovies::writeFieldMovie(spec, dir.file("compact.ts"), "mpegts", &error), 0)
        << error;
    const auto raw = decodeFrames(dir.file("raw.ts"));
    const auto compact = decodeFrames(dir.file("compact.ts"));
    ASSERT_EQ(raw.size(), 8u);
    ASSERT_EQ(compact.size(), 8u);
    for (size_t n = 0; n < raw.size(); ++n) {
        EXPECT_TRUE(raw[n].flat);
        EXPECT_TRUE(compact[n].samples == raw[n].samples) << n;
    }
    EXPECT_LT(std::filesystem::file_size(dir.file("compact.ts")),
              std::filesystem::file_size(dir.file("raw.ts")) / 4);
}

// 1080 lines are coded as 1088, as cameras do, and cropped back.
TEST(FieldMovies, HeightsOffTheFieldMacroblockGridAreCropped) {
    TempDir dir;
    testmovies::FootageSpec spec;
    spec.kind = Footage::MtsH264Paff;
    spec.width = 1920;
    spec.height = 1080;
    spec.fpsNum = 30000;
    spec.fpsDen = 1001;
    spec.frames = 6;
    spec.compactFields = true;
    const std::string path = dir.file("m.mts");
    std::string error;
    ASSERT_EQ(testmovies::makeFootage(spec, path, &error), 0) << error;
    const auto frames = decodeFrames(path);
    ASSERT_EQ(frames.size(), 6u);
    for (const Decoded& d : frames) {
        EXPECT_EQ(d.height, 1080);
        EXPECT_TRUE(d.flat);
    }
    expectTimeline(path, 6, 30000, 1001, false);
}

TEST(FieldMovies, WithoutBFramesTheFieldsNeedNoReordering) {
    TempDir dir;
    testmovies::FieldStreamSpec spec;
    spec.bFrames = 0;
    spec.frames = 10;
    spec.gop = 5;
    EXPECT_EQ(testmovies::fieldReorderDelay(spec), 0);
    for (const auto codec : {testmovies::FieldCodec::H264, testmovies::FieldCodec::Mpeg2}) {
        spec.codec = codec;
        const std::string path = dir.file("m.ts");
        std::string error;
        ASSERT_EQ(testmovies::writeFieldMovie(spec, path, "mpegts", &error), 0) << error;
        const Packets packets = readPackets(path, false);
        ASSERT_EQ(packets.list.size(), 20u);
        for (const Packet& p : packets.list)
            EXPECT_EQ(p.pts, p.dts); // shown as soon as decoded
        expectTimeline(path, 10, 25, 1, false);
    }
}

TEST(FieldMovies, SizesAndRatesTheBitstreamsCannotCarryAreRefused) {
    TempDir dir;
    std::string error;
    const std::string path = dir.file("m.ts");
    const auto refused = [&](testmovies::FieldStreamSpec spec) {
        error.clear();
        const int rc = testmovies::writeFieldMovie(spec, path, "mpegts", &error);
        return rc != 0 && !error.empty() && !std::filesystem::exists(path);
    };
    testmovies::FieldStreamSpec spec;
    spec.width = 100;
    EXPECT_TRUE(refused(spec));
    spec = {};
    spec.height = 250;
    EXPECT_TRUE(refused(spec));
    spec.height = 240; // cropped from 256 lines in H.264; MPEG-2 fields cannot crop
    spec.codec = testmovies::FieldCodec::Mpeg2;
    EXPECT_TRUE(refused(spec));
    spec = {};
    spec.codec = testmovies::FieldCodec::Mpeg2;
    spec.fpsNum = 12;
    EXPECT_TRUE(refused(spec));
    spec = {};
    spec.frames = testmovies::kMaxIndex + 2;
    EXPECT_TRUE(refused(spec));
    EXPECT_NE(testmovies::writeFieldMovie({}, path, "no-such-muxer", &error), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

// libx264's MBAFF: each interlaced frame one picture, one packet.
TEST(FieldMovies, MbaffFramesAreOnePacketEachAndDecodeInterlaced) {
    TempDir dir;
    testmovies::FootageSpec spec;
    spec.kind = Footage::TsH264Interlaced;
    spec.frames = 30;
    const std::string path = dir.file("m.ts");
    std::string error;
    ASSERT_EQ(testmovies::makeFootage(spec, path, &error), 0) << error;
    expectTimeline(path, spec.frames, 25, 1, false);
    const Packets packets = readPackets(path);
    ASSERT_EQ(static_cast<int>(packets.list.size()), spec.frames);
    int bFrames = 0;
    for (size_t k = 0; k < packets.list.size(); ++k) {
        EXPECT_EQ(packets.list[k].structure, AV_PICTURE_STRUCTURE_FRAME);
        if (k > 0) { // a frame apart in decoding
            EXPECT_EQ(packets.list[k].dts - packets.list[k - 1].dts, 3600);
        }
    }
    for (const Decoded& d : decodeFrames(path)) {
        EXPECT_TRUE(d.interlaced && d.topFirst);
        bFrames += d.type == 'B';
    }
    EXPECT_GT(bFrames, 0);
}

struct StreamCase {
    Footage kind;
    int fpsNum;
    int fpsDen;
};

class ElementaryFootage : public testing::TestWithParam<StreamCase> {};

TEST_P(ElementaryFootage, FramesCountFromTheStreamsOwnRate) {
    const StreamCase c = GetParam();
    TempDir dir;
    testmovies::FootageSpec spec;
    spec.kind = c.kind;
    spec.frames = 50;
    spec.fpsNum = c.fpsNum;
    spec.fpsDen = c.fpsDen;
    const std::string path = dir.file(std::string("m") + testmovies::footageExtension(c.kind));
    std::string error;
    ASSERT_EQ(testmovies::makeFootage(spec, path, &error), 0) << error;
    expectTimeline(path, spec.frames, c.fpsNum, c.fpsDen, false);
    const Packets packets = readPackets(path);
    const bool hevc = c.kind == Footage::EsHevc || c.kind == Footage::EsHevcNoB;
    EXPECT_EQ(packets.format, hevc ? "hevc" : "h264");
    EXPECT_EQ(packets.list.size(), 50u);
    for (const Packet& p : packets.list)
        EXPECT_EQ(p.pts, AV_NOPTS_VALUE); // nothing but the stream's rate gives time
    int bFrames = 0;
    for (const Decoded& d : decodeFrames(path))
        bFrames += d.type == 'B';
    if (c.kind == Footage::EsH264 || c.kind == Footage::EsHevc)
        EXPECT_GT(bFrames, 10);
    else
        EXPECT_EQ(bFrames, 0);
}

std::string streamName(const testing::TestParamInfo<StreamCase>& info) {
    return std::string(testmovies::footageName(info.param.kind)) + "_" +
           std::to_string(info.param.fpsNum);
}

INSTANTIATE_TEST_SUITE_P(DashCams, ElementaryFootage,
                         testing::Values(StreamCase{Footage::EsH264, 25, 1},
                                         StreamCase{Footage::EsH264, 30000, 1001},
                                         StreamCase{Footage::EsH264NoB, 25, 1},
                                         StreamCase{Footage::EsHevc, 25, 1},
                                         StreamCase{Footage::EsHevcNoB, 30000, 1001}),
                         streamName);

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST(Damage, CutsKeepTheStartByShareOrByBytes) {
    TempDir dir;
    const std::string source = dir.file("s.bin");
    std::string error;
    ASSERT_EQ(testmovies::writeRandomBytes(source, 1000, 7, &error), 0);
    const std::string whole = slurp(source);
    ASSERT_EQ(testmovies::cutAt(source, dir.file("a"), testmovies::FilePoint::share(0.25), &error),
              0);
    EXPECT_EQ(slurp(dir.file("a")), whole.substr(0, 250));
    ASSERT_EQ(testmovies::cutAt(source, dir.file("b"), testmovies::FilePoint::offset(333), &error),
              0);
    EXPECT_EQ(slurp(dir.file("b")), whole.substr(0, 333));
    // Beyond the end is the end.
    ASSERT_EQ(testmovies::cutAt(source, dir.file("c"), testmovies::FilePoint::offset(5000), &error),
              0);
    EXPECT_EQ(slurp(dir.file("c")), whole);
    EXPECT_NE(testmovies::cutAt(dir.file("missing"), dir.file("d"),
                                testmovies::FilePoint::share(0.5), &error),
              0);
}

TEST(Damage, AStretchOfZerosTouchesNothingElse) {
    TempDir dir;
    const std::string path = dir.file("s.bin");
    std::string error;
    ASSERT_EQ(testmovies::writeRandomBytes(path, 1000, 9, &error), 0);
    const std::string before = slurp(path);
    ASSERT_EQ(testmovies::zeroStretch(path, testmovies::FilePoint::share(0.5),
                                      testmovies::FilePoint::offset(600), &error),
              0)
        << error;
    const std::string after = slurp(path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after.substr(0, 500), before.substr(0, 500));
    EXPECT_EQ(after.substr(500, 100), std::string(100, '\0'));
    EXPECT_EQ(after.substr(600), before.substr(600));
    EXPECT_NE(testmovies::zeroStretch(path, testmovies::FilePoint::offset(600),
                                      testmovies::FilePoint::offset(600), &error),
              0);
}

// In a transport stream the zeroed pictures leave every transport packet
// header in place: the demuxer still reads every field, and only the frames
// zeroed fail to decode. Coding order is I0 P3 B1 B2 P6 B4 B5 P9 B7 B8 ...;
// libavformat reads H.264 fields as packets of their own, MPEG-2 fields
// joined into frames.
TEST(Damage, ZeroedPicturesInATransportStreamLeaveTheContainerWhole) {
    for (const auto& [kind, from, to] :
         {std::tuple{Footage::TsH264Paff, 16, 20}, std::tuple{Footage::TsMpeg2Fields, 8, 10}}) {
        TempDir dir;
        testmovies::FootageSpec spec;
        spec.kind = kind;
        spec.frames = 24;
        const std::string path = dir.file("m.ts");
        std::string error;
        ASSERT_EQ(testmovies::makeFootage(spec, path, &error), 0) << error;
        const Packets before = readPackets(path, false);
        ASSERT_EQ(testmovies::zeroVideoFrames(path, from, to, &error), 0) << error;
        const Packets after = readPackets(path, false);
        ASSERT_EQ(after.list.size(), before.list.size());
        for (size_t k = 0; k < after.list.size(); ++k)
            EXPECT_EQ(after.list[k].pts, before.list[k].pts) << k;
        std::vector<int> shown;
        for (const auto& f : testmovies::decodeTimeline(path))
            shown.push_back(f.index);
        std::vector<int> want;
        for (int n = 0; n < spec.frames; ++n)
            if (n != 7 && n != 8)
                want.push_back(n);
        EXPECT_EQ(shown, want) << testmovies::footageName(kind);
    }
}

} // namespace
