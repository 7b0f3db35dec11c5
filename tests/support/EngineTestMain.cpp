#include "EngineTests.h"

// The test binary is its own engine helper, exactly like the program: the engine starts it again
// with --type=... for its renderer and other helpers.
int main(int argc, char** argv)
{
    return RunEngineTests(argc, argv);
}
