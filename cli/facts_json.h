#pragma once
// A movie's facts as one line of JSON, for scripts (`--info --json`). The
// fields are described by docs/info.schema.json; unknown values are null.

#include <cstdint>
#include <string>

#include "platform/media/media_facts.h"

namespace cli {

// The object for a movie whose facts were read; `error` (when not empty) is
// added as the reason it cannot make a sheet.
std::string factsJson(const std::string& file, const media::MediaFacts& facts,
                      const std::string& error = {});
// The object for a file that could not be read at all.
std::string factsErrorJson(const std::string& file, int64_t fileSize, const std::string& error);

} // namespace cli
