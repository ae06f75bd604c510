#include "platform/StateDir.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace tc::platform {

bool folderWritable(const std::filesystem::path& folder) {
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::filesystem::path userStateFolder(const std::string& program, const char* xdgStateHome,
                                      const char* home) {
    // A relative XDG_STATE_HOME is not a usable base and is ignored, as desktops do.
    if (xdgStateHome && *xdgStateHome == '/') return std::filesystem::path(xdgStateHome) / program;
    std::filesystem::path base;
    if (home && *home) {
        base = home;
    } else if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir) {
        base = pw->pw_dir;
    } else {
        base = "/";
    }
    return base / ".local" / "state" / program;
}

std::filesystem::path userStateFolder(const std::string& program) {
    return userStateFolder(program, std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
}

}  // namespace tc::platform
