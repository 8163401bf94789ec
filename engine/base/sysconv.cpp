#include "base/sysconv.h"

#include <cmath>
#include <limits>

#include "hexdigit.h"

namespace {

// Reads sign and digits into a magnitude no larger than the limit given for
// each radix; reports the sign separately so that callers can range-check.
bool ParseInteger(const std::string& Text, uint64_t DecimalLimitPositive, uint64_t DecimalLimitNegative,
                  uint64_t HexLimit, uint64_t& Magnitude, bool& Negative)
{
    size_t i = 0;
    const size_t n = Text.size();
    Negative = false;
    if (i < n && (Text[i] == '+' || Text[i] == '-')) {
        Negative = Text[i] == '-';
        ++i;
    }
    bool Hex = false;
    if (i < n && (Text[i] == '$' || Text[i] == 'x' || Text[i] == 'X')) {
        Hex = true;
        ++i;
    } else if (i + 1 < n && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
        Hex = true;
        i += 2;
    }
    if (i >= n)
        return false;
    const uint64_t limit = Hex ? HexLimit : (Negative ? DecimalLimitNegative : DecimalLimitPositive);
    const uint64_t radix = Hex ? 16 : 10;
    uint64_t value = 0;
    for (; i < n; ++i) {
        const int d = Hex ? HexDigitValue(Text[i]) : (Text[i] >= '0' && Text[i] <= '9' ? Text[i] - '0' : -1);
        if (d < 0)
            return false;
        if (value > (limit - static_cast<uint64_t>(d)) / radix)
            return false;
        value = value * radix + static_cast<uint64_t>(d);
    }
    Magnitude = value;
    return true;
}

[[noreturn]] void RaiseInteger(const std::string& Text)
{
    throw EConvertError("'" + Text + "' is not a valid integer value");
}

[[noreturn]] void RaiseFloat(const std::string& Text)
{
    throw EConvertError("'" + Text + "' is not a valid floating point value");
}

// Powers of ten that the 64-bit mantissa of the extended type holds exactly.
long double ExactPow10(int Exponent)
{
    long double p = 1.0L;
    for (int k = 0; k < Exponent; ++k)
        p *= 10.0L;
    return p;
}

} // namespace

bool TryStrToInt(const std::string& Text, int32_t& Value)
{
    uint64_t magnitude = 0;
    bool negative = false;
    if (!ParseInteger(Text, 0x7FFFFFFFull, 0x80000000ull, 0xFFFFFFFFull, magnitude, negative))
        return false;
    const uint32_t bits = static_cast<uint32_t>(negative ? 0u - static_cast<uint32_t>(magnitude)
                                                         : static_cast<uint32_t>(magnitude));
    Value = static_cast<int32_t>(bits);
    return true;
}

bool TryStrToInt64(const std::string& Text, int64_t& Value)
{
    uint64_t magnitude = 0;
    bool negative = false;
    if (!ParseInteger(Text, 0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull, magnitude,
                      negative))
        return false;
    Value = static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
    return true;
}

int32_t StrToInt(const std::string& Text)
{
    int32_t value = 0;
    if (!TryStrToInt(Text, value))
        RaiseInteger(Text);
    return value;
}

int64_t StrToInt64(const std::string& Text)
{
    int64_t value = 0;
    if (!TryStrToInt64(Text, value))
        RaiseInteger(Text);
    return value;
}

bool TryStrToFloat(const std::string& Text, long double& Value)
{
    return TryStrToFloat(Text, Value, FormatSettings.DecimalSeparator);
}

bool TryStrToFloat(const std::string& Text, long double& Value, char DecimalSeparator)
{
    const size_t n = Text.size();
    size_t i = 0;
    bool negative = false;
    if (i < n && (Text[i] == '+' || Text[i] == '-')) {
        negative = Text[i] == '-';
        ++i;
    }

    // Up to 19 significant digits are kept exactly; further integer digits
    // only raise the decimal exponent, further fraction digits are dropped.
    uint64_t mantissa = 0;
    int significant = 0;
    int64_t exponent = 0;
    bool anyPart = false;
    for (; i < n && Text[i] >= '0' && Text[i] <= '9'; ++i) {
        anyPart = true;
        if (mantissa == 0 && Text[i] == '0')
            continue;
        if (significant < 19) {
            mantissa = mantissa * 10 + static_cast<uint64_t>(Text[i] - '0');
            ++significant;
        } else {
            ++exponent;
        }
    }
    if (i < n && Text[i] == DecimalSeparator) {
        anyPart = true;
        for (++i; i < n && Text[i] >= '0' && Text[i] <= '9'; ++i) {
            if (mantissa == 0 && Text[i] == '0') {
                --exponent;
                continue;
            }
            if (significant < 19) {
                mantissa = mantissa * 10 + static_cast<uint64_t>(Text[i] - '0');
                ++significant;
                --exponent;
            }
        }
    }
    if (!anyPart)
        return false;
    if (i < n && (Text[i] == 'E' || Text[i] == 'e')) {
        ++i;
        bool expNegative = false;
        if (i < n && (Text[i] == '+' || Text[i] == '-')) {
            expNegative = Text[i] == '-';
            ++i;
        }
        int64_t written = 0;
        for (; i < n && Text[i] >= '0' && Text[i] <= '9'; ++i)
            if (written < 1000000) // far beyond the extended range either way
                written = written * 10 + (Text[i] - '0');
        exponent += expNegative ? -written : written;
    }
    if (i != n)
        return false;

    long double value = 0.0L;
    if (mantissa != 0) {
        // Within +-27 the power is exact, so the result is rounded once.
        const long double m = static_cast<long double>(mantissa);
        if (exponent >= 0 && exponent <= 27)
            value = m * ExactPow10(static_cast<int>(exponent));
        else if (exponent < 0 && exponent >= -27)
            value = m / ExactPow10(static_cast<int>(-exponent));
        else if (exponent > 27)
            value = m * ExactPow10(27) * std::pow(10.0L, static_cast<long double>(exponent - 27));
        else
            value = m / ExactPow10(27) / std::pow(10.0L, static_cast<long double>(-exponent - 27));
        if (!std::isfinite(value))
            return false;
    }
    Value = negative ? -value : value;
    return true;
}

long double StrToFloat(const std::string& Text)
{
    return StrToFloat(Text, FormatSettings.DecimalSeparator);
}

long double StrToFloat(const std::string& Text, char DecimalSeparator)
{
    long double value = 0.0L;
    if (!TryStrToFloat(Text, value, DecimalSeparator))
        RaiseFloat(Text);
    return value;
}
