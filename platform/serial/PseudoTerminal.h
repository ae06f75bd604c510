// A pseudo-terminal pair: the master is ours, the slave path is what a serial port opens.
// The slave is kept open here as well, in raw mode, so that a port closing and opening
// again is not seen as a hang-up on the master side, and so that no echo or line editing
// touches the bytes before the port has applied its own settings.
#pragma once

#include <string>

#include "platform/UniqueFd.h"

namespace tc::platform {

class PseudoTerminal {
public:
    // Throws SystemError when no pair can be made.
    PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master() const { return master_.get(); }  // non-blocking; -1 once closed
    // Our own descriptor of the slave (for flow control in tests); not for reading.
    int slave() const { return slave_.get(); }
    const std::string& slavePath() const { return slavePath_; }

    // Closes the master: every user of the slave sees a hang-up.
    void closeMaster() { master_.reset(); }

private:
    UniqueFd slave_;
    UniqueFd master_;  // after slave_, so that it closes first
    std::string slavePath_;
};

}  // namespace tc::platform
