// Failures whose reason is an errno. One family for the whole platform layer, so a caller
// can always ask for the reason (code()) beside the text the operator sees (what()).
#pragma once

#include <cerrno>
#include <string>
#include <system_error>

namespace tc::platform {

class SystemError : public std::system_error {
public:
    // `what` names the operation and its object ("open /dev/ttyS0"); what() adds the
    // system's reason: "open /dev/ttyS0: No such file or directory".
    SystemError(int error, const std::string& what)
        : std::system_error(error, std::generic_category(), what) {}
    int error() const noexcept { return code().value(); }
};

// Throws SystemError for the errno that the failed call just left.
[[noreturn]] inline void throwErrno(const std::string& what) {
    throw SystemError(errno, what);
}

// The system's text for an errno ("No such file or directory").
inline std::string errnoText(int error) {
    return std::generic_category().message(error);
}

}  // namespace tc::platform
