// What the integration fixture needs on Windows in place of POSIX calls:
// a scratch directory, environment variables, recursive removal, and the
// configuration stand-in mirrored into the registry key.
//
// On Linux the provider reads its "registry" from the key=value file named by
// QUILLON_REGISTRY. On Windows it reads the real key, so before each load the
// tests copy that file's pairs into HKLM\SOFTWARE\Velmora\Quillon, or delete
// the key when the file does not exist: the same test then sees the same
// configuration on both systems.
#ifndef QUILLON_TESTS_WINDOWS_WINDOWSTESTSUPPORT_H
#define QUILLON_TESTS_WINDOWS_WINDOWSTESTSUPPORT_H

#include <string>

namespace wintest {

// A new, empty directory under the system's temporary directory.
std::string makeScratchDir(const char* prefix);
// Deletes a directory with everything in it; true when it is gone.
bool removeTree(const std::string& dir);
void setEnv(const char* name, const char* value);
void unsetEnv(const char* name);
// Rewrites the registry key from the file named by QUILLON_REGISTRY.
void mirrorRegistryStandIn();

}  // namespace wintest

#endif
