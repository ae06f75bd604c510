// Our own reader of HID report descriptors: just enough to give the top-level usage, the
// report lengths the program compares against, and whether reports are numbered.
#pragma once

#include <cstdint>
#include <span>

#include "platform/hid/HidBackend.h"

namespace tc::platform::hid {

struct ReportDescriptorInfo {
    HidCaps caps;                  // first top-level collection; lengths over all report IDs
    bool numberedReports = false;  // a Report ID item was seen
    bool wellFormed = false;       // parsed to the end without a broken item
};

// Never reads past `descriptor`; a truncated or malformed descriptor gives what was
// parsed before the fault with wellFormed false.
ReportDescriptorInfo parseReportDescriptor(std::span<const std::uint8_t> descriptor);

}  // namespace tc::platform::hid
