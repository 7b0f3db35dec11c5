#include "hostlink/PortArgument.h"

namespace {

bool IsDecimalDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// Value of an ASCII hexadecimal digit, or -1.
int HexDigitValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

} // namespace

// Hand-written on purpose: QString::toInt takes neither "$" nor a bare "x" prefix, nor the
// 32-bit wrap-around of hexadecimal values that the host's grammar gives.
std::optional<std::int32_t> StrToInt(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;

    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }

    bool hex = false;
    if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        hex = true;
        i += 1;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        hex = true;
        i += 2;
    }

    if (i == n)
        return std::nullopt; // empty, blanks only, or a sign or prefix without digits

    if (hex) {
        std::uint32_t value = 0;
        int significant = 0;
        for (; i < n; ++i) {
            const int digit = HexDigitValue(text[i].unicode());
            if (digit < 0)
                return std::nullopt;
            if (significant > 0 || digit != 0)
                ++significant;
            if (significant > 8)
                return std::nullopt;
            value = (value << 4) | static_cast<std::uint32_t>(digit);
        }
        // The 32 bits are a two's-complement number; '-' negates it modulo 2^32.
        if (negative)
            value = 0u - value;
        return static_cast<std::int32_t>(value);
    }

    // Decimal: accumulate the magnitude in 64 bits and stop as soon as it leaves the range.
    constexpr std::int64_t kMaxMagnitude = 2147483648; // |INT32_MIN|
    std::int64_t magnitude = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (!IsDecimalDigit(c))
            return std::nullopt;
        magnitude = magnitude * 10 + (c - u'0');
        if (magnitude > kMaxMagnitude)
            return std::nullopt;
    }
    if (!negative && magnitude == kMaxMagnitude)
        return std::nullopt;
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::optional<std::uint16_t> PortFromArgument(QStringView argument)
{
    const std::optional<std::int32_t> value = StrToInt(argument);
    if (!value)
        return std::nullopt;
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(*value) & 0xFFFFu);
}
