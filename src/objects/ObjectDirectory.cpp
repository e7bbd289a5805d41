#include "ObjectDirectory.h"

#include "C11Object.h"
#include "CardLibrary.h"
#include "Log.h"

namespace {
constexpr unsigned long kDirectoryReserve = 2000;
}

void parseObjectDirectory(const OrlByteArray& directory, ZT_HANDLE hConnection,
                          CObjectTable& table) {
    CBufferedReader reader(directory);
    unsigned char counter[2] = {0, 0};
    if (reader.read(counter, 1) == 1) {
        reader.read(counter + 1, 1);
        table.takeNextNumber(static_cast<uint16_t>(counter[0] << 8 | counter[1]));
    } else {
        table.takeNextNumber(1);
    }
    table.reload(hConnection, reader);
}

CK_RV readObjectDirectory(ZT_HANDLE hConnection, CObjectTable& table) {
    CardFunctions* card = cardFunctions();
    if (!card || !card->ZT_getObjectTbl) {
        logError("<e> ZT_getObjectTbl NOT SUPPORTED");
        return CKR_DEVICE_ERROR;
    }
    OrlByteArray directory;
    directory.ensureCapacity(kDirectoryReserve);
    ZT_STATUS status = card->ZT_getObjectTbl(hConnection, directory);
    if (status != 0 && status != kStatusNoDirectory) {
        logError("<e> ZT_getObjectTbl: %x", status);
        table.markForReload();
        return CKR_DEVICE_ERROR;
    }
    if (status != 0) directory.removeAll();
    try {
        parseObjectDirectory(directory, hConnection, table);
    } catch (const CUnknownObjectClass& e) {
        logError("<e> object directory: unknown class tag %u", e.tag);
        return CKR_GENERAL_ERROR;
    }
    return CKR_OK;
}

CK_RV buildObjectDirectory(CObjectTable& table, OrlByteArray& directory) {
    directory.removeAll();
    if (table.size() == 0) {
        directory.append(static_cast<unsigned char>(0x00));
        directory.append(static_cast<unsigned char>(0x01));
        return CKR_OK;
    }
    directory.append(static_cast<unsigned char>(table.nextNumber() >> 8));
    directory.append(static_cast<unsigned char>(table.nextNumber() & 0xFF));
    OrlBufferedWriter writer;
    unsigned long key = 0;
    C11Object* object = nullptr;
    for (CObjectTable::Entry* e = table.getFirstEntry(); e;) {
        e = table.getNextEntry(e, key, object);
        if (!object || !object->isToken()) continue;
        logMessage("write object: %x", object->getObjNumber());
        writer.write(static_cast<unsigned char>(object->getClass() & 0xFF));
        logMessage("class ok: %s", object->getLabel() ? object->getLabel() : "");
        CK_RV rv = object->write(writer);
        if (rv != CKR_OK) {
            logError("<e> pObject->write (%lX", static_cast<unsigned long>(rv));
            return rv;
        }
        logMessage("object %x wrote", object->getObjNumber());
    }
    writer.getContent(directory);
    return CKR_OK;
}

CK_RV writeObjectDirectory(ZT_HANDLE hConnection, CObjectTable& table) {
    OrlByteArray directory;
    CK_RV rv = buildObjectDirectory(table, directory);
    if (rv != CKR_OK) return rv;
    CardFunctions* card = cardFunctions();
    if (!card || !card->ZT_putObjectTbl) {
        logError("<e> ZT_putObjectTbl NOT SUPPORTED");
        return CKR_DEVICE_ERROR;
    }
    ZT_STATUS status = card->ZT_putObjectTbl(hConnection, directory);
    if (status != 0) {
        logError("<e> ZT_putObjectTbl %X", status);
        return CKR_DEVICE_ERROR;
    }
    logMessage("<- writeObjects");
    return CKR_OK;
}
