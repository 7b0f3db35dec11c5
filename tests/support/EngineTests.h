#pragma once

#include <functional>

// Runs the test binary as the program does: as the engine's helper when the engine started it
// with --type=..., otherwise as the GoogleTest run. beforeEngine runs in the test run only, after
// GoogleTest has read its arguments and before the engine starts.
int RunEngineTests(int argc, char** argv, const std::function<void()>& beforeEngine = {});
