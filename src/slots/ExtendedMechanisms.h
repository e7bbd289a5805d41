// The mechanisms of the extended set, listed after the classic 19, and the
// capabilities the extended set adds to classic mechanisms.
#ifndef QUILLON_SLOTS_EXTENDEDMECHANISMS_H
#define QUILLON_SLOTS_EXTENDEDMECHANISMS_H

#include "Mechanisms.h"

extern const MechanismRow kExtendedMechanismTable[];
extern const CK_ULONG kExtendedMechanismCount;

// Flags a classic mechanism gains with the extended set (raw RSA signs); 0
// for every other mechanism.
CK_FLAGS extendedFlagsOf(CK_MECHANISM_TYPE type);

#endif
