#pragma once
// The media core's failures as results: the sentence for each, and FFmpeg's
// own error codes said the way a user can act on them.

#include <string>

#include "platform/types/result.h"

namespace media {

Result cancelledResult();
Result notRegularFileResult();
Result noVideoResult();
Result noDecoderResult();
Result badVideoSizeResult();
Result noConversionResult();
Result notSeekableResult();
Result outOfMemoryResult();
Result unspecifiedResult();

// An FFmpeg error code (negative) as a result with a readable text.
Result avResult(int error);

} // namespace media
