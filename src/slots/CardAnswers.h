// What the card's answers say about its connection, and how the slot follows.
//
// The per-connection entries of the card table are watched: an answer that
// says the PIN the call needed is not verified (0x6982), or that the
// connection is dead (card pulled out or replaced, unknown handle), is noted
// against its connection handle. When the call's work is over (still under
// the global lock, so no object the work used is pulled away beneath it) the
// frame settles the notes:
//
//   | card answer            | the slot                    | a CKR_DEVICE_ERROR becomes |
//   |------------------------|-----------------------------|----------------------------|
//   | 0x6982 not verified    | its login ends, when the    | CKR_USER_NOT_LOGGED_IN     |
//   |                        | PIN needed is the one the   |                            |
//   |                        | slot believes verified      |                            |
//   | no card / unknown      | removal handling, as when   | CKR_DEVICE_REMOVED         |
//   | connection             | the reader monitor sees it  |                            |
//
// A note whose handle is no longer any slot's connection (the slot has
// reconnected since) changes no slot.
#ifndef QUILLON_SLOTS_CARDANSWERS_H
#define QUILLON_SLOTS_CARDANSWERS_H

#include <atomic>
#include <cstdint>

#include "CardFunctions.h"
#include "cryptoki.h"

enum class CardAnswer { Other, NotVerified, ConnectionGone };

CardAnswer classifyCardAnswer(uint32_t status);

// Replaces the per-connection entries of the table with watching ones that
// call the library's own (idempotent; null entries stay null).
void watchCardAnswers(CardFunctions* table);

namespace detail {
extern std::atomic<bool> g_cardAnswersNoted;
}

// Cheap test for the frame: whether a note waits to be settled.
inline bool cardAnswersNoted() {
    return detail::g_cardAnswersNoted.load(std::memory_order_relaxed);
}

// Under the global lock, after a call's work: the slots follow the notes, and
// a result of CKR_DEVICE_ERROR is replaced by the code the card's answer explains.
CK_RV settleCardAnswers(CK_RV result);

// Forgets the notes without acting on them (C_Finalize).
void forgetCardAnswers();

#endif
