#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace tc::platform {

namespace {

std::string reason(int err) {
    return std::strerror(err);
}

[[noreturn]] void createError(const std::filesystem::path& path, int err) {
    throw FileError("Cannot create file \"" + path.string() + "\". " + reason(err));
}

bool writeAll(int fd, const char* p, std::size_t n) {
    while (n) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= std::size_t(w);
    }
    return true;
}

}  // namespace

std::optional<std::string> readFileIfExists(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw FileError("Cannot open file \"" + path.string() + "\". " + reason(errno));
    }
    std::string content;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            throw FileError("Cannot open file \"" + path.string() + "\". " + reason(err));
        }
        if (n == 0) break;
        content.append(buf, std::size_t(n));
    }
    ::close(fd);
    return content;
}

void replaceFile(const std::filesystem::path& path, const std::string& content) {
    const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::random_device rd;
    std::filesystem::path tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        tmp = folder / ("." + path.filename().string() + "." + std::to_string(rd()) + ".tmp");
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) createError(path, errno);
    }
    if (fd < 0) createError(path, EEXIST);
    if (!writeAll(fd, content.data(), content.size()) || ::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        createError(path, err);
    }
    ::close(fd);
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        createError(path, err);
    }
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

std::filesystem::path programDirectory() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path();
    return exe.parent_path();
}

}  // namespace tc::platform
