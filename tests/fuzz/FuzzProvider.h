// Shared by the fuzz targets that drive the provider through its exported
// functions: start-up once per process, as loading the library would do it,
// with a configuration naming a card library.
#ifndef QUILLON_TESTS_FUZZPROVIDER_H
#define QUILLON_TESTS_FUZZPROVIDER_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "Startup.h"

namespace fuzz {

// Writes a configuration naming the card library, with the extended
// mechanisms on, and runs the load hook.
// Aborts when start-up fails: every input would be wasted.
inline void startProvider(const char* cardLibrary) {
    char dir[] = "/tmp/quillon-fuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    std::string config = std::string(dir) + "/quillon.conf";
    FILE* f = std::fopen(config.c_str(), "w");
    if (!f) std::abort();
    std::fprintf(f, "zt=%s\nloglevel=0\nmechanisms=extended\n", cardLibrary);
    std::fclose(f);
    setenv("QUILLON_REGISTRY", config.c_str(), 1);
    if (!moduleAttach()) {
        std::fprintf(stderr, "provider start-up failed: %s\n", startupFailure());
        std::abort();
    }
    unlink(config.c_str());
    rmdir(dir);
}

}  // namespace fuzz

#endif
