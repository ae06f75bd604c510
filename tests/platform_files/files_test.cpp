// Whole-file reads and crash-safe replacement, on the real file system.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fcntl.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <system_error>

#include "platform/Files.h"
#include "platform/UniqueFd.h"

namespace fs = std::filesystem;
using namespace tc::platform;

namespace {

struct Folder : ::testing::Test {
    fs::path dir = fs::temp_directory_path() /
                   ("touchcal-files-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    Folder() {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~Folder() override { fs::remove_all(dir); }
    void write(const fs::path& p, const std::string& s) const {
        std::ofstream(p, std::ios::binary) << s;
    }
};

}  // namespace

TEST_F(Folder, ReadRefusesWhatIsNotARegularFileWithoutWaiting) {
    UniqueFd sock;
    struct Case {
        const char* name;
        std::function<fs::path()> make;
        const char* reason;  // empty: read as a file
    } cases[] = {
        {"regular",
         [&] {
             write(dir / "f", "a\r\nb");
             return dir / "f";
         },
         ""},
        {"FIFO",
         [&] {
             ::mkfifo((dir / "p").c_str(), 0644);
             return dir / "p";
         },
         "It is a FIFO, not a regular file"},
        {"folder",
         [&] {
             fs::create_directory(dir / "d");
             return dir / "d";
         },
         "It is a folder, not a file"},
        {"device", [] { return fs::path("/dev/null"); }, "It is a device, not a regular file"},
        {"socket",
         [&] {
             sock.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
             sockaddr_un a{};
             a.sun_family = AF_UNIX;
             const std::string p = (dir / "s").string();
             std::strncpy(a.sun_path, p.c_str(), sizeof a.sun_path - 1);
             ::bind(sock.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
             return dir / "s";
         },
         "It is a socket, not a regular file"},
    };
    for (const auto& c : cases) {
        const fs::path p = c.make();
        if (!*c.reason) {
            EXPECT_EQ(readFileIfExists(p), std::optional<std::string>("a\r\nb")) << c.name;
            continue;
        }
        try {
            readFileIfExists(p);
            ADD_FAILURE() << c.name << " was read";
        } catch (const std::system_error& e) {
            // The operator's text, and the reason beside it for the debug log.
            EXPECT_NE(dynamic_cast<const FileError*>(&e), nullptr) << c.name;
            EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + p.string() + "\". " + c.reason)
                << c.name;
            EXPECT_NE(e.code().value(), 0) << c.name;
            if (std::string(c.name) == "folder") {
                EXPECT_EQ(e.code(), std::errc::is_a_directory);
            }
        }
    }
    EXPECT_EQ(readFileIfExists(dir / "missing"), std::nullopt);
}

TEST_F(Folder, OnlyTemporariesThatNoSaveHoldsAreStale) {
    const fs::path target = dir / "x.ini";
    write(dir / ".x.ini.1.tmp", "dead");
    write(dir / ".x.ini.2.tmp", "live");
    write(dir / ".x.ini.3.tmp.keep", "other");
    UniqueFd live(::open((dir / ".x.ini.2.tmp").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(live.get(), LOCK_EX), 0);
    EXPECT_EQ(removeStaleTemporaries(target), 1);
    EXPECT_FALSE(fs::exists(dir / ".x.ini.1.tmp"));
    EXPECT_TRUE(fs::exists(dir / ".x.ini.2.tmp"));
    live.reset();
    EXPECT_EQ(removeStaleTemporaries(target), 1);
    EXPECT_TRUE(fs::exists(dir / ".x.ini.3.tmp.keep"));
    EXPECT_EQ(removeStaleTemporaries(dir / "no-such-folder" / "x.ini"), 0);
}

TEST_F(Folder, ASaveLeavesOnlyTheFile) {
    replaceFile(dir / "x.ini", "one");
    replaceFile(dir / "x.ini", "two");
    EXPECT_EQ(readFileIfExists(dir / "x.ini"), std::optional<std::string>("two"));
    EXPECT_EQ(removeStaleTemporaries(dir / "x.ini"), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);
}
