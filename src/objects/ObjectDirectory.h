// Reading and writing the token's object directory: one byte string holding
// the object-number counter and one record per token object (byte grammar in
// DirectoryFormat.md). Both run under the global lock.
#ifndef QUILLON_OBJECTS_OBJECTDIRECTORY_H
#define QUILLON_OBJECTS_OBJECTDIRECTORY_H

#include "CObjectTable.h"
#include "OrlByteArray.h"

// Sets g_usNextObjNumber from the directory's head (1 for an empty directory)
// and reloads the table from its records. Throws CUnknownObjectClass for a
// record whose class tag is 5 or more.
void parseObjectDirectory(const OrlByteArray& directory, ZT_HANDLE hConnection,
                          CObjectTable& table);

// Reads the directory with ZT_getObjectTbl and parses it. Statuses 0 and any
// whose low 16 bits are 9 (no directory yet) are accepted; others give
// CKR_DEVICE_ERROR with the table unchanged. An unknown class tag gives
// CKR_GENERAL_ERROR; the records before it stay and the table stays marked
// for reload.
CK_RV readObjectDirectory(ZT_HANDLE hConnection, CObjectTable& table);

// The directory bytes for the table: counter, then every token object's
// class tag and write(). An object's write failure is returned at once.
CK_RV buildObjectDirectory(CObjectTable& table, OrlByteArray& directory);

// Builds the directory and stores it with ZT_putObjectTbl (failure:
// CKR_DEVICE_ERROR).
CK_RV writeObjectDirectory(ZT_HANDLE hConnection, CObjectTable& table);

#endif
