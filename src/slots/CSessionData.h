// The state that all sessions open on one slot share: the card connection, the
// token's login state and its object table. One per slot, found or created by
// getSessionData for each new session and destroyed with the last session's
// release. It is also a reader listener: the reader monitor tells it when the
// card leaves or comes back (see docs/reader-monitor.md).
#ifndef QUILLON_SLOTS_CSESSIONDATA_H
#define QUILLON_SLOTS_CSESSIONDATA_H

#include <cstdint>

#include "CObjectTable.h"
#include "CSmartCardReaderListener.h"
#include "CardFunctions.h"
#include "OrlHashtable.h"
#include "TokenStore.h"
#include "cryptoki.h"

class CSession;

class CSessionData : public KESAPI::CSmartCardReaderListener {
public:
    static constexpr unsigned kReaderNameSize = 260;

    // Under the global lock. The slot's state with one more reference recorded
    // for `session`, or null with the CK_RV left in the thread's last-error value.
    static CSessionData* getSessionData(CK_SLOT_ID* slotID, const char* readerName,
                                        CSession* session);
    // Under the global lock. Drops the reference `session` held; the last one
    // destroys the state, which disconnects from the card.
    static void release(CK_SLOT_ID* slotID, CSession* session);
    // Under the global lock: the state of a slot, or null (for tests and diagnostics).
    static CSessionData* find(CK_SLOT_ID slotID);
    static unsigned tableSize();

    // Does not connect; reads whether a card is in the reader.
    CSessionData(CK_SLOT_ID* slotID, const char* readerName);
    ~CSessionData() override;

    void addSession(CSession* session);
    // The token-wide part of logout: private objects go, nobody is logged in.
    // The card's own verification is not touched (see endLogin).
    void clearLogin();
    // Logout as the card sees it too: clearLogin, then a fresh connection, so
    // no PIN stays verified (the card library has no logout). A card that
    // cannot be reached any more is handled as removed.
    void endLogin();
    // Ends whatever the card verified on this connection without a login
    // (C_SetPIN while nobody is logged in): a fresh connection.
    void renewConnection();

    // Card answers noted by the frame (CardAnswers.h), under the global lock.
    // The slot whose connection is `handle` handles its card as removed.
    static void connectionGone(ZT_HANDLE handle);
    // The card says the PIN of `role` is not verified on `handle`: a login of
    // that role ends.
    static void verificationMissing(ZT_HANDLE handle, uint32_t role);

    // Reader events. Run under the global lock (the monitor's callback lock).
    void noReadersAvailable() override;
    void readerRemoved(const char* reader) override;
    void cancelled(const char* reader) override;
    void smartCardRemoved(const char* reader) override;
    void smartCardInserted(const char* reader, unsigned long context) override;

    uint32_t m_ulRefCount;
    uint32_t m_ulUserType;  // CKU_USER, CKU_SO, or kNoUserType
    uint32_t m_ulPinTriesLeft;
    ZT_HANDLE m_hConnection;
    CObjectTable m_objectTable;
    // Keeps m_objectTable in step with the card (declared after it).
    CTokenStore m_tokenStore{m_objectTable};
    char m_szReaderName[kReaderNameSize];
    uint32_t m_slotID;
    OrlHashtable<CSession*, CSession*> m_sessions;
    unsigned char m_bIsTokenPresent;

private:
    // Slot ID -> the slot's state; at most one per slot.
    static OrlHashtable<unsigned long, CSessionData*>& s_sessionDataTbl;

    static CSessionData* withConnection(ZT_HANDLE handle);
    bool isMyReader(const char* reader) const;
    void disconnect();
    // A new connection to the card in the reader (one retry); 0 or the status.
    uint32_t connect();
    // Whether the connection still reaches the card it was made to.
    bool connectionAlive();
    // A stale state (card removed) whose reader has a card again, or a state
    // whose connection died unseen: connected afresh. False: no usable card.
    bool reconnectForNewSession();
};

#endif
