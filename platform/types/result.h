#pragma once
// The one way an operation says how it went, from the media core up to both
// front ends: a code a caller can act on, with the sentence a user reads.
//
// A success carries no text. A failure always has one, written where the
// failure is understood best; callers up the chain may put a hint after it
// but never replace it. Being stopped is a kind of its own, so that nobody
// has to recognise it by its words.
//
// Ownership: a plain value.

#include <string>
#include <utility>

enum class ResultCode {
    Ok = 0,
    Cancelled,      // the stop flag was set, or a caller asked to stop
    NotRegularFile, // a pipe, a device, a socket or another protocol
    CannotOpen,     // the file is missing, unreadable or of no known kind
    NoVideo,        // the file holds no moving pictures
    NoDecoder,      // the installed libraries cannot decode its video
    BadVideo,       // the video's size or pictures cannot be had
    Damaged,        // the data is broken where it was needed
    TooLarge,       // the machine cannot hold what this would need
    Invalid,        // an argument or a setting no result can be made with
    WriteFailed,    // a file could not be written
    Failed,         // anything else
};

class [[nodiscard]] Result {
public:
    Result() = default;
    static Result success() { return Result(); }
    static Result failure(ResultCode code, std::string text) {
        Result r;
        r.code_ = code == ResultCode::Ok ? ResultCode::Failed : code;
        r.text_ = std::move(text);
        return r;
    }
    static Result cancelled(std::string text) {
        return failure(ResultCode::Cancelled, std::move(text));
    }

    bool ok() const { return code_ == ResultCode::Ok; }
    bool isCancelled() const { return code_ == ResultCode::Cancelled; }
    ResultCode code() const { return code_; }
    const std::string& text() const { return text_; }

    // The same failure with a hint appended to its text.
    Result withHint(const char* hint) const {
        Result r = *this;
        if (!r.ok() && hint)
            r.text_ += hint;
        return r;
    }

private:
    ResultCode code_ = ResultCode::Ok;
    std::string text_;
};
