#pragma once
// Interlaced movies coded as field pictures, as camcorders (AVCHD 1080i) and
// broadcasters write them: every frame is two pictures, the top field and
// then the bottom field, each its own packet with its own time, half a frame
// apart. No encoder at hand writes these (libx264 codes interlaced frames as
// one picture with field macroblocks, FFmpeg's MPEG-2 encoder frame pictures
// only), so the two small encoders here write the bitstreams themselves.
//
// They need no compression: every frame is one flat colour, the colour code
// of its index (test_movies.h), on both of its fields, so a decoder that pairs
// the wrong fields shows stripes of two colours instead of one flat frame.
// H.264 fields are made of I_PCM macroblocks (raw samples) in I, P and B
// slices (or, compact, one such macroblock a field and the rest predicted
// from it); MPEG-2 fields of intra macroblocks whose blocks carry their DC
// coefficient only. Neither predicts from another picture, yet the slices
// are typed I, P and B, the B pictures are never used as references, and
// the pictures are sent in coding order, so decoders build their reference
// lists and reorder exactly as with camera footage.
//
// Frame n is shown at n × fpsDen / fpsNum seconds from the movie's start; its
// bottom field half a frame later. Key frames start closed GOPs (an IDR in
// H.264); a key frame is an I top field and a P bottom field.

#include <cstdint>
#include <string>
#include <vector>

namespace testmovies {

enum class FieldCodec { H264, Mpeg2 };

struct FieldStreamSpec {
    FieldCodec codec = FieldCodec::H264;
    // Width a multiple of 16. Height a multiple of 32 for MPEG-2; for H.264 a
    // multiple of 4, the pictures coded 32-line aligned and the rest cropped
    // (1080 lines are coded as 1088, as cameras do).
    int width = 320;
    int height = 256;
    int fpsNum = 25; // frames a second; fields come twice as often
    int fpsDen = 1;
    int frames = 50;
    int gop = 12;    // frames from one key frame to the next
    int bFrames = 2; // B-frames between references
    // H.264: only the first macroblock of each field carries raw samples, the
    // others are predicted from it (intra 16x16, DC, no coefficients): the
    // same pictures in a few hundred bytes a field instead of 384 bytes a
    // macroblock, so that 1080 lines stay small.
    bool compact = false;
};

// One coded field picture.
struct CodedField {
    std::vector<uint8_t> data; // start-code delimited units, ready to mux
    int frame = 0;             // display index of its frame
    bool bottom = false;
    char type = 'I'; // 'I', 'P' or 'B'
    bool reference = true;
    bool key = false; // decoding may start here (the first field of a key frame)
};

// The fields in coding order, each frame's top field before its bottom field.
// H.264: every field starts with an access unit delimiter and every key frame
// with the parameter sets. MPEG-2: every key frame starts with a sequence
// header and a GOP header, and the last field ends with the sequence end.
// 0 on success; otherwise non-zero with `error` saying why.
int encodeFields(const FieldStreamSpec& spec, std::vector<CodedField>* fields, std::string* error);

// The H.264 parameter sets (SPS and PPS, Annex B), which containers that keep
// them apart from the pictures (Matroska) need.
std::vector<uint8_t> h264ParameterSets(const FieldStreamSpec& spec);

// Frames a picture may wait for the ones shown before it: 1 with B-frames.
int fieldReorderDelay(const FieldStreamSpec& spec);

// Writes the fields with libavformat, one packet per field. `muxer` is a
// libavformat muxer name: "mpegts" (each field its own PES packet), "m2ts"
// (the same with the 192-byte packets of AVCHD's .mts and Blu-ray), "matroska",
// or the raw "h264" / "mpeg2video" elementary streams. Field k in coding
// order is decoded at k/2 frames and the top field of frame n is shown at
// n + delay frames, the bottom field half a frame after it. Matroska counts
// from the first picture shown instead, and states a frame's length as its
// default duration while its blocks are fields, as FFmpeg's remuxing of
// camcorder files writes it.
int writeFieldMovie(const FieldStreamSpec& spec, const std::string& path, const std::string& muxer,
                    std::string* error);

} // namespace testmovies
