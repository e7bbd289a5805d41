// The fixed table of mechanisms this provider offers, the same for every slot.
#ifndef QUILLON_SLOTS_MECHANISMS_H
#define QUILLON_SLOTS_MECHANISMS_H

#include "cryptoki.h"

struct MechanismRow {
    CK_MECHANISM_TYPE type;
    CK_ULONG minKeySize;
    CK_ULONG maxKeySize;
    CK_FLAGS flags;
};

// The rows in the order C_GetMechanismList reports them; null when unknown.
const MechanismRow* findMechanism(CK_MECHANISM_TYPE type);
extern const MechanismRow kMechanismTable[];
extern const CK_ULONG kMechanismCount;

#endif
