#include "device/ControllerIds.h"

#include <algorithm>
#include <cstdio>

#include "platform/Files.h"

namespace tc::device {

namespace {

bool exactly(const std::vector<IdPair>& table, IdPair p) {
    return std::find(table.begin(), table.end(), p) != table.end();
}

ControllerIds makeBuiltIn() {
    ControllerIds ids;
    ids.family = ControllerFamily;
    ids.data.assign(DataInterfaceIds.begin() + 1, DataInterfaceIds.end());
    ids.command.assign(FeatureInterfaceIds.begin() + 1, FeatureInterfaceIds.end());
    return ids;
}

ControllerIds& inForce() {
    static ControllerIds ids = makeBuiltIn();
    return ids;
}

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Four hexadecimal digits, nothing else.
std::optional<std::uint16_t> hex4(std::string_view s) {
    if (s.size() != 4) return std::nullopt;
    unsigned v = 0;
    for (char c : s) {
        const int d = hexDigit(c);
        if (d < 0) return std::nullopt;
        v = v * 16 + unsigned(d);
    }
    return std::uint16_t(v);
}

std::string hex(std::uint16_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", unsigned(v));
    return buf;
}

std::string pairText(IdPair p) {
    return hex(p.vendorId) + ":" + hex(p.productId);
}

}  // namespace

bool ControllerIds::inFamily(std::uint16_t vendorId, std::uint16_t productId) const {
    return family && vendorId == family->vendorId &&
           (productId & 0xFF00) == (family->productId & 0xFF00);
}

bool ControllerIds::inDataTable(std::uint16_t vendorId, std::uint16_t productId) const {
    const IdPair p{vendorId, productId};
    return (family && *family == p) || exactly(data, p);
}

bool ControllerIds::inCommandTable(std::uint16_t vendorId, std::uint16_t productId) const {
    const IdPair p{vendorId, productId};
    return (family && *family == p) || exactly(command, p);
}

const ControllerIds& builtInControllerIds() {
    static const ControllerIds ids = makeBuiltIn();
    return ids;
}

const ControllerIds& controllerIds() {
    return inForce();
}

void setControllerIds(ControllerIds ids) {
    inForce() = std::move(ids);
}

ControllerIds parseControllerIds(std::string_view text, const std::string& fileName) {
    ControllerIds ids;
    int familyLine = 0;
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const auto end = std::min(text.find('\n', pos), text.size());
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (const auto hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        line = trim(line);
        if (line.empty()) continue;
        const auto fail = [&](const std::string& why) {
            return ControllerIdsError(fileName + " line " + std::to_string(lineNo) + ": " + why);
        };
        const auto gap = line.find_first_of(" \t");
        const std::string kind(line.substr(0, gap));
        const std::string_view rest =
            gap == std::string_view::npos ? std::string_view{} : trim(line.substr(gap));
        if (kind != "family" && kind != "data" && kind != "command")
            throw fail("unknown kind '" + kind + "'; expected family, data or command");
        if (rest.empty()) throw fail("'" + kind + "' needs a pair VVVV:PPPP");
        if (rest.find_first_of(" \t") != std::string_view::npos)
            throw fail("one pair a line: '" + std::string(rest) + "'");
        const auto colon = rest.find(':');
        const auto vendor = hex4(rest.substr(0, colon));
        const auto product =
            colon == std::string_view::npos ? std::nullopt : hex4(rest.substr(colon + 1));
        if (!vendor || !product)
            throw fail("'" + std::string(rest) +
                       "' is not a pair VVVV:PPPP of four hexadecimal digits each");
        const IdPair p{*vendor, *product};
        if (kind == "family") {
            if (familyLine)
                throw fail("a second family line (the first is line " + std::to_string(familyLine) +
                           ")");
            if (p.productId & 0x00FF)
                throw fail("the family pair stands for every product " +
                           hex(p.productId).substr(0, 2) + "xx, so its product ends in 00");
            familyLine = lineNo;
            ids.family = p;
        } else {
            (kind == "data" ? ids.data : ids.command).push_back(p);
        }
    }
    if (!ids.family && ids.data.empty() && ids.command.empty())
        throw ControllerIdsError(fileName + ": no identifiers in the file");
    return ids;
}

ControllerIds loadControllerIds(const std::filesystem::path& file) {
    std::optional<std::string> text;
    try {
        text = platform::readFileIfExists(file);
    } catch (const platform::FileError& e) {
        throw ControllerIdsError(std::string("cannot read controller file: ") + e.what());
    }
    if (!text)
        throw ControllerIdsError("cannot read controller file " + file.string() +
                                 ": No such file or directory");
    return parseControllerIds(*text, file.string());
}

std::string udevRule(const ControllerIds& ids) {
    const std::string access = R"(, TAG+="uaccess", GROUP="touchcal", MODE="0660")";
    const auto match = [](const std::string& vendor, const std::string& product) {
        return R"(SUBSYSTEM=="hidraw", ATTRS{idVendor}==")" + vendor + R"(", ATTRS{idProduct}==")" +
               product + "\"";
    };
    std::string out =
        "# touchcal: read/write access to the touch controller's hidraw nodes for the operator "
        "at\n"
        "# the seat (uaccess) and for members of the group \"touchcal\" (line PCs without a "
        "seat).\n"
        "# Written by `touchcal --print-udev-rule` from the controller identifiers in force\n"
        "# (docs/hid.md). The file sorts before 73-seat-late.rules, as uaccess tags must.\n";
    if (ids.family) {
        const std::string high = hex(ids.family->productId).substr(0, 2);
        out += "\n# The product family: vendor " + hex(ids.family->vendorId) + ", any product " +
               high + "xx (data and command).\n";
        out += match(hex(ids.family->vendorId), high + "??") + access + "\n";
    }
    // Every further pair once, in table order, unless the family rule covers it already.
    std::vector<IdPair> listed;
    for (const auto* table : {&ids.data, &ids.command}) {
        for (const IdPair& p : *table) {
            if (ids.inFamily(p.vendorId, p.productId) || exactly(listed, p)) continue;
            listed.push_back(p);
            const bool d = exactly(ids.data, p), c = exactly(ids.command, p);
            out += "\n# " + pairText(p) + " (" +
                   (d && c ? "data and command"
                    : d    ? "data"
                           : "command") +
                   ").\n";
            out += match(hex(p.vendorId), hex(p.productId)) + access + "\n";
        }
    }
    return out;
}

}  // namespace tc::device
