// C_GenerateRandom and C_SeedRandom. The session only has to be open; the
// lock is released before generating, so a long request blocks no one.
#include "CallFrame.h"
#include "RandomGenerator.h"

namespace {
// Under the lock: the handle names an open session.
CK_RV checkSession(CK_SESSION_HANDLE hSession) {
    return frame::locked(nullptr, [&] {
        CSession* session = nullptr;
        return lookupSession(hSession, &session);
    });
}
}  // namespace

CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen) {
    logMessage("-> C_GenerateRandom (%lx, %p, %lx", hSession, static_cast<void*>(pRandomData),
               ulRandomLen);
    if (!pRandomData || ulRandomLen == 0) return frame::argumentsBad();
    CK_RV rv = checkSession(hSession);
    if (rv != CKR_OK) return rv;
    generateRandom(pRandomData, ulRandomLen);
    logMessage("<- C_GenerateRandom");
    return CKR_OK;
}

CK_RV C_SeedRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen) {
    logMessage("-> C_SeedRandom (%p, %lx)", static_cast<void*>(pSeed), ulSeedLen);
    if (hSession == 0 || !pSeed) return frame::argumentsBad();
    CK_RV rv = checkSession(hSession);
    if (rv != CKR_OK) return rv;
    mixRandomSeed(pSeed, ulSeedLen);
    logMessage("<- C_SeedRandom");
    return CKR_OK;
}
