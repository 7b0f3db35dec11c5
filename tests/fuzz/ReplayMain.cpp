// Runs a fuzz target once on every file of its seed corpus (minimised regression inputs
// included), without fuzzing: a property that a fixed finding broke fails this test again.
#include "FuzzCheck.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

int g_argc = 0;
char** g_argv = nullptr;

// One test per target, named after it (QUARVEL_FUZZ_SUITE), so that CTest tells them apart.
#define REPLAY_TEST(suite) TEST(suite, EverySeedInputKeepsTheTargetsProperties)
REPLAY_TEST(QUARVEL_FUZZ_SUITE)
{
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&g_argc, &g_argv);

    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(QUARVEL_FUZZ_CORPUS)) {
        if (entry.is_regular_file())
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty()) << "no seed inputs in " << QUARVEL_FUZZ_CORPUS;

    for (const std::filesystem::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        ASSERT_TRUE(in) << file;
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>()};
        const std::string name = file.filename().string();
        g_fuzzInputName = name.c_str();
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        g_fuzzInputName = "";
    }
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    g_argc = argc;
    g_argv = argv;
    return RUN_ALL_TESTS();
}
