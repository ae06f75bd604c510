#include "device/CommandReports.h"

namespace tc::device {

CommandReport featureReport(Command command, std::uint8_t argument) {
    return {FeatureReportId, std::uint8_t(command), argument, 0, 0, 0, 0, 0, 0};
}

CommandReport tableEntryReport(Axis axis, std::uint8_t index, std::uint16_t lineMin,
                               std::uint16_t gainCode) {
    return {FeatureReportId,
            std::uint8_t(Command::TableEntry),
            std::uint8_t(axis),
            index,
            std::uint8_t(lineMin & 0xFF),
            std::uint8_t(lineMin >> 8),
            std::uint8_t(gainCode & 0xFF),
            std::uint8_t(gainCode >> 8),
            0};
}

CommandReport outputReport() {
    return {};
}

}  // namespace tc::device
