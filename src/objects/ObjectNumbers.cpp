#include "ObjectNumbers.h"

#include "CObjectTable.h"

uint16_t g_usNextObjNumber = 0;

uint16_t takeObjectNumber(ZT_HANDLE hConnection) {
    for (uint32_t tries = 0; tries <= 0xFFFF; ++tries) {
        uint16_t number = g_usNextObjNumber++;
        if (number != 0 && !CObjectTable::isNumberTaken(hConnection, number)) return number;
    }
    // Every number of the slot is taken: nothing free to give.
    return g_usNextObjNumber++;
}
