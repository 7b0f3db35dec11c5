#pragma once

#include <QByteArrayView>
#include <QString>
#include <cstddef>
#include <cstdint>

// A property every fuzz input must keep. A violation prints what failed and aborts, which
// libFuzzer records as a crash and the corpus replay test as a failure.
[[noreturn]] void FuzzCheckFailed(const char* expression, const char* file, int line);

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            FuzzCheckFailed(#condition, __FILE__, __LINE__);                                       \
    } while (false)

// Name of the input being replayed, for the failure message; empty under libFuzzer.
extern const char* g_fuzzInputName;

// The input's bytes as raw UTF-16 code units, little-endian (an odd last byte is dropped):
// every code unit can arise, lone surrogates included.
QString RawUtf16(QByteArrayView bytes);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
