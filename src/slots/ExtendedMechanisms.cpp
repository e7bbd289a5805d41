// Sizes are what the token really handles: RSA moduli of 1024 to 4096 bits,
// AES keys of 16 to 32 bytes (PKCS#11 gives AES sizes in bytes), and no key
// at all for the digests.
#include "ExtendedMechanisms.h"

namespace {
constexpr CK_ULONG kRsaMinBits = 1024;
constexpr CK_ULONG kRsaMaxBits = 4096;
constexpr CK_FLAGS kRsaSign = CKF_HW | CKF_SIGN | CKF_VERIFY;
constexpr CK_FLAGS kRsaCipher = CKF_HW | CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP;
constexpr CK_FLAGS kPaddedCipher = CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP;
}  // namespace

const MechanismRow kExtendedMechanismTable[] = {
    {CKM_SHA224, 0, 0, CKF_DIGEST},
    {CKM_SHA256, 0, 0, CKF_DIGEST},
    {CKM_SHA384, 0, 0, CKF_DIGEST},
    {CKM_SHA512, 0, 0, CKF_DIGEST},
    {CKM_SHA224_RSA_PKCS, kRsaMinBits, kRsaMaxBits, kRsaSign},
    {CKM_SHA256_RSA_PKCS, kRsaMinBits, kRsaMaxBits, kRsaSign},
    {CKM_SHA384_RSA_PKCS, kRsaMinBits, kRsaMaxBits, kRsaSign},
    {CKM_SHA512_RSA_PKCS, kRsaMinBits, kRsaMaxBits, kRsaSign},
    {CKM_RSA_PKCS_PSS, kRsaMinBits, kRsaMaxBits, kRsaSign},
    {CKM_SHA1_RSA_PKCS_PSS, kRsaMinBits, kRsaMaxBits, kRsaSign},
    {CKM_SHA224_RSA_PKCS_PSS, kRsaMinBits, kRsaMaxBits, kRsaSign},
    {CKM_SHA256_RSA_PKCS_PSS, kRsaMinBits, kRsaMaxBits, kRsaSign},
    {CKM_SHA384_RSA_PKCS_PSS, kRsaMinBits, kRsaMaxBits, kRsaSign},
    {CKM_SHA512_RSA_PKCS_PSS, kRsaMinBits, kRsaMaxBits, kRsaSign},
    {CKM_RSA_PKCS_OAEP, kRsaMinBits, kRsaMaxBits, kRsaCipher},
    {CKM_AES_CBC_PAD, 16, 32, kPaddedCipher},
};
const CK_ULONG kExtendedMechanismCount =
    sizeof(kExtendedMechanismTable) / sizeof(kExtendedMechanismTable[0]);

CK_FLAGS extendedFlagsOf(CK_MECHANISM_TYPE type) {
    // Raw RSA signs with a private key and verifies in software.
    return type == CKM_RSA_X_509 ? CKF_SIGN | CKF_VERIFY : 0;
}
