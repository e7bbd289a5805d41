#include "ProcessGlobal.h"

#include <cstdlib>

namespace {
// Plain arrays: trivially destructible, so nothing here dies at exit.
constexpr int kMaxGlobals = 64;
void* s_objects[kMaxGlobals];
ProcessGlobalDeleter s_deleters[kMaxGlobals];
int s_count = 0;
}  // namespace

void registerProcessGlobal(void* object, ProcessGlobalDeleter deleter) {
    if (s_count == kMaxGlobals) std::abort();  // a build-time constant was outgrown
    s_objects[s_count] = object;
    s_deleters[s_count] = deleter;
    ++s_count;
}

void destroyProcessGlobals() {
    while (s_count > 0) {
        --s_count;
        s_deleters[s_count](s_objects[s_count]);
    }
}
