// Version information compiled into the program.
#pragma once

#include <string>

namespace tc::platform {

struct VersionInfo {
    std::string companyName;
    std::string productName;
    std::string fileVersion;
};

const VersionInfo& versionInfo();

// "CompanyName, ProductName, FileVersion", the caption the desktop shows for the window.
std::string systemCaption(const VersionInfo& v);

// A line for the debug log; it goes to standard error when TOUCHCAL_DEBUG is set.
void debugOutput(const std::string& line);

}  // namespace tc::platform
