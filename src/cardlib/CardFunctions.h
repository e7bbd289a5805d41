// The card-access library's table of 24 entry points, shared by the provider
// and by every card-access library built here. A library exports
// "GetFunctionList", which fills the caller's table.
//
// Every entry answers a 32-bit status: 0 is success; otherwise an ISO 7816
// status word (0x63Cn wrong PIN with n tries left, 0x6983 blocked, 0x6A80,
// 0x6982 security status not satisfied) or a library code. Buffers and texts
// belong to the caller; path buffers are kCardPathSize bytes.
#ifndef QUILLON_CARDLIB_CARDFUNCTIONS_H
#define QUILLON_CARDLIB_CARDFUNCTIONS_H

#include <cstdint>

#include "OrlByteArray.h"
#include "OrlStringVector.h"

typedef uint64_t ZT_HANDLE;
typedef uint32_t ZT_STATUS;

constexpr unsigned kCardPathSize = 256;

// Access classes of stored values.
enum : uint32_t {
    kAccessPublicData = 0,
    kAccessPrivateData = 1,
    kAccessCertificate = 2,
    kAccessSecretKey = 3,
};

// Statuses the provider interprets itself, recognised only when the library
// answers exactly them (a status that merely ends in 7 or 9, like PC/SC's
// 0x80100009, is a failure like any other).
constexpr uint32_t kStatusEmptyObject = 7;  // the stored value was allocated, never written
constexpr uint32_t kStatusNoDirectory = 9;  // the card holds no directory yet
constexpr uint32_t kStatusNotVerified = 0x6982;
constexpr uint32_t kStatusPinBlocked = 0x6983;
constexpr uint32_t kStatusWrongData = 0x6A80;
// Library codes of the card libraries built here that say the connection is
// dead: its card was pulled out or replaced, or the handle names no connection.
constexpr uint32_t kStatusNoCard = 0x5A540103;
constexpr uint32_t kStatusUnknownConnection = 0x5A540104;

// User type meaning "nobody logged in" in ZT_verifyPIN / ZT_changePIN.
constexpr uint32_t kNoUserType = 0xFFFFFFFFu;

// Modes of ZT_applyPrivateKey.
enum : unsigned char {
    kPrivateKeyRaw = 0,           // raw private-key operation on a modulus-length block
    kPrivateKeyDecryptPkcs1 = 1,  // private-key operation, then PKCS#1 v1.5 type 2 unpadding
};

typedef ZT_STATUS (*ZT_connect_t)(const char* readerName, ZT_HANDLE* handle);
typedef ZT_STATUS (*ZT_disconnect_t)(ZT_HANDLE handle);
typedef ZT_STATUS (*ZT_verifyPIN_t)(ZT_HANDLE handle, uint32_t userType, const char* pin);
typedef ZT_STATUS (*ZT_changePIN_t)(ZT_HANDLE handle, uint32_t userType, const char* newPin);
typedef ZT_STATUS (*ZT_initPIN_t)(ZT_HANDLE handle, const char* newPin);
typedef ZT_STATUS (*ZT_writeObj_t)(ZT_HANDLE handle, const char* path, uint32_t accessClass,
                                   OrlByteArray& data);
typedef ZT_STATUS (*ZT_readObj_t)(ZT_HANDLE handle, const char* path, uint32_t accessClass,
                                  OrlByteArray& out);
// With empty data: allocates a new object and writes its path into `path`.
// With data: stores the bytes at the object named by `path`.
typedef ZT_STATUS (*ZT_addObj_t)(ZT_HANDLE handle, OrlByteArray& data, uint32_t accessClass,
                                 char* path);
typedef ZT_STATUS (*ZT_deleteObj_t)(ZT_HANDLE handle, const char* path);
typedef ZT_STATUS (*ZT_getObjectTbl_t)(ZT_HANDLE handle, OrlByteArray& out);
typedef ZT_STATUS (*ZT_putObjectTbl_t)(ZT_HANDLE handle, OrlByteArray& directory);
typedef ZT_STATUS (*ZT_applyPrivateKey_t)(ZT_HANDLE handle, const char* path, unsigned char mode,
                                          OrlByteArray& in, OrlByteArray& out);
typedef ZT_STATUS (*ZT_genKeyPair_t)(ZT_HANDLE handle, uint32_t modulusBits,
                                     OrlByteArray* publicExponent, char* path);
typedef ZT_STATUS (*ZT_getSlotList_t)(OrlStringVector& readers);
typedef ZT_STATUS (*ZT_isInserted_t)(const char* readerName);
typedef ZT_STATUS (*ZT_getTokenInfo_t)(const char* readerName, char* serialNumber, char* label,
                                       char* manufacturer, char* model);
typedef ZT_STATUS (*ZT_getPublicKey_t)(ZT_HANDLE handle, const char* path, OrlByteArray& out);
typedef ZT_STATUS (*ZT_putKeyPair_t)(ZT_HANDLE handle, OrlByteArray& modulus,
                                     OrlByteArray& privateExponent, OrlByteArray& publicExponent,
                                     char* path);
typedef ZT_STATUS (*ZT_open_t)();
typedef ZT_STATUS (*ZT_close_t)();

// Entries 16, 19, 20 and 21 are never called. Entries 0, 5, 7, 8, 12 and 18
// may be null and are checked before use.
struct CardFunctions {
    ZT_connect_t ZT_connect;                  // 0
    ZT_disconnect_t ZT_disconnect;            // 1
    ZT_verifyPIN_t ZT_verifyPIN;              // 2
    ZT_changePIN_t ZT_changePIN;              // 3
    ZT_initPIN_t ZT_initPIN;                  // 4
    ZT_writeObj_t ZT_writeObj;                // 5
    ZT_readObj_t ZT_readObj;                  // 6
    ZT_addObj_t ZT_addObj;                    // 7
    ZT_deleteObj_t ZT_deleteObj;              // 8
    ZT_getObjectTbl_t ZT_getObjectTbl;        // 9
    ZT_putObjectTbl_t ZT_putObjectTbl;        // 10
    ZT_applyPrivateKey_t ZT_applyPrivateKey;  // 11
    ZT_genKeyPair_t ZT_genKeyPair;            // 12
    ZT_getSlotList_t ZT_getSlotList;          // 13
    ZT_isInserted_t ZT_isInserted;            // 14
    ZT_getTokenInfo_t ZT_getTokenInfo;        // 15
    void* reserved16;                         // 16
    ZT_getPublicKey_t ZT_getPublicKey;        // 17
    ZT_putKeyPair_t ZT_putKeyPair;            // 18
    void* reserved19;                         // 19
    void* reserved20;                         // 20
    void* reserved21;                         // 21
    ZT_open_t ZT_open;                        // 22
    ZT_close_t ZT_close;                      // 23
};
static_assert(sizeof(CardFunctions) == 24 * sizeof(void*), "the table has 24 entries");

// The export every card-access library offers.
typedef ZT_STATUS (*ZT_GetFunctionList_t)(CardFunctions* table);
#define ZT_GET_FUNCTION_LIST_NAME "GetFunctionList"

#endif
