#include "platform/serial/PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace tc::platform {

PseudoTerminal::PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0) throw std::system_error(errno, std::generic_category(), "posix_openpt");
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        const int err = errno;
        ::close(master_);
        throw std::system_error(err, std::generic_category(), "pseudo-terminal setup");
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave_ < 0) {
        const int err = errno;
        ::close(master_);
        throw std::system_error(err, std::generic_category(), "open " + slavePath_);
    }
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
}

PseudoTerminal::~PseudoTerminal() {
    closeMaster();
    ::close(slave_);
}

void PseudoTerminal::closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

}  // namespace tc::platform
