#include "platform/hid/HidBackend.h"

namespace tc::platform::hid {

// Defaults for the half of the interface a backend does not use.
ReadResult HidConnection::read(std::span<std::uint8_t>, Millis) {
    return {ReadResult::Status::Cancelled, 0, 0};
}
void HidConnection::cancelRead() {}
void HidConnection::startReports(ReportSink) {}
void HidConnection::stopReports() {}

}  // namespace tc::platform::hid
