// The host's port argument: StrToInt and PortFromArgument on arbitrary text, read both as UTF-8
// (as the command line reaches the program) and as raw UTF-16, against a second reading of the
// grammar written independently of the parser.
#include "FuzzCheck.h"
#include "hostlink/PortArgument.h"

#include <optional>
#include <string>

namespace {

bool IsHexDigit(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool IsDecimalDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// The grammar read on whole digit strings: leading zeros dropped, then the length decides the
// range before any arithmetic is done.
std::optional<std::int32_t> Reference(std::u16string_view text)
{
    const std::size_t start = text.find_first_not_of(u' ');
    if (start == std::u16string_view::npos)
        return std::nullopt;
    std::u16string_view rest = text.substr(start);
    bool negative = false;
    if (rest.front() == u'+' || rest.front() == u'-') {
        negative = rest.front() == u'-';
        rest.remove_prefix(1);
    }
    bool hex = false;
    if (rest.starts_with(u"0x") || rest.starts_with(u"0X")) {
        hex = true;
        rest.remove_prefix(2);
    } else if (rest.starts_with(u"$") || rest.starts_with(u"x") || rest.starts_with(u"X")) {
        hex = true;
        rest.remove_prefix(1);
    }
    if (rest.empty())
        return std::nullopt;
    for (const char16_t c : rest) {
        if (hex ? !IsHexDigit(c) : !IsDecimalDigit(c))
            return std::nullopt;
    }
    const std::size_t firstSignificant = rest.find_first_not_of(u'0');
    const std::u16string_view digits = firstSignificant == std::u16string_view::npos
                                           ? std::u16string_view()
                                           : rest.substr(firstSignificant);
    if (digits.size() > (hex ? 8u : 10u))
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char16_t c : digits) {
        const unsigned digit = c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10;
        value = value * (hex ? 16 : 10) + digit;
    }
    if (hex) {
        auto bits = static_cast<std::uint32_t>(value);
        if (negative)
            bits = ~bits + 1u;
        return static_cast<std::int32_t>(bits);
    }
    if (negative) {
        if (value > 2147483648u)
            return std::nullopt;
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(value));
    }
    if (value > 2147483647u)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

void Check(const QString& text)
{
    const std::optional<std::int32_t> value = StrToInt(text);
    const std::u16string_view units(reinterpret_cast<const char16_t*>(text.utf16()),
                                    static_cast<std::size_t>(text.size()));
    FUZZ_CHECK(value == Reference(units));

    const std::optional<std::uint16_t> port = PortFromArgument(text);
    FUZZ_CHECK(port.has_value() == value.has_value());
    if (!value)
        return;
    FUZZ_CHECK(*port == (static_cast<std::uint32_t>(*value) & 0xFFFFu));

    // Whatever spelling was accepted, the plain decimal and hexadecimal ones give the same value.
    FUZZ_CHECK(StrToInt(QString::number(*value)) == value);
    const QString hex =
        QStringLiteral("$") + QString::number(static_cast<std::uint32_t>(*value), 16);
    FUZZ_CHECK(StrToInt(hex) == value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    Check(QString::fromUtf8(bytes));
    Check(RawUtf16(bytes));
    return 0;
}
