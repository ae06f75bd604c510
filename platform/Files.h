// Files as the program keeps them: whole texts read at once, replaced crash-safely.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/WordedError.h"

namespace tc::platform {

// what() is the operator's text (`Cannot open file "<path>". <reason>`); error() is the
// errno behind it. For a path that is no regular file it is EISDIR for a folder, EINVAL for
// anything else that opens.
class FileError : public WordedError {
public:
    using WordedError::WordedError;
};

// The whole content, or nothing when the file does not exist. A file that exists but
// cannot be read throws `Cannot open file "<path>". <reason>`; so does anything that is
// not a regular file (a folder, a FIFO, a device), which is refused without waiting on it.
std::optional<std::string> readFileIfExists(const std::filesystem::path& path);

// Writes all `n` bytes to `fd`, going on after short writes and interruptions. False (errno
// set) when a write fails.
bool writeAll(int fd, const char* p, std::size_t n);

// Replace `path` with `content`: a temporary file `.<name>.<n>.tmp` in the same folder,
// flushed to disk and renamed over the old one, so a crash leaves the old file or the new
// one, never half of either. Throws `Cannot create file "<path>". <reason>`.
void replaceFile(const std::filesystem::path& path, const std::string& content);

// Removes the temporaries that replaceFile left beside `path` when its process died in the
// middle of a save: regular files named exactly `.<name>.<digits>.tmp`. A temporary that a
// live save is still writing is locked by it and stays. Returns how many went.
int removeStaleTemporaries(const std::filesystem::path& path);

// The folder of the running executable.
std::filesystem::path programDirectory();

}  // namespace tc::platform
