// Started by tst_ui_forms: how often it started, whether its heap got huge
// pages, and the environment and arguments restartWithHugePageHeap left.
#include "Application.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

int main(int argc, char **argv)
{
    std::fprintf(stderr, "started\n");
    restartWithHugePageHeap(argv);
    const size_t size = 16 << 20;
    char *block = static_cast<char *>(std::malloc(size));
    std::memset(block, 1, size);
    long hugeKb = 0;
    std::ifstream smaps("/proc/self/smaps_rollup");
    for (std::string line; std::getline(smaps, line);)
        if (line.rfind("AnonHugePages:", 0) == 0)
            hugeKb = std::atol(line.c_str() + 14);
    std::free(block);
    const char *now = std::getenv("GLIBC_TUNABLES");
    std::string name;
    std::getline(std::ifstream("/proc/self/comm"), name);
    std::printf("%s\n%s\n%s\n%s\n", name.c_str(), hugeKb > 0 ? "huge pages" : "small pages", now ? now : "(none)",
                std::getenv("VOR_GLIBC_TUNABLES_BEFORE") ? "marker left" : "no marker");
    for (int i = 1; i < argc; ++i)
        std::printf("%s\n", argv[i]);
    return 0;
}
