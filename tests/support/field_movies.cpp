#include "tests/support/field_movies.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <memory>

#include "tests/support/bit_writer.h"
#include "tests/support/test_movies.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace testmovies {

namespace {

struct Ycc {
    uint8_t y, cb, cr;
};

// The frame's colour code in BT.601 limited range, the matrix readers apply
// to these pictures (they say so in their headers).
Ycc codeColour(int index) {
    uint8_t r8, g8, b8;
    colorForIndex(index, &r8, &g8, &b8);
    const double r = r8, g = g8, b = b8;
    const auto level = [](double v) {
        return static_cast<uint8_t>(std::clamp<long>(std::lround(v), 1, 254));
    };
    return Ycc{level(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255),
               level(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255),
               level(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255)};
}

// A frame of the plan: its display index and its picture type.
struct PlannedFrame {
    int frame;
    char type;
    int gopStart; // display index of the key frame of its GOP
};

// Closed GOPs of `gop` frames: I, then a P every bFrames + 1 frames with B
// between; the last frame of a GOP (and of the movie) is a P, so every B has
// both its references inside its GOP. Returned in coding order: each
// reference, then the B-frames shown before it.
std::vector<PlannedFrame> planFrames(const FieldStreamSpec& spec) {
    std::vector<char> types(static_cast<size_t>(spec.frames), 'B');
    for (int start = 0; start < spec.frames; start += spec.gop) {
        const int end = std::min(start + spec.gop, spec.frames);
        for (int n = start; n < end; ++n)
            types[n] = n == start ? 'I' : (n - start) % (spec.bFrames + 1) == 0 ? 'P' : 'B';
        if (types[end - 1] == 'B')
            types[end - 1] = 'P';
    }
    std::vector<PlannedFrame> order;
    std::vector<PlannedFrame> waiting;
    for (int n = 0; n < spec.frames; ++n) {
        const PlannedFrame f{n, types[n], n - n % spec.gop};
        if (f.type == 'B') {
            waiting.push_back(f);
            continue;
        }
        order.push_back(f);
        order.insert(order.end(), waiting.begin(), waiting.end());
        waiting.clear();
    }
    return order;
}

int checkSpec(const FieldStreamSpec& spec, std::string* error) {
    const auto fail = [&](const char* why) {
        *error = why;
        return -1;
    };
    if (spec.width <= 0 || spec.width % 16 != 0 || spec.width > 4080)
        return fail("the width must be a multiple of 16 up to 4080");
    if (spec.codec == FieldCodec::Mpeg2 && (spec.height <= 0 || spec.height % 32 != 0))
        return fail("MPEG-2 fields need a height that is a multiple of 32");
    if (spec.height <= 0 || spec.height % 4 != 0 || spec.height > 4064)
        return fail("the height must be a multiple of 4 up to 4064");
    if (spec.fpsNum <= 0 || spec.fpsDen <= 0 || spec.frames <= 0 || spec.gop <= 0 ||
        spec.bFrames < 0)
        return fail("bad frame rate, frame count or GOP");
    if (spec.frames > kMaxIndex + 1)
        return fail("more frames than the colour code can tell apart");
    if (spec.gop > 4000)
        return fail("a GOP of more than 4000 frames");
    return 0;
}

// ---------------------------------------------------------------- H.264

namespace h264 {

constexpr int kLog2MaxFrameNum = 8;

// Bits of the picture order count's low part: room for twice the largest
// step between a reference and the pictures after it.
int log2MaxPocLsb(const FieldStreamSpec& spec) {
    return std::clamp(static_cast<int>(std::bit_width(static_cast<unsigned>(4 * spec.gop + 4))), 4,
                      16);
}

int codedHeight(const FieldStreamSpec& spec) {
    return (spec.height + 31) / 32 * 32;
}

void appendNal(std::vector<uint8_t>& out, int refIdc, int type, const std::vector<uint8_t>& rbsp) {
    out.insert(out.end(), {0, 0, 0, 1, static_cast<uint8_t>(refIdc << 5 | type)});
    // Emulation prevention: no 00 00 0x inside a unit may look like a start.
    int zeros = 0;
    for (const uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
}

std::vector<uint8_t> sps(const FieldStreamSpec& spec) {
    BitWriter w;
    w.bits(77, 8); // Main profile: interlaced coding and B slices with CAVLC
    w.bits(0, 8);  // constraint flags, reserved bits
    w.bits(40, 8); // level 4, where 1080i lives
    w.ue(0);       // seq_parameter_set_id
    w.ue(kLog2MaxFrameNum - 4);
    w.ue(0); // pic_order_cnt_type 0: every slice states its order
    w.ue(static_cast<uint32_t>(log2MaxPocLsb(spec) - 4));
    w.ue(2); // max_num_ref_frames: the two references around B-frames
    w.bit(0);
    w.ue(static_cast<uint32_t>(spec.width / 16 - 1));
    w.ue(static_cast<uint32_t>(codedHeight(spec) / 32 - 1)); // map units: field macroblock rows
    w.bit(0);                                                // frame_mbs_only_flag: fields
    w.bit(0);                                                // no MBAFF
    w.bit(1);                                                // direct_8x8_inference_flag
    const int crop = (codedHeight(spec) - spec.height) / 4;  // in 4-line units for fields
    w.bit(crop > 0);
    if (crop > 0) {
        w.ue(0);
        w.ue(0);
        w.ue(0);
        w.ue(static_cast<uint32_t>(crop));
    }
    w.bit(1); // VUI
    w.bit(0); // aspect ratio
    w.bit(0); // overscan
    w.bit(1); // video signal type
    w.bits(5, 3);
    w.bit(0); // limited range
    w.bit(1); // colour description: BT.601, as the samples are made
    w.bits(6, 8);
    w.bits(6, 8);
    w.bits(6, 8);
    w.bit(0); // chroma location
    w.bit(1); // timing: a tick is a field
    w.bits(static_cast<uint32_t>(spec.fpsDen), 32);
    w.bits(static_cast<uint32_t>(2 * spec.fpsNum), 32);
    w.bit(1); // fixed frame rate
    w.bit(0); // NAL HRD
    w.bit(0); // VCL HRD
    w.bit(0); // pic_struct_present_flag
    // The reordering stated, so decoders hold back no more than needed.
    w.bit(1);
    w.bit(1);
    w.ue(0);
    w.ue(0);
    w.ue(16);
    w.ue(16);
    w.ue(static_cast<uint32_t>(fieldReorderDelay(spec)));
    w.ue(3); // max_dec_frame_buffering
    w.trailingBits();
    return w.bytes();
}

std::vector<uint8_t> pps() {
    BitWriter w;
    w.ue(0);  // pic_parameter_set_id
    w.ue(0);  // seq_parameter_set_id
    w.bit(0); // CAVLC
    w.bit(0); // no bottom-field order in frame pictures
    w.ue(0);  // one slice group
    w.ue(0);  // num_ref_idx_l0_default_active_minus1
    w.ue(0);  // l1
    w.bit(0); // weighted prediction
    w.bits(0, 2);
    w.se(0);  // pic_init_qp_minus26
    w.se(0);  // pic_init_qs_minus26
    w.se(0);  // chroma_qp_index_offset
    w.bit(1); // deblocking_filter_control_present_flag: the slices turn the filter off
    w.bit(0); // constrained_intra_pred_flag
    w.bit(0); // redundant_pic_cnt_present_flag
    w.trailingBits();
    return w.bytes();
}

struct FieldSlice {
    bool idr;
    bool bottom;
    char type;
    int refIdc;
    int frameNum;
    int poc;
    int idrPicId;
};

std::vector<uint8_t> slice(const FieldStreamSpec& spec, const FieldSlice& s, const Ycc& colour) {
    BitWriter w;
    w.ue(0); // first_mb_in_slice
    w.ue(s.type == 'P' ? 5 : s.type == 'B' ? 6 : 7);
    w.ue(0); // pic_parameter_set_id
    w.bits(static_cast<uint32_t>(s.frameNum), kLog2MaxFrameNum);
    w.bit(1); // field_pic_flag
    w.bit(s.bottom);
    if (s.idr)
        w.ue(static_cast<uint32_t>(s.idrPicId));
    w.bits(static_cast<uint32_t>(s.poc), log2MaxPocLsb(spec));
    if (s.type == 'B')
        w.bit(1); // direct_spatial_mv_pred_flag
    if (s.type != 'I') {
        // One reference field a list: the default for field slices would be
        // two, more than the second field of a key frame has.
        w.bit(1);
        w.ue(0);
        if (s.type == 'B')
            w.ue(0);
        w.bit(0); // ref_pic_list_modification_flag_l0
        if (s.type == 'B')
            w.bit(0);
    }
    if (s.refIdc != 0) {
        if (s.idr) {
            w.bit(0); // no_output_of_prior_pics_flag
            w.bit(0); // long_term_reference_flag
        } else {
            w.bit(0); // sliding window
        }
    }
    w.se(0); // slice_qp_delta
    w.ue(1); // disable_deblocking_filter_idc
    const int columns = spec.width / 16;
    const int mbs = columns * (codedHeight(spec) / 32);
    // mb_type counts on from the inter types in P and B slices.
    const uint32_t intraBase = s.type == 'I' ? 0 : s.type == 'P' ? 5 : 23;
    for (int mb = 0; mb < mbs; ++mb) {
        if (s.type != 'I')
            w.ue(0); // mb_skip_run
        if (mb == 0 || !spec.compact) {
            w.ue(intraBase + 25); // I_PCM
            w.alignWithZeros();
            for (int i = 0; i < 256; ++i)
                w.byte(colour.y);
            for (int i = 0; i < 64; ++i)
                w.byte(colour.cb);
            for (int i = 0; i < 64; ++i)
                w.byte(colour.cr);
            continue;
        }
        // Intra 16x16, DC prediction, no coefficients: the mean of the
        // samples above and to the left, which in a flat field is its colour.
        w.ue(intraBase + 3);
        w.ue(0); // intra_chroma_pred_mode: DC
        w.se(0); // mb_qp_delta
        // The luma DC block's coeff_token for no coefficients. Its table
        // follows the coefficients of the blocks left and above, which only
        // the raw first macroblock has (counted as 16).
        const int x = mb % columns, y = mb / columns;
        const int left = x == 0 ? -1 : (x == 1 && y == 0) ? 16 : 0;
        const int above = y == 0 ? -1 : (y == 1 && x == 0) ? 16 : 0;
        const int nC = left >= 0 && above >= 0 ? (left + above + 1) >> 1 : std::max(left, above);
        if (nC >= 8)
            w.bits(3, 6);
        else if (nC >= 4)
            w.bits(15, 4);
        else if (nC >= 2)
            w.bits(3, 2);
        else
            w.bit(1);
    }
    w.trailingBits();
    return w.bytes();
}

void encode(const FieldStreamSpec& spec, std::vector<CodedField>* fields) {
    const std::vector<uint8_t> parameterSets = h264ParameterSets(spec);
    const int pocModulus = 1 << log2MaxPocLsb(spec);
    int prevRefFrameNum = 0;
    int idrCount = 0;
    for (const PlannedFrame& f : planFrames(spec)) {
        const bool keyFrame = f.type == 'I';
        const int frameNum = keyFrame ? 0 : (prevRefFrameNum + 1) % (1 << kLog2MaxFrameNum);
        const Ycc colour = codeColour(f.frame);
        for (const bool bottom : {false, true}) {
            CodedField field;
            field.frame = f.frame;
            field.bottom = bottom;
            field.type = keyFrame && bottom ? 'P' : f.type;
            field.reference = f.type != 'B';
            field.key = keyFrame && !bottom;
            const uint8_t delimiter = field.type == 'I' ? 0x10 : field.type == 'P' ? 0x30 : 0x50;
            appendNal(field.data, 0, 9, {delimiter});
            if (field.key)
                field.data.insert(field.data.end(), parameterSets.begin(), parameterSets.end());
            const FieldSlice s{
                .idr = field.key,
                .bottom = bottom,
                .type = field.type,
                .refIdc = field.reference ? 2 : 0,
                .frameNum = frameNum,
                .poc = (2 * (f.frame - f.gopStart) + (bottom ? 1 : 0)) % pocModulus,
                .idrPicId = idrCount % 65536,
            };
            appendNal(field.data, s.refIdc, s.idr ? 5 : 1, slice(spec, s, colour));
            fields->push_back(std::move(field));
        }
        if (keyFrame)
            ++idrCount;
        if (f.type != 'B')
            prevRefFrameNum = frameNum;
    }
}

} // namespace h264

// ---------------------------------------------------------------- MPEG-2

namespace mpeg2 {

int frameRateCode(int num, int den) {
    static const int rates[][2] = {{24000, 1001}, {24, 1}, {25, 1},       {30000, 1001},
                                   {30, 1},       {50, 1}, {60000, 1001}, {60, 1}};
    for (int i = 0; i < 8; ++i)
        if (static_cast<int64_t>(num) * rates[i][1] == static_cast<int64_t>(rates[i][0]) * den)
            return i + 1;
    return 0;
}

void sequenceHeader(BitWriter& w, const FieldStreamSpec& spec) {
    w.startCode(0xB3);
    w.bits(static_cast<uint32_t>(spec.width), 12);
    w.bits(static_cast<uint32_t>(spec.height), 12);
    w.bits(1, 4); // square samples
    w.bits(static_cast<uint32_t>(frameRateCode(spec.fpsNum, spec.fpsDen)), 4);
    w.bits(15000000 / 400, 18); // bit rate, 400 bit/s units
    w.bit(1);
    w.bits(112, 10); // VBV buffer, 16 kbit units
    w.bit(0);        // constrained_parameters_flag
    w.bit(0);        // default intra matrix
    w.bit(0);        // default non-intra matrix
    // Sequence extension.
    w.startCode(0xB5);
    w.bits(1, 4);
    const bool mainLevel = spec.width <= 720 && spec.height <= 576;
    w.bits(mainLevel ? 0x48 : 0x44, 8); // Main profile at Main or High level
    w.bit(0);                           // interlaced sequence
    w.bits(1, 2);                       // 4:2:0
    w.bits(0, 2);
    w.bits(0, 2);
    w.bits(0, 12);
    w.bit(1);
    w.bits(0, 8);
    w.bit(0); // low_delay: there are B pictures
    w.bits(0, 2);
    w.bits(0, 5);
}

void gopHeader(BitWriter& w, const FieldStreamSpec& spec, int frame) {
    const int64_t seconds = static_cast<int64_t>(frame) * spec.fpsDen / spec.fpsNum;
    const int64_t rest = frame - seconds * spec.fpsNum / spec.fpsDen;
    w.startCode(0xB8);
    w.bit(0); // no drop frame
    w.bits(static_cast<uint64_t>(seconds / 3600 % 24), 5);
    w.bits(static_cast<uint64_t>(seconds / 60 % 60), 6);
    w.bit(1);
    w.bits(static_cast<uint64_t>(seconds % 60), 6);
    w.bits(static_cast<uint64_t>(std::clamp<int64_t>(rest, 0, 59)), 6);
    w.bit(1); // closed GOP
    w.bit(0); // broken link
}

// dct_dc_size codes (ISO 13818-2 tables B-12 and B-13) as value and length.
const uint16_t kLumaDcCode[12][2] = {{4, 3},  {0, 2},  {1, 2},   {5, 3},   {6, 3},   {14, 4},
                                     {30, 5}, {62, 6}, {126, 7}, {254, 8}, {510, 9}, {511, 9}};
const uint16_t kChromaDcCode[12][2] = {{0, 2},   {1, 2},   {2, 2},     {6, 3},
                                       {14, 4},  {30, 5},  {62, 6},    {126, 7},
                                       {254, 8}, {510, 9}, {1022, 10}, {1023, 10}};

void intraBlock(BitWriter& w, bool luma, int value, int* predictor) {
    const int diff = value - *predictor;
    *predictor = value;
    const int size = std::bit_width(static_cast<unsigned>(std::abs(diff)));
    const uint16_t* code = luma ? kLumaDcCode[size] : kChromaDcCode[size];
    w.bits(code[0], code[1]);
    if (size > 0)
        w.bits(static_cast<uint32_t>(diff > 0 ? diff : diff + (1 << size) - 1), size);
    w.bits(2, 2); // end of block: no AC coefficient
}

std::vector<uint8_t> picture(const FieldStreamSpec& spec, const PlannedFrame& f, bool bottom,
                             char type, bool withHeaders, const Ycc& colour) {
    BitWriter w;
    if (withHeaders) {
        sequenceHeader(w, spec);
        gopHeader(w, spec, f.frame);
    }
    w.startCode(0x00);
    w.bits(static_cast<uint32_t>(f.frame - f.gopStart) % 1024, 10); // temporal_reference
    w.bits(type == 'I' ? 1 : type == 'P' ? 2 : 3, 3);
    w.bits(0xFFFF, 16); // vbv_delay: variable rate
    if (type != 'I') {
        w.bit(0);
        w.bits(7, 3); // forward f_code lives in the extension
    }
    if (type == 'B') {
        w.bit(0);
        w.bits(7, 3);
    }
    w.bit(0); // extra_bit_picture
    // Picture coding extension.
    w.startCode(0xB5);
    w.bits(8, 4);
    w.bits(type != 'I' ? 1 : 15, 4);
    w.bits(type != 'I' ? 1 : 15, 4);
    w.bits(type == 'B' ? 1 : 15, 4);
    w.bits(type == 'B' ? 1 : 15, 4);
    w.bits(0, 2);              // intra_dc_precision: 8 bits
    w.bits(bottom ? 2 : 1, 2); // picture_structure
    w.bit(0);                  // top_field_first: 0 in field pictures
    w.bit(0);                  // frame_pred_frame_dct: 0 in field pictures
    w.bit(0);                  // concealment_motion_vectors
    w.bit(0);                  // q_scale_type
    w.bit(0);                  // intra_vlc_format
    w.bit(0);                  // alternate_scan
    w.bit(0);                  // repeat_first_field
    w.bit(0);                  // chroma_420_type
    w.bit(0);                  // progressive_frame
    w.bit(0);                  // composite_display_flag
    const int columns = spec.width / 16;
    const int rows = spec.height / 32;
    for (int row = 0; row < rows; ++row) {
        w.startCode(static_cast<uint8_t>(row + 1));
        w.bits(8, 5); // quantiser_scale_code (the DC ignores it)
        w.bit(0);
        int predictor[3] = {128, 128, 128}; // reset at every slice
        for (int column = 0; column < columns; ++column) {
            w.bit(1); // macroblock_address_increment 1
            if (type == 'I')
                w.bit(1); // intra
            else
                w.bits(3, 5); // intra in P and B pictures: 00011
            for (int block = 0; block < 4; ++block)
                intraBlock(w, true, colour.y, &predictor[0]);
            intraBlock(w, false, colour.cb, &predictor[1]);
            intraBlock(w, false, colour.cr, &predictor[2]);
        }
    }
    w.alignWithZeros();
    return w.bytes();
}

void encode(const FieldStreamSpec& spec, std::vector<CodedField>* fields) {
    for (const PlannedFrame& f : planFrames(spec)) {
        const Ycc colour = codeColour(f.frame);
        for (const bool bottom : {false, true}) {
            CodedField field;
            field.frame = f.frame;
            field.bottom = bottom;
            field.type = f.type == 'I' && bottom ? 'P' : f.type;
            field.reference = f.type != 'B';
            field.key = f.type == 'I' && !bottom;
            field.data = picture(spec, f, bottom, field.type, field.key, colour);
            fields->push_back(std::move(field));
        }
    }
    if (!fields->empty())
        fields->back().data.insert(fields->back().data.end(), {0, 0, 1, 0xB7});
}

} // namespace mpeg2

struct OutputDeleter {
    void operator()(AVFormatContext* f) const {
        if (f->pb && !(f->oformat->flags & AVFMT_NOFILE))
            avio_closep(&f->pb);
        avformat_free_context(f);
    }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct DictionaryDeleter {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};

std::string averrorText(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return buffer;
}

} // namespace

int fieldReorderDelay(const FieldStreamSpec& spec) {
    if (spec.frames <= 0 || spec.gop <= 0 || spec.bFrames < 0)
        return 0;
    for (const PlannedFrame& f : planFrames(spec))
        if (f.type == 'B')
            return 1;
    return 0;
}

std::vector<uint8_t> h264ParameterSets(const FieldStreamSpec& spec) {
    std::vector<uint8_t> out;
    h264::appendNal(out, 3, 7, h264::sps(spec));
    h264::appendNal(out, 3, 8, h264::pps());
    return out;
}

int encodeFields(const FieldStreamSpec& spec, std::vector<CodedField>* fields, std::string* error) {
    std::string ignored;
    if (!error)
        error = &ignored;
    if (checkSpec(spec, error) != 0)
        return -1;
    if (spec.codec == FieldCodec::Mpeg2 && mpeg2::frameRateCode(spec.fpsNum, spec.fpsDen) == 0) {
        *error = "MPEG-2 has no code for this frame rate";
        return -1;
    }
    fields->clear();
    if (spec.codec == FieldCodec::H264)
        h264::encode(spec, fields);
    else
        mpeg2::encode(spec, fields);
    return 0;
}

int writeFieldMovie(const FieldStreamSpec& spec, const std::string& path, const std::string& muxer,
                    std::string* error) {
    std::string ignored;
    if (!error)
        error = &ignored;
    std::vector<CodedField> fields;
    if (encodeFields(spec, &fields, error) != 0) {
        *error = path + ": " + *error;
        return -1;
    }
    bool created = false;
    const auto fail = [&](const std::string& what, int code) {
        *error = path + ": " + what + (code < 0 ? ": " + averrorText(code) : std::string());
        // No half-written movie for a test to trip over.
        if (created)
            std::remove(path.c_str());
        return -1;
    };
    const bool m2ts = muxer == "m2ts";
    AVFormatContext* raw = nullptr;
    int rc = avformat_alloc_output_context2(&raw, nullptr, m2ts ? "mpegts" : muxer.c_str(),
                                            path.c_str());
    if (rc < 0 || !raw)
        return fail("no muxer " + muxer, rc);
    const std::unique_ptr<AVFormatContext, OutputDeleter> out(raw);
    AVStream* st = avformat_new_stream(out.get(), nullptr);
    if (!st)
        return fail("no memory", 0);
    // A tick is one field.
    const AVRational fieldTime{spec.fpsDen, 2 * spec.fpsNum};
    st->time_base = fieldTime;
    st->avg_frame_rate = AVRational{spec.fpsNum, spec.fpsDen};
    AVCodecParameters* par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = spec.codec == FieldCodec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG2VIDEO;
    par->width = spec.width;
    par->height = spec.height;
    par->format = AV_PIX_FMT_YUV420P;
    par->field_order = AV_FIELD_TT;
    par->color_space = AVCOL_SPC_SMPTE170M;
    par->color_primaries = AVCOL_PRI_SMPTE170M;
    par->color_trc = AVCOL_TRC_SMPTE170M;
    par->color_range = AVCOL_RANGE_MPEG;
    if (spec.codec == FieldCodec::H264) {
        const std::vector<uint8_t> sets = h264ParameterSets(spec);
        par->extradata =
            static_cast<uint8_t*>(av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata)
            return fail("no memory", 0);
        std::copy(sets.begin(), sets.end(), par->extradata);
        par->extradata_size = static_cast<int>(sets.size());
    }
    if (!(out->oformat->flags & AVFMT_NOFILE)) {
        rc = avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (rc < 0)
            return fail("cannot create the file", rc);
        created = true;
    }
    AVDictionary* rawOptions = nullptr;
    if (m2ts)
        av_dict_set(&rawOptions, "mpegts_m2ts_mode", "1", 0);
    rc = avformat_write_header(out.get(), &rawOptions);
    const std::unique_ptr<AVDictionary, DictionaryDeleter> options(rawOptions);
    if (rc < 0)
        return fail("cannot write the header", rc);

    const std::unique_ptr<AVPacket, PacketDeleter> pkt(av_packet_alloc());
    if (!pkt)
        return fail("no memory", 0);
    const int delay = fieldReorderDelay(spec);
    // Matroska files start showing at 0, as FFmpeg writes them; the
    // pictures decoded before the first one shown get negative times.
    const int64_t shift = muxer == "matroska" ? -2 * delay : 0;
    for (size_t k = 0; k < fields.size(); ++k) {
        const CodedField& f = fields[k];
        rc = av_new_packet(pkt.get(), static_cast<int>(f.data.size()));
        if (rc < 0)
            return fail("no memory", rc);
        std::copy(f.data.begin(), f.data.end(), pkt->data);
        pkt->stream_index = st->index;
        pkt->dts = static_cast<int64_t>(k) + shift;
        pkt->pts = 2 * static_cast<int64_t>(f.frame + delay) + (f.bottom ? 1 : 0) + shift;
        pkt->duration = 1;
        pkt->flags = f.key ? AV_PKT_FLAG_KEY : 0;
        av_packet_rescale_ts(pkt.get(), fieldTime, st->time_base);
        rc = av_write_frame(out.get(), pkt.get());
        av_packet_unref(pkt.get());
        if (rc < 0)
            return fail("cannot write a field", rc);
    }
    rc = av_write_trailer(out.get());
    if (rc < 0)
        return fail("cannot finish the file", rc);
    return 0;
}

} // namespace testmovies
