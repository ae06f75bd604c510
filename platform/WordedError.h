// A failure of the errno family whose text is worded for whoever reads it (the error box,
// a station, the debug log) rather than the library's "<what>: <reason>". The reason stays
// available as code() and error() all the same.
#pragma once

#include <memory>
#include <string>

#include "platform/Error.h"

namespace tc::platform {

class WordedError : public SystemError {
public:
    // `error` 0 says that no call failed (a mismatch found by the program itself).
    WordedError(int error, std::string text)
        : SystemError(error, text), text_(std::make_shared<const std::string>(std::move(text))) {}
    const char* what() const noexcept override { return text_->c_str(); }

private:
    // Shared, so copying the exception (as throw and catch may) cannot fail.
    std::shared_ptr<const std::string> text_;
};

}  // namespace tc::platform
