// The unit's identity over a day: the running serial number, the stamp of the unit's
// acquisition, and the product record, one line per unit appended to a text file.
#pragma once

#include <filesystem>
#include <string>

#include "platform/Calendar.h"

namespace tc::label {

// The serial number after `serialNumber`: one more, with leading zeros up to four digits
// ("0009" -> "0010", "7" -> "0008") and no upper limit ("9999" -> "10000"). The text must be
// decimal digits and nothing else (no sign, blank or hexadecimal mark), of any length: the
// count goes on past any integer width instead of wrapping. Anything else throws
// platform::ConvertError "'<text>' is not a valid integer value".
std::string AdvanceSerialNumber(const std::string& serialNumber);

// The machine name followed by the time as ddhhmmss (day of month, 24-hour clock).
std::string UnitStamp(const std::string& mechinName, const platform::LocalDateTime& t);

// The record of one unit, without its line end: stamp, "$!`", product code, "#".
std::string ProductRecordLine(const std::string& unitStamp, const std::string& productCode);

// The product record file, in the current folder.
inline constexpr const char* ProductRecordFileName = "qrcode.txt";

// Appends `line` and CR LF to `file` in one write (created 0644 when missing, existing
// content kept, every write going to the end), flushed to disk before it returns true.
// Returns false, having written nothing, when the file cannot be opened as a regular file
// or `line` holds a line break (it would split the record in two); and false when the
// write or the flush fails after the open, in which case part of the line may have
// reached the file's end (nothing before it is ever touched).
bool WriteProductRecord(const std::filesystem::path& file, const std::string& line);

}  // namespace tc::label
