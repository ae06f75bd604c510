#include "platform/Version.h"

#include <cstdlib>
#include <iostream>

#ifndef TOUCHCAL_FILE_VERSION
#define TOUCHCAL_FILE_VERSION "0.0.0"
#endif

namespace tc::platform {

const VersionInfo& versionInfo() {
    static const VersionInfo v{"Duved Adevavevuvo VA", "touchcal", TOUCHCAL_FILE_VERSION};
    return v;
}

std::string systemCaption(const VersionInfo& v) {
    return v.companyName + ", " + v.productName + ", " + v.fileVersion;
}

void debugOutput(const std::string& line) {
    static const bool enabled = std::getenv("TOUCHCAL_DEBUG") != nullptr;
    if (enabled) std::cerr << line << '\n';
}

}  // namespace tc::platform
