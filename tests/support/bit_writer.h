#pragma once
// Bits written most significant first, as H.264 and MPEG-2 headers are laid
// out, with the Exp-Golomb codes H.264 uses for most of its fields.

#include <bit>
#include <cstdint>
#include <vector>

namespace testmovies {

class BitWriter {
public:
    void bit(unsigned value) {
        current_ = static_cast<uint8_t>((current_ << 1) | (value & 1));
        if (++filled_ == 8) {
            bytes_.push_back(current_);
            current_ = 0;
            filled_ = 0;
        }
    }
    // The low `count` bits of `value` (count up to 64).
    void bits(uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i)
            bit(static_cast<unsigned>(value >> i) & 1);
    }
    // Unsigned Exp-Golomb: as many zeros as the code has bits after the first.
    void ue(uint32_t value) {
        const uint64_t code = static_cast<uint64_t>(value) + 1;
        const int length = std::bit_width(code);
        bits(0, length - 1);
        bits(code, length);
    }
    // Signed Exp-Golomb: 1, -1, 2, -2, ... map to 1, 2, 3, 4, ...
    void se(int32_t value) {
        const int64_t v = value;
        ue(static_cast<uint32_t>(v > 0 ? 2 * v - 1 : -2 * v));
    }
    void alignWithZeros() {
        while (filled_ != 0)
            bit(0);
    }
    // H.264's rbsp_trailing_bits: a stop bit, then zeros to the byte.
    void trailingBits() {
        bit(1);
        alignWithZeros();
    }
    bool aligned() const { return filled_ == 0; }
    // A whole byte; callers align first, so raw samples go in untouched.
    void byte(uint8_t value) {
        if (filled_ == 0)
            bytes_.push_back(value);
        else
            bits(value, 8);
    }
    // An MPEG start code: byte-aligned 00 00 01 and the code.
    void startCode(uint8_t code) {
        alignWithZeros();
        bytes_.insert(bytes_.end(), {0, 0, 1, code});
    }
    // The bytes so far; a partial last byte is left out.
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    uint8_t current_ = 0;
    int filled_ = 0;
};

} // namespace testmovies
