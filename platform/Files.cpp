#include "platform/Files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/UniqueFd.h"

namespace tc::platform {

namespace {

std::string reason(int err) {
    return std::strerror(err);
}

[[noreturn]] void createError(const std::filesystem::path& path, int err) {
    throw FileError(err, "Cannot create file \"" + path.string() + "\". " + reason(err));
}

[[noreturn]] void openError(const std::filesystem::path& path, int err, const std::string& why) {
    throw FileError(err, "Cannot open file \"" + path.string() + "\". " + why);
}

[[noreturn]] void openError(const std::filesystem::path& path, int err) {
    openError(path, err, reason(err));
}

// What stands in for an errno when the path is something other than a regular file.
int notRegularError(mode_t mode) {
    return S_ISDIR(mode) ? EISDIR : EINVAL;
}

const char* notRegularReason(mode_t mode) {
    if (S_ISDIR(mode)) return "It is a folder, not a file";
    if (S_ISFIFO(mode)) return "It is a FIFO, not a regular file";
    if (S_ISSOCK(mode)) return "It is a socket, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "It is a device, not a regular file";
    return "It is not a regular file";
}

std::string temporaryPrefix(const std::filesystem::path& path) {
    return "." + path.filename().string() + ".";
}

bool isTemporaryName(const std::string& name, const std::string& prefix) {
    static const std::string kSuffix = ".tmp";
    if (name.size() <= prefix.size() + kSuffix.size()) return false;
    if (name.compare(0, prefix.size(), prefix) != 0) return false;
    if (name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) return false;
    for (std::size_t i = prefix.size(); i < name.size() - kSuffix.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return false;
    return true;
}

}  // namespace

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

std::optional<std::string> readFileIfExists(const std::filesystem::path& path) {
    // Without O_NONBLOCK a FIFO would hold the open until someone writes to it.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        const int err = errno;
        if (err == ENOENT) return std::nullopt;
        // A socket cannot be opened at all; say what it is rather than "no such device".
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            openError(path, err, notRegularReason(st.st_mode));
        openError(path, err);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) openError(path, errno);
    if (!S_ISREG(st.st_mode))
        openError(path, notRegularError(st.st_mode), notRegularReason(st.st_mode));
    std::string content;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            openError(path, errno);
        }
        if (n == 0) break;
        content.append(buf, std::size_t(n));
    }
    return content;
}

void replaceFile(const std::filesystem::path& path, const std::string& content) {
    const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::random_device rd;
    std::filesystem::path tmp;
    UniqueFd fd;
    for (int attempt = 0; attempt < 16 && !fd; ++attempt) {
        tmp = folder / (temporaryPrefix(path) + std::to_string(rd()) + ".tmp");
        fd.reset(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (!fd && errno != EEXIST) createError(path, errno);
    }
    if (!fd) createError(path, EEXIST);
    // Held until the descriptor closes, so a start-up clean-up tells this live save from
    // the leftovers of a dead one.
    ::flock(fd.get(), LOCK_EX);
    if (!writeAll(fd.get(), content.data(), content.size()) || ::fsync(fd.get()) != 0) {
        const int err = errno;
        fd.reset();
        ::unlink(tmp.c_str());
        createError(path, err);
    }
    fd.reset();
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        createError(path, err);
    }
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.get());
}

int removeStaleTemporaries(const std::filesystem::path& path) {
    const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    const std::string prefix = temporaryPrefix(path);
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) return 0;
    int removed = 0;
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        if (!isTemporaryName(name, prefix)) continue;
        std::error_code sec;
        if (!entry.is_regular_file(sec) || entry.is_symlink(sec)) continue;
        const UniqueFd fd(::open(entry.path().c_str(),
                                 O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
        if (!fd) continue;
        // A save in progress holds its lock; only what nobody holds is stale.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && ::unlink(entry.path().c_str()) == 0)
            ++removed;
    }
    return removed;
}

std::filesystem::path programDirectory() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path();
    return exe.parent_path();
}

}  // namespace tc::platform
