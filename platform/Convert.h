// Text-to-number conversions with the wording of the window framework's errors, so an
// operator sees the same message whatever part of the program converts a text.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace tc::platform {

class ConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A decimal integer (optional sign, optional leading blanks; "$" marks hexadecimal) in
// the 32-bit range. Anything else throws "'%s' is not a valid integer value".
int strToInt(std::string_view text);
// The same, with `fallback` instead of an exception.
int strToIntDef(std::string_view text, int fallback);

std::string intToStr(long long value);
// Upper-case hexadecimal with at least `digits` digits.
std::string intToHex(unsigned long long value, int digits);

}  // namespace tc::platform
