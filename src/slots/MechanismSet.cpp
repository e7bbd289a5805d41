#include "MechanismSet.h"

#include <atomic>
#include <cstring>

namespace {
std::atomic<bool> s_extended{false};
}  // namespace

MechanismSet parseMechanismSet(const char* value) {
    return value && std::strcmp(value, "extended") == 0 ? MechanismSet::Extended
                                                        : MechanismSet::Classic;
}

void setMechanismSet(MechanismSet set) {
    s_extended.store(set == MechanismSet::Extended, std::memory_order_relaxed);
}

bool extendedMechanismsEnabled() {
    return s_extended.load(std::memory_order_relaxed);
}
