// C_GenerateRandom and C_SeedRandom. The session only has to be open; the
// lock is released before generating, so a long request blocks no one.
#include "CallFrame.h"
#include "RandomGenerator.h"

namespace {
CK_RV sessionOpen(CSession&) {
    return CKR_OK;
}
}  // namespace

CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen) {
    logMessage("-> C_GenerateRandom (%lx, %p, %lx", hSession, static_cast<void*>(pRandomData),
               ulRandomLen);
    // Zero bytes is a valid request, answered CKR_OK with nothing written.
    CK_RV rv = frame::forSessionUnchecked(hSession, {pRandomData != nullptr || ulRandomLen == 0},
                                          nullptr, sessionOpen, frame::ZeroSession::Lookup);
    if (rv != CKR_OK) return rv;
    if (ulRandomLen) generateRandom(pRandomData, ulRandomLen);
    logMessage("<- C_GenerateRandom");
    return CKR_OK;
}

CK_RV C_SeedRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen) {
    logMessage("-> C_SeedRandom (%p, %lx)", static_cast<void*>(pSeed), ulSeedLen);
    CK_RV rv = frame::forSessionUnchecked(hSession, {pSeed != nullptr}, nullptr, sessionOpen);
    if (rv != CKR_OK) return rv;
    mixRandomSeed(pSeed, ulSeedLen);
    logMessage("<- C_SeedRandom");
    return CKR_OK;
}
