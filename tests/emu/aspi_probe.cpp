// Loads an ASPI library in a process of its own and prints what GetASPI32SupportInfo returns, so
// tests can see how the library starts under an environment of their choosing.

#include <dlfcn.h>

#include <cstdio>

#include "drive/AspiSrb.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    void* library = ::dlopen(argv[1], RTLD_NOW);
    if (!library) return 3;
    auto supportInfo =
        reinterpret_cast<dravix::aspi::GetSupportInfoFn>(::dlsym(library, dravix::aspi::kSupportInfoName));
    if (!supportInfo) return 4;
    std::printf("%04X\n", supportInfo());
    return 0;
}
