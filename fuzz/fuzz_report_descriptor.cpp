// A report descriptor as a device declares it: any bytes at all.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/hid/ReportDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Never reads past the bytes given; a broken descriptor gives what came before it.
    (void)tc::platform::hid::parseReportDescriptor(std::span(data, size));
    return 0;
}
