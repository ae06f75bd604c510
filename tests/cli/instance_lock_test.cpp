// The single-instance lock tells a running copy apart from a lock file it cannot use.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>

#include "platform/InstanceLock.h"

using tc::platform::InstanceLock;

namespace {

std::filesystem::path freshFolder() {
    auto dir =
        std::filesystem::temp_directory_path() / ("touchcal-lock-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace

TEST(InstanceLock, TellsAHeldLockFromAFileThatCannotBeUsed) {
    const auto dir = freshFolder();
    const auto file = dir / "copy.lock";
    std::optional<InstanceLock> holder;
    struct Case {
        const char* what;
        std::function<void()> make;
        InstanceLock::State state;
        const char* failure;
        int error;
    } cases[] = {
        {"nothing there", [] {}, InstanceLock::State::Owned, "", 0},
        {"a lock left by a copy that ended",
         [&] {
             holder.emplace("copy", dir);
             holder.reset();
         },
         InstanceLock::State::Owned, "", 0},
        {"a copy holding it", [&] { holder.emplace("copy", dir); },
         InstanceLock::State::HeldByAnotherCopy, "", 0},
        {"a folder in its place", [&] { std::filesystem::create_directory(file); },
         InstanceLock::State::Unavailable, "Is a directory", EISDIR},
        {"a link into a missing folder",
         [&] { std::filesystem::create_symlink(dir / "gone" / "copy.lock", file); },
         InstanceLock::State::Unavailable, "No such file or directory", ENOENT},
    };
    for (const auto& c : cases) {
        holder.reset();
        std::filesystem::remove_all(file);
        c.make();
        InstanceLock lock("copy", dir);
        EXPECT_EQ(lock.state(), c.state) << c.what;
        EXPECT_EQ(lock.owned(), c.state == InstanceLock::State::Owned) << c.what;
        EXPECT_EQ(lock.failure(), c.failure) << c.what;
        EXPECT_EQ(lock.error(), c.error) << c.what;
        EXPECT_EQ(lock.path(), file);
    }
    holder.reset();
    std::filesystem::remove_all(dir);
}
