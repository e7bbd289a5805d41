// The frame every exported C_ function runs: initialisation check, argument
// checks before the lock, the global lock, lookup, work, release on every way
// out, and any escaping exception turned into CKR_GENERAL_ERROR.
//
// An entry point logs its own entry line, then hands its argument checks and
// its work to one of the calls below, e.g.
//
//   logMessage("-> C_GetSlotInfo(%lu,%p)", slotID, pInfo);
//   return frame::forSlot(slotID, {pInfo != nullptr}, "<- C_GetSlotInfo",
//                         [&](const char* reader) { return getSlotInfo(slotID, reader, pInfo); });
#ifndef QUILLON_MODULE_CALLFRAME_H
#define QUILLON_MODULE_CALLFRAME_H

#include <atomic>
#include <initializer_list>

#include "CardAnswers.h"
#include "GlobalLock.h"
#include "Log.h"
#include "cryptoki.h"

class CSession;

// 1 between a successful C_Initialize and the next C_Finalize.
extern std::atomic<int> g_bInitialized;

// Under the global lock: the open session with that handle. Unknown handle:
// CKR_SESSION_HANDLE_INVALID; closed session: CKR_SESSION_CLOSED (both logged).
CK_RV lookupSession(CK_SESSION_HANDLE hSession, CSession** session);
// Under the global lock: the reader name of a valid slot ID, else null.
const char* lookupSlot(CK_SLOT_ID slotID);

namespace frame {

typedef std::initializer_list<bool> Checks;

CK_RV notInitialised();  // logs and answers CKR_CRYPTOKI_NOT_INITIALIZED
CK_RV argumentsBad();    // logs and answers CKR_ARGUMENTS_BAD
CK_RV unexpectedException();
CK_RV slotInvalid();

// The initialisation check and the argument checks, in order.
inline CK_RV precheck(Checks checks) {
    if (!g_bInitialized.load()) return notInitialised();
    for (bool ok : checks) {
        if (!ok) return argumentsBad();
    }
    return CKR_OK;
}

// Runs work under the global lock; exitLine (if any) is logged after release.
// A failed release wins over the work's own result. The card's answers noted
// during the work are settled before the lock goes (CardAnswers.h).
template <typename Work>
CK_RV lockedUnchecked(const char* exitLine, Work&& work) {
    CK_RV rv = acquireGlobalLock();
    if (rv != CKR_OK) return rv;
    CK_RV result;
    try {
        result = work();
        if (cardAnswersNoted()) result = settleCardAnswers(result);
    } catch (...) {
        result = unexpectedException();
    }
    CK_RV released = releaseGlobalLock();
    if (exitLine) logMessage("%s", exitLine);
    return released != CKR_OK ? released : result;
}

// As lockedUnchecked, but nothing runs once C_Finalize has begun: a call that
// waited for the lock meanwhile answers CKR_CRYPTOKI_NOT_INITIALIZED.
template <typename Work>
CK_RV locked(const char* exitLine, Work&& work) {
    return lockedUnchecked(exitLine, [&]() -> CK_RV {
        if (!g_bInitialized.load()) return notInitialised();
        return work();
    });
}

// Checks, then work() under the lock.
template <typename Work>
CK_RV call(Checks checks, const char* exitLine, Work&& work) {
    CK_RV rv = precheck(checks);
    if (rv != CKR_OK) return rv;
    return locked(exitLine, work);
}

// How an entry point answers a session handle of 0: as a bad argument (most),
// as an invalid handle with its own log line, or by the lookup failing.
enum class ZeroSession { BadArguments, InvalidHandle, Lookup };

CK_RV sessionHandleZero();  // logs and answers CKR_SESSION_HANDLE_INVALID

namespace detail {
template <bool kInitialised, typename Work>
CK_RV sessionCall(CK_SESSION_HANDLE hSession, Checks checks, const char* exitLine, Work&& work,
                  ZeroSession zero) {
    if (kInitialised && !g_bInitialized.load()) return notInitialised();
    if (hSession == 0 && zero == ZeroSession::BadArguments) return argumentsBad();
    if (hSession == 0 && zero == ZeroSession::InvalidHandle) return sessionHandleZero();
    for (bool ok : checks) {
        if (!ok) return argumentsBad();
    }
    auto lookupAndWork = [&]() -> CK_RV {
        CSession* session = nullptr;
        CK_RV found = lookupSession(hSession, &session);
        if (found != CKR_OK) return found;
        return work(*session);
    };
    // Unchecked, a call after C_Finalize fails at the lookup: the table is empty.
    return kInitialised ? locked(exitLine, lookupAndWork)
                        : lockedUnchecked(exitLine, lookupAndWork);
}
}  // namespace detail

// As forSession, without the initialisation check: before C_Initialize such
// calls fail at the session lookup instead.
template <typename Work>
CK_RV forSessionUnchecked(CK_SESSION_HANDLE hSession, Checks checks, const char* exitLine,
                          Work&& work, ZeroSession zero = ZeroSession::BadArguments) {
    return detail::sessionCall<false>(hSession, checks, exitLine, work, zero);
}

// Checks (a session handle of 0 first, as `zero` says), then work(CSession&)
// under the lock on the session the handle names.
template <typename Work>
CK_RV forSession(CK_SESSION_HANDLE hSession, Checks checks, const char* exitLine, Work&& work,
                 ZeroSession zero = ZeroSession::BadArguments) {
    return detail::sessionCall<true>(hSession, checks, exitLine, work, zero);
}

// Checks, then work(readerName) under the lock for a valid slot ID.
template <typename Work>
CK_RV forSlot(CK_SLOT_ID slotID, Checks checks, const char* exitLine, Work&& work) {
    CK_RV rv = precheck(checks);
    if (rv != CKR_OK) return rv;
    return locked(exitLine, [&]() -> CK_RV {
        const char* reader = lookupSlot(slotID);
        if (!reader) return slotInvalid();
        return work(reader);
    });
}

}  // namespace frame

#endif
