// C_GetMechanismList and C_GetMechanismInfo. Sizes are in bits except for
// AES, whose key sizes PKCS#11 gives in bytes; the RSA range covers what the
// token generates and accepts. The flags name what each mechanism does here:
// every cipher also wraps and unwraps (wrapping is an encryption of the key's
// value), raw RSA encrypts with the public key as well. DES, triple-DES and
// the digests keep the sizes this token has always announced.
#include "Mechanisms.h"

#include "CallFrame.h"
#include "ExtendedMechanisms.h"
#include "MechanismSet.h"

namespace {
constexpr CK_ULONG kRsaMinBits = 1024;
constexpr CK_ULONG kRsaMaxBits = 4096;
constexpr CK_FLAGS kWrapping = CKF_WRAP | CKF_UNWRAP;
constexpr CK_FLAGS kRsaCipherSign =
    CKF_HW | CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_VERIFY | kWrapping;
constexpr CK_FLAGS kRsaSign = CKF_HW | CKF_SIGN | CKF_VERIFY;
constexpr CK_FLAGS kRsaRaw = CKF_HW | CKF_ENCRYPT | CKF_DECRYPT | kWrapping;
constexpr CK_FLAGS kCipher = CKF_ENCRYPT | CKF_DECRYPT | kWrapping;
}  // namespace

const MechanismRow kMechanismTable[] = {
    {CKM_RSA_PKCS, kRsaMinBits, kRsaMaxBits, kRsaCipherSign},
    {CKM_RSA_PKCS_KEY_PAIR_GEN, kRsaMinBits, kRsaMaxBits, CKF_HW | CKF_GENERATE_KEY_PAIR},
    {CKM_MD2_RSA_PKCS, kRsaMinBits, kRsaMaxBits, kRsaSign},
    {CKM_MD5_RSA_PKCS, kRsaMinBits, kRsaMaxBits, kRsaSign},
    {CKM_SHA1_RSA_PKCS, kRsaMinBits, kRsaMaxBits, kRsaSign},
    {CKM_MD2, 1024, 4096, CKF_DIGEST},
    {CKM_MD5, 1024, 4096, CKF_DIGEST},
    {CKM_SHA_1, 1024, 4096, CKF_DIGEST},
    {CKM_VENDOR_RSA_RAW, kRsaMinBits, kRsaMaxBits, kRsaRaw},
    {CKM_RSA_X_509, kRsaMinBits, kRsaMaxBits, kRsaRaw},
    {CKM_DES_CBC, 64, 64, kCipher},
    {CKM_DES_ECB, 64, 64, kCipher},
    {CKM_DES_KEY_GEN, 64, 64, CKF_GENERATE},
    {CKM_DES3_CBC, 128, 128, kCipher},
    {CKM_DES3_ECB, 128, 128, kCipher},
    {CKM_DES3_KEY_GEN, 128, 128, CKF_GENERATE},
    {CKM_AES_CBC, 16, 32, kCipher},
    {CKM_AES_ECB, 16, 32, kCipher},
    {CKM_AES_KEY_GEN, 16, 32, CKF_GENERATE},
};
const CK_ULONG kMechanismCount = sizeof(kMechanismTable) / sizeof(kMechanismTable[0]);
static_assert(sizeof(kMechanismTable) / sizeof(kMechanismTable[0]) == 19, "19 mechanisms");

const MechanismRow* findMechanism(CK_MECHANISM_TYPE type) {
    for (const MechanismRow& row : kMechanismTable)
        if (row.type == type) return &row;
    return nullptr;
}

CK_ULONG offeredMechanismCount() {
    return kMechanismCount + (extendedMechanismsEnabled() ? kExtendedMechanismCount : 0);
}

const MechanismRow& offeredMechanism(CK_ULONG index) {
    return index < kMechanismCount ? kMechanismTable[index]
                                   : kExtendedMechanismTable[index - kMechanismCount];
}

const MechanismRow* findOfferedMechanism(CK_MECHANISM_TYPE type) {
    for (CK_ULONG i = 0, count = offeredMechanismCount(); i < count; ++i)
        if (offeredMechanism(i).type == type) return &offeredMechanism(i);
    return nullptr;
}

bool mechanismOffered(CK_MECHANISM_TYPE type) {
    return findOfferedMechanism(type) != nullptr;
}

namespace {
// The slot check runs under the lock; the answer is built without it.
CK_RV checkSlot(CK_SLOT_ID slotID, bool argumentOk) {
    return frame::forSlot(slotID, {argumentOk}, nullptr, [](const char*) { return CKR_OK; });
}
}  // namespace

CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList,
                         CK_ULONG_PTR pulCount) {
    logMessage("-> C_GetMechanismList(%lu,%p,%p)", slotID, static_cast<void*>(pMechanismList),
               static_cast<void*>(pulCount));
    CK_RV rv = checkSlot(slotID, pulCount != nullptr);
    if (rv != CKR_OK) return rv;
    const CK_ULONG count = offeredMechanismCount();
    if (!pMechanismList) {
        *pulCount = count;
        logMessage("<- C_GetMechanismList");
        return CKR_OK;
    }
    if (*pulCount < count) {
        *pulCount = count;
        logMessage("->e<- CKR_BUFFER_TOO_SMALL");
        return CKR_BUFFER_TOO_SMALL;
    }
    *pulCount = count;
    for (CK_ULONG i = 0; i < count; ++i) pMechanismList[i] = offeredMechanism(i).type;
    return CKR_OK;
}

CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
    logMessage("-> C_GetMechanismInfo(%lu,%lu,%p)", slotID, type, static_cast<void*>(pInfo));
    CK_RV rv = checkSlot(slotID, pInfo != nullptr);
    if (rv != CKR_OK) return rv;
    pInfo->ulMinKeySize = 1024;
    pInfo->ulMaxKeySize = 4096;
    const MechanismRow* row = findOfferedMechanism(type);
    if (!row) {
        logError("C_GetMechanismInfo ");
        return CKR_MECHANISM_INVALID;
    }
    pInfo->ulMinKeySize = row->minKeySize;
    pInfo->ulMaxKeySize = row->maxKeySize;
    pInfo->flags = row->flags | (extendedMechanismsEnabled() ? extendedFlagsOf(type) : 0);
    logMessage("<- C_GetMechanismInfo");
    return CKR_OK;
}
