#include "platform/Convert.h"

#include <cstdio>
#include <limits>
#include <optional>

namespace tc::platform {

namespace {

std::optional<int> parse(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return std::nullopt;
    long long v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        v = v * base + d;
        if (v > 0x100000000LL) return std::nullopt;
    }
    if (negative) v = -v;
    if (base == 16 && !negative && v <= 0xFFFFFFFFLL) return int(std::uint32_t(v));
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(v);
}

}  // namespace

int strToInt(std::string_view text) {
    if (auto v = parse(text)) return *v;
    throw ConvertError("'" + std::string(text) + "' is not a valid integer value");
}

int strToIntDef(std::string_view text, int fallback) {
    return parse(text).value_or(fallback);
}

std::string intToStr(long long value) {
    return std::to_string(value);
}

std::string intToHex(unsigned long long value, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llX", digits, value);
    return buf;
}

}  // namespace tc::platform
