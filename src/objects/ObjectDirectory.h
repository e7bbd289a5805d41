// Reading and writing the token's object directory: one byte string holding
// the object-number counter and one record per token object (byte grammar in
// DirectoryFormat.md). Pure card I/O and parsing; CTokenStore decides when
// they run (TokenStore.md). Both run under the global lock.
#ifndef QUILLON_OBJECTS_OBJECTDIRECTORY_H
#define QUILLON_OBJECTS_OBJECTDIRECTORY_H

#include "CObjectTable.h"
#include "OrlByteArray.h"

// Sets the table's counter from the directory's head (1 for an empty
// directory) and merges its records into the table (CObjectTable::reload).
// Throws CUnknownObjectClass for a record whose class tag is 5 or more.
void parseObjectDirectory(const OrlByteArray& directory, ZT_HANDLE hConnection,
                          CObjectTable& table);

// Reads the directory with ZT_getObjectTbl and parses it. Status 0 gives the
// bytes; exactly kStatusNoDirectory (the card library's own "nothing stored
// yet") gives an empty directory. Any other status, a status that merely ends
// in 9 included, gives CKR_DEVICE_ERROR with the table unchanged and still
// marked for reload. An unknown class tag gives CKR_GENERAL_ERROR; the records
// before it are merged and the table stays marked for reload.
CK_RV readObjectDirectory(ZT_HANDLE hConnection, CObjectTable& table);

// The directory bytes for the table: counter, then every token object's
// class tag and write() (which stores new and changed values first). An
// object's write failure is returned at once.
CK_RV buildObjectDirectory(CObjectTable& table, OrlByteArray& directory);

// Builds the directory and stores it with ZT_putObjectTbl (failure:
// CKR_DEVICE_ERROR).
CK_RV writeObjectDirectory(ZT_HANDLE hConnection, CObjectTable& table);

#endif
