#include "label/ProductRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/Convert.h"
#include "platform/Files.h"
#include "platform/UniqueFd.h"

namespace tc::label {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::string AdvanceSerialNumber(const std::string& serialNumber) {
    if (serialNumber.empty() || !std::all_of(serialNumber.begin(), serialNumber.end(), isDigit))
        throw platform::ConvertError("'" + serialNumber + "' is not a valid integer value");
    // Add one on the digits themselves, so no width limits the count.
    std::string v =
        serialNumber.substr(std::min(serialNumber.find_first_not_of('0'), serialNumber.size()));
    auto it = v.rbegin();
    for (; it != v.rend() && *it == '9'; ++it) *it = '0';
    if (it == v.rend())
        v.insert(v.begin(), '1');
    else
        ++*it;
    if (v.size() < 4) v.insert(0, 4 - v.size(), '0');
    return v;
}

std::string UnitStamp(const std::string& mechinName, const platform::LocalDateTime& t) {
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%02d%02d%02d%02d", t.day % 100, t.hour % 100,
                  t.minute % 100, t.second % 100);
    return mechinName + stamp;
}

std::string ProductRecordLine(const std::string& unitStamp, const std::string& productCode) {
    return unitStamp + "$!`" + productCode + "#";
}

bool WriteProductRecord(const std::filesystem::path& file, const std::string& line) {
    if (line.find_first_of("\r\n") != std::string::npos) return false;
    // Non-blocking, so a FIFO of that name fails or is refused below instead of holding
    // the open; a regular file is not affected by it.
    platform::UniqueFd fd(::open(
        file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644));
    if (!fd) return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const std::string record = line + "\r\n";
    if (!platform::writeAll(fd.get(), record.data(), record.size())) return false;
    return ::fsync(fd.get()) == 0;
}

}  // namespace tc::label
