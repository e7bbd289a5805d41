// A card library someone could plant: loading it leaves a marker file (named
// by QUILLON_TEST_MARKER), and its GetFunctionList fills no entry at all.
#include <cstdio>
#include <cstdlib>
#include <cstring>

__attribute__((constructor)) static void leaveMarker() {
    const char* marker = std::getenv("QUILLON_TEST_MARKER");
    if (!marker || !*marker) return;
    if (FILE* f = std::fopen(marker, "w")) {
        std::fputs("loaded\n", f);
        std::fclose(f);
    }
}

extern "C" __attribute__((visibility("default"))) unsigned GetFunctionList(void* table) {
    if (table) std::memset(table, 0, 24 * sizeof(void*));
    return 0;
}
