// The class library's text-to-number conversions, written by hand so that
// they accept exactly the documented forms, whatever the C library's locale:
// no blanks, no "inf" or "nan", no hexadecimal floats, no decimal comma
// unless FormatSettings asks for one.
#pragma once

#include <cstdint>
#include <string>

#include "base/sysutils.h"

// Raised by the Str* conversions below for text that does not convert.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Integers: an optional '+' or '-', then either decimal digits, or
// hexadecimal digits (either case) after '$', 'x', 'X', '0x' or '0X'.
// Decimal values must lie in the result's range. Hexadecimal values may use
// the whole unsigned width and wrap into the signed result, as the class
// library does ("$FFFFFFFF" is -1 for StrToInt); a '-' before them negates.
bool TryStrToInt(const std::string& Text, int32_t& Value);
bool TryStrToInt64(const std::string& Text, int64_t& Value);
// Raise EConvertError "'<Text>' is not a valid integer value".
int32_t StrToInt(const std::string& Text);
int64_t StrToInt64(const std::string& Text);

// Floats (80-bit extended): an optional sign; decimal digits with an
// optional decimal separator and fraction digits, this part not empty
// ("1.", ".5" and a lone "." are accepted, the last one as 0); then an
// optional exponent, 'E' or 'e', an optional sign and decimal digits (no
// digits counts as exponent 0). A value beyond the extended range does not
// convert; one too small for it becomes 0. The separator is
// FormatSettings.DecimalSeparator unless one is given.
bool TryStrToFloat(const std::string& Text, long double& Value);
bool TryStrToFloat(const std::string& Text, long double& Value, char DecimalSeparator);
// Raise EConvertError "'<Text>' is not a valid floating point value".
long double StrToFloat(const std::string& Text);
long double StrToFloat(const std::string& Text, char DecimalSeparator);
