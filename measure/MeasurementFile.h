// The operator's record of one panel's line ranges: the line texts of the display, one a
// line, in a file of the folder `save` beside the program, named after the machine, the
// date, the unit's serial, the customer, the model and the line counts.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tc::measure {

struct MeasurementRecord {
    std::string machineName;   // the text of the machine-name box
    std::string date;          // the `Date` setting
    std::string serialNumber;  // `SerialNumber`
    std::string customerName;  // `CustomerName`
    std::string modelName;     // `ModelName`
    int rowCount = 0;
    int columnCount = 0;
    // The display's texts; the first rowCount / columnCount of them are written.
    std::vector<std::string> rowTexts;
    std::vector<std::string> columnTexts;
};

struct MeasurementFile {
    std::string fileName;  // a single name, safe to create inside `save`
    std::string content;   // the row texts, then the column texts, each ended by CR LF
};

// A settings text made fit to be one piece of a file name: every path separator ('/' and
// '\'), NUL and other control character becomes '_'. Everything else is kept as it is.
std::string fileNamePiece(const std::string& text);

// "AA" machine date serial "_" customer "_" model "_" rows "_" columns ".txt", each settings
// text through fileNamePiece, and a '.' that follows another '.' turned into '_', so the
// name can never step out of its folder. The content keeps every text as given. Throws
// std::invalid_argument (nothing built) when a count is negative or exceeds the texts held.
MeasurementFile buildMeasurementFile(const MeasurementRecord& record);

// Writes the file into `<programFolder>/save`, creating the folder (and its parents) when
// missing, and replacing a file of the same name crash-safely. Returns the path written.
// Throws platform::FileError with the operator's text when the folder or file cannot be
// created, and std::invalid_argument as buildMeasurementFile; nothing is written then.
std::filesystem::path saveMeasurementFile(const std::filesystem::path& programFolder,
                                          const MeasurementRecord& record);

}  // namespace tc::measure
