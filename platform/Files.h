// Files as the program keeps them: whole texts read at once, replaced crash-safely.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace tc::platform {

class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The whole content, or nothing when the file does not exist. A file that exists but
// cannot be read throws `Cannot open file "<path>". <reason>`.
std::optional<std::string> readFileIfExists(const std::filesystem::path& path);

// Replace `path` with `content`: a temporary file in the same folder, flushed to disk and
// renamed over the old one, so a crash leaves the old file or the new one, never half of
// either. Throws `Cannot create file "<path>". <reason>`.
void replaceFile(const std::filesystem::path& path, const std::string& content);

// The folder of the running executable.
std::filesystem::path programDirectory();

}  // namespace tc::platform
