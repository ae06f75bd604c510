#include "measure/MeasurementFile.h"

#include <cstring>
#include <stdexcept>
#include <system_error>

#include "platform/Files.h"

namespace tc::measure {

namespace {

void appendLines(std::string& out, const std::vector<std::string>& texts, int count,
                 const char* what) {
    if (count < 0 || static_cast<std::size_t>(count) > texts.size())
        throw std::invalid_argument(std::string("Cannot save the measurement: ") + what +
                                    " count " + std::to_string(count) + " but " +
                                    std::to_string(texts.size()) + " line texts.");
    for (int i = 0; i < count; ++i) {
        out += texts[static_cast<std::size_t>(i)];
        out += "\r\n";
    }
}

}  // namespace

std::string fileNamePiece(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) c = '_';
    }
    return out;
}

MeasurementFile buildMeasurementFile(const MeasurementRecord& r) {
    MeasurementFile file;
    appendLines(file.content, r.rowTexts, r.rowCount, "row");
    appendLines(file.content, r.columnTexts, r.columnCount, "column");

    std::string name = "AA" + fileNamePiece(r.machineName) + fileNamePiece(r.date) +
                       fileNamePiece(r.serialNumber) + "_" + fileNamePiece(r.customerName) + "_" +
                       fileNamePiece(r.modelName) + "_" + std::to_string(r.rowCount) + "_" +
                       std::to_string(r.columnCount);
    // The name starts with "AA", so it is never "." or ".."; no dot pairs anywhere keeps it
    // plainly a single name for every reader as well.
    for (std::size_t i = 1; i < name.size(); ++i)
        if (name[i] == '.' && name[i - 1] == '.') name[i] = '_';
    file.fileName = name + ".txt";
    return file;
}

std::filesystem::path saveMeasurementFile(const std::filesystem::path& programFolder,
                                          const MeasurementRecord& record) {
    const MeasurementFile file = buildMeasurementFile(record);
    const std::filesystem::path folder = programFolder / "save";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        throw platform::FileError(ec.value(), "Cannot create folder \"" + folder.string() + "\". " +
                                                  std::strerror(ec.value()));
    const std::filesystem::path path = folder / file.fileName;
    platform::replaceFile(path, file.content);
    return path;
}

}  // namespace tc::measure
