#include "platform/media/errors.h"

#include <cstdio>

extern "C" {
#include <libavutil/error.h>
}

namespace media {

Result cancelledResult() {
    return Result::cancelled("The operation was cancelled.");
}

Result notRegularFileResult() {
    return Result::failure(ResultCode::NotRegularFile,
                           "This is not a regular file (a pipe, a device, a socket or a URL): "
                           "Stillwick reads movies from files.");
}

Result noVideoResult() {
    return Result::failure(ResultCode::NoVideo, "The file has no video stream.");
}

Result noDecoderResult() {
    return Result::failure(ResultCode::NoDecoder,
                           "No decoder is available for the video of this file.");
}

Result badVideoSizeResult() {
    return Result::failure(ResultCode::BadVideo,
                           "The video does not say how large its pictures are: the file is "
                           "damaged or its video cannot be decoded.");
}

Result noConversionResult() {
    return Result::failure(ResultCode::BadVideo,
                           "The pictures of this video cannot be converted to RGB: its pixel "
                           "format is unknown or not supported.");
}

Result notSeekableResult() {
    return Result::failure(ResultCode::Damaged, "The file cannot be sought.");
}

Result outOfMemoryResult() {
    return Result::failure(ResultCode::TooLarge, "Not enough memory.");
}

Result unspecifiedResult() {
    return Result::failure(ResultCode::Failed, "Unspecified error.");
}

Result avResult(int error) {
    if (error >= 0)
        return Result::success();
    if (error == AVERROR_EXIT)
        return cancelledResult();
    // FFmpeg knows its own codes (negated errno values and four-letter tags)
    // and says so; for anything else it only makes up a number.
    char buffer[AV_ERROR_MAX_STRING_SIZE * 2] = {};
    const bool known = av_strerror(error, buffer, sizeof buffer) == 0 && buffer[0];
    // The codes real files end in, said the way a user can act on; FFmpeg's
    // own words follow where they name the particular trouble.
    const std::string own = known ? std::string(" (FFmpeg: ") + buffer + ")" : "";
    switch (error) {
    case AVERROR_EOF:
        return Result::failure(ResultCode::Damaged,
                               "The file ends before its first picture: it is cut short or empty.");
    case AVERROR_INVALIDDATA:
        return Result::failure(ResultCode::CannotOpen,
                               "The file is damaged, or it is not a movie the installed FFmpeg "
                               "libraries can read.");
    case AVERROR_DECODER_NOT_FOUND:
        return Result::failure(ResultCode::NoDecoder,
                               "The installed FFmpeg libraries cannot read this kind of movie" +
                                   own + ".");
    case AVERROR_DEMUXER_NOT_FOUND:
        return Result::failure(ResultCode::CannotOpen,
                               "The installed FFmpeg libraries cannot read this kind of movie" +
                                   own + ".");
    case AVERROR_PATCHWELCOME:
    case AVERROR(ENOSYS):
        return Result::failure(ResultCode::NoDecoder,
                               "This movie uses a feature the installed FFmpeg libraries do not "
                               "support" +
                                   own + ".");
    case AVERROR(EACCES):
    case AVERROR(EPERM):
        return Result::failure(ResultCode::CannotOpen,
                               "The file cannot be read: permission denied.");
    case AVERROR(EISDIR):
        return Result::failure(ResultCode::CannotOpen, "This is a folder, not a movie file.");
    case AVERROR(ENOMEM):
        return outOfMemoryResult();
    case AVERROR(EIO):
        return Result::failure(ResultCode::CannotOpen,
                               "The file could not be read from its disk" + own + ".");
    default:
        break;
    }
    if (known)
        return Result::failure(ResultCode::CannotOpen, std::string(buffer) + ".");
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(error));
    return Result::failure(ResultCode::Failed, std::string("Unknown error ") + hex + ".");
}

} // namespace media
