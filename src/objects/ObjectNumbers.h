// Object numbers: the handle an application sees is the object's 16-bit
// number. g_usNextObjNumber is process-wide; reading a directory sets it and
// writing one stores it, so token objects keep their handles across processes.
#ifndef QUILLON_OBJECTS_OBJECTNUMBERS_H
#define QUILLON_OBJECTS_OBJECTNUMBERS_H

#include <cstdint>

#include "CardFunctions.h"

extern uint16_t g_usNextObjNumber;

// The number for an object made from a template on the token behind
// hConnection: the counter's value, advanced past every number that an object
// of that slot's table already has and past 0 (the invalid handle), so a new
// object never replaces another. The counter ends just after the number given.
// Requires the global lock.
uint16_t takeObjectNumber(ZT_HANDLE hConnection);

#endif
