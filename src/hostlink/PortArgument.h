#pragma once

#include <QStringView>
#include <cstdint>
#include <optional>

// Reads a 32-bit integer with the host's port grammar: leading U+0020 blanks, one optional
// sign, decimal digits or a hexadecimal prefix ($, x, X, 0x, 0X) with hex digits, nothing after.
// Decimal must fit in int32; hexadecimal may reach FFFFFFFF (two's complement, then negated by
// a '-'). nullopt on any error.
std::optional<std::int32_t> StrToInt(QStringView text);

// The port the host gave: the low 16 bits of StrToInt(argument); nullopt when it is malformed.
std::optional<std::uint16_t> PortFromArgument(QStringView argument);
