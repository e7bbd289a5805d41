#include "PrivateKeyResult.h"

#include <cstring>

#include "CryptoOperations.h"
#include "Log.h"
#include "OrlByteArray.h"
#include "Pkcs1.h"
#include "RsaPublic.h"

namespace {

CK_RV refuse(const char* why, unsigned long length) {
    logMessage("<e> ZT_applyPrivateKey result refused (%s): %lX", why, length);
    return CKR_DEVICE_ERROR;
}

// The bytes of an unsigned big-endian number without its leading zeros.
void significant(const OrlByteArray& a, const unsigned char** p, size_t* n) {
    size_t skip = a.getLength() - modulusLength(a.getContent(), a.getLength());
    *p = a.getContent() + skip;
    *n = a.getLength() - skip;
}

bool sameNumber(const OrlByteArray& a, const OrlByteArray& b) {
    const unsigned char *pa, *pb;
    size_t na, nb;
    significant(a, &pa, &na);
    significant(b, &pb, &nb);
    return na == nb && (na == 0 || std::memcmp(pa, pb, na) == 0);
}

}  // namespace

CK_RV checkPrivateKeyResult(CCryptoKey& key, PrivateKeyResult kind, const OrlByteArray& in,
                            const OrlByteArray& result) {
    const unsigned long length = result.getLength();
    OrlByteArray n;
    if (key.getModulus(n) != CKR_OK) return refuse("no modulus to check it against", length);
    const size_t k = modulusLength(n.getContent(), n.getLength());
    if (k == 0 || k > kMaxModulusBytes) return refuse("unusable modulus", length);

    if (kind == PrivateKeyResult::Pkcs1Message) {
        if (k < kPkcs1Overhead || length > k - kPkcs1Overhead)
            return refuse("message longer than the block holds", length);
        return CKR_OK;
    }

    if (length == 0) return refuse("empty", length);
    if (length > k) return refuse("longer than the modulus", length);
    OrlByteArray e, recovered;
    if (key.getPublicExponent(e) != CKR_OK || e.getLength() == 0)
        return refuse("no public exponent to verify it with", length);
    try {
        if (rsaPublicOperation(n, e, result.getContent(), length, recovered) != CKR_OK)
            return refuse("not below the modulus", length);
    } catch (...) {
        return refuse("public key unusable", length);
    }
    if (!sameNumber(recovered, in)) return refuse("does not verify with the public key", length);
    return CKR_OK;
}
