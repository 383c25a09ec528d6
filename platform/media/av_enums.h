#pragma once
// The colour fields FFmpeg fills in from a file. They are enums, but a
// demuxer or decoder may store whatever number the file holds (an MPEG-4
// part 2 header's transfer byte goes in unchecked), and loading a number that
// is no value of the enum as the enum is undefined. These read the field's
// bytes as a number and give it back as the enum only when it lies within
// the enum's values; anything else reads as unspecified.

#include <cstring>
#include <type_traits>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace media::detail {

template <typename Enum> Enum checkedEnum(const Enum& field, int end, Enum unspecified) {
    std::underlying_type_t<Enum> raw;
    std::memcpy(&raw, &field, sizeof raw);
    const auto value = static_cast<long long>(raw);
    return value >= 0 && value < end ? static_cast<Enum>(value) : unspecified;
}

inline AVColorTransferCharacteristic transferOf(const AVColorTransferCharacteristic& field) {
    return checkedEnum(field, AVCOL_TRC_NB, AVCOL_TRC_UNSPECIFIED);
}
inline AVColorPrimaries primariesOf(const AVColorPrimaries& field) {
    return checkedEnum(field, AVCOL_PRI_NB, AVCOL_PRI_UNSPECIFIED);
}
inline AVColorSpace matrixOf(const AVColorSpace& field) {
    return checkedEnum(field, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
}
inline AVColorRange rangeOf(const AVColorRange& field) {
    return checkedEnum(field, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
}

} // namespace media::detail
