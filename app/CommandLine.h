// The command line. With no options the program behaves as it always has: the window,
// station port 10000, real devices.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/net/Socket.h"

namespace tc::app {

struct Options {
    bool headless = false;
    std::string workdir;  // empty: current directory and program folder as they are
    int port = 10000;
    bool simulate = false;  // the virtual controller and label printer
    std::string scenario;   // the virtual controller's scenario file (implies simulate)

    std::string serialDevice;  // the label printer's port by path, instead of its number
    // The station's listen address; nothing: every IPv4 address.
    std::optional<platform::net::ListenAddress> listen;
    // The controller file; empty: the system's (kSystemControllerFile) when it is there,
    // else the built-in identifiers.
    std::string controllers;
    bool printUdevRule = false;
    bool help = false;
    bool version = false;
};

struct ParseResult {
    std::optional<Options> options;  // nothing when the command line is not usable
    std::string error;               // why not
};

inline constexpr const char* kSystemControllerFile = "/etc/touchcal/controllers.conf";

ParseResult parseCommandLine(const std::vector<std::string>& args);
std::string usageText();

}  // namespace tc::app
