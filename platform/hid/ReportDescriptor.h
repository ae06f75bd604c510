// Our own reader of HID report descriptors: just enough to give the top-level usages, the
// report lengths the program compares against, and whether reports are numbered.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/hid/HidBackend.h"

namespace tc::platform::hid {

struct ReportDescriptorInfo {
    // The usage of the first top-level collection; lengths over all reports of the
    // interface (what a reader of the node must be ready for).
    HidCaps caps;
    // Every top-level collection in order, with the lengths of its own reports.
    std::vector<HidCaps> collections;
    bool numberedReports = false;  // a Report ID item was seen
    bool wellFormed = false;       // parsed to the end without a broken item
};

// Never reads past `descriptor`; a truncated or malformed descriptor gives what was
// parsed before the fault with wellFormed false.
ReportDescriptorInfo parseReportDescriptor(std::span<const std::uint8_t> descriptor);

}  // namespace tc::platform::hid
