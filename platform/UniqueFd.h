// The one owner of a file descriptor: move-only, closes exactly once, and gives the
// descriptor up with release(). Every descriptor the program holds lives in one of these.
#pragma once

namespace tc::platform {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& o) noexcept : fd_(o.release()) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return valid(); }
    // Gives the descriptor to the caller, who closes it from now on.
    [[nodiscard]] int release() noexcept {
        const int f = fd_;
        fd_ = -1;
        return f;
    }
    // Closes what is held (once) and holds `fd` instead.
    void reset(int fd = -1) noexcept;

private:
    int fd_ = -1;
};

// A pipe or socket pair, both ends owned.
struct FdPair {
    UniqueFd first;
    UniqueFd second;
};

}  // namespace tc::platform
