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

// The mechanisms offered under the configured set: the classic rows, then,
// with the extended set, the extended rows.
CK_ULONG offeredMechanismCount();
const MechanismRow& offeredMechanism(CK_ULONG index);
// The offered row of a mechanism, or null when it is not offered now.
const MechanismRow* findOfferedMechanism(CK_MECHANISM_TYPE type);
// Whether an operation may use the mechanism: it is offered now.
bool mechanismOffered(CK_MECHANISM_TYPE type);

#endif
