// Where a copy of the program that may not write beside itself keeps its files.
#pragma once

#include <filesystem>
#include <string>

namespace tc::platform {

// Whether this process may create files in `folder` (its effective user and groups, a
// read-only mount counts as not writable).
bool folderWritable(const std::filesystem::path& folder);

// The user's folder for the program's state: "$XDG_STATE_HOME/<program>" when that is an
// absolute path, else "$HOME/.local/state/<program>" (the home folder from the user
// database when HOME is not set). Not created here.
std::filesystem::path userStateFolder(const std::string& program);
// The same from given texts (nullptr for a variable that is not set).
std::filesystem::path userStateFolder(const std::string& program, const char* xdgStateHome,
                                      const char* home);

}  // namespace tc::platform
