#include "platform/serial/PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include "platform/Error.h"

namespace tc::platform {

PseudoTerminal::PseudoTerminal()
    : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK)) {
    if (!master_) throwErrno("posix_openpt");
    char name[128];
    if (::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0 ||
        ::ptsname_r(master_.get(), name, sizeof name) != 0)
        throwErrno("pseudo-terminal setup");
    slavePath_ = name;
    slave_.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!slave_) {
        const int err = errno;
        throw SystemError(err, "open " + slavePath_);
    }
    termios t{};
    ::tcgetattr(slave_.get(), &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_.get(), TCSANOW, &t);
}

}  // namespace tc::platform
