// The cost of the sandbox probe on the start-up path: a child in new user, PID and network
// namespaces that exits at once, and the wait for it. Prints the median and the slowest.
//
//   bench_sandbox_probe [RUNS]    (run it as the user who runs Quarvel)
#include "shell/SandboxPolicy.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    std::vector<double> us;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const SandboxProbe probe = ProbeSandboxNamespaces();
        const auto end = std::chrono::steady_clock::now();
        if (!probe.allowed) {
            std::printf("refused: %s\n", std::strerror(probe.error));
            return 1;
        }
        us.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(us.begin(), us.end());
    std::printf("sandbox probe over %d runs: median %.0f us, slowest %.0f us\n", runs,
                us[us.size() / 2], us.back());
    return 0;
}
