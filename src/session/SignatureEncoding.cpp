#include "SignatureEncoding.h"

#include <cstring>

#include "OrlByteArray.h"
#include "RsaPublic.h"

namespace {

// Whether the k-byte big-endian value is below the k-byte modulus.
bool belowModulus(const unsigned char* value, const unsigned char* modulus, size_t k) {
    return std::memcmp(value, modulus, k) < 0;
}

// The modulus without leading zero bytes.
const unsigned char* modulusDigits(const OrlByteArray& n, size_t& k) {
    k = modulusLength(n.getContent(), n.getLength());
    return n.getContent() + (n.getLength() - k);
}

}  // namespace

size_t modulusBits(const unsigned char* modulus, size_t length) {
    size_t k = modulusLength(modulus, length);
    if (k == 0) return 0;
    unsigned top = modulus[length - k];
    size_t bits = 8 * (k - 1);
    while (top) {
        ++bits;
        top >>= 1;
    }
    return bits;
}

CK_RV buildSignatureBlock(const SignatureScheme& scheme, const PssParameters& pss,
                          const OrlByteArray& content, const OrlByteArray& modulus,
                          OrlByteArray& block) {
    size_t k = 0;
    const unsigned char* n = modulusDigits(modulus, k);
    if (k == 0 || k > kMaxModulusBytes) return CKR_KEY_SIZE_RANGE;
    switch (scheme.padding) {
        case SignaturePadding::Pkcs1:
            return pkcs1Pad(1, k, content.getContent(), content.getLength(), block);
        case SignaturePadding::Pss:
            return pssEncode(pss, content.getContent(), content.getLength(),
                             modulusBits(modulus.getContent(), modulus.getLength()), block);
        case SignaturePadding::Raw: {
            if (content.getLength() > k) return CKR_DATA_LEN_RANGE;
            OrlByteArray padded(content);
            leftPadToLength(padded, k);
            if (!belowModulus(padded.getContent(), n, k)) return CKR_DATA_INVALID;
            block.append(padded);
            return CKR_OK;
        }
    }
    return CKR_MECHANISM_INVALID;
}

bool signatureBlockValid(const SignatureScheme& scheme, const PssParameters& pss,
                         const OrlByteArray& content, const unsigned char* recovered,
                         size_t recoveredLength, const OrlByteArray& modulus) {
    size_t k = 0;
    modulusDigits(modulus, k);
    if (k == 0 || recoveredLength != k) return false;
    switch (scheme.padding) {
        case SignaturePadding::Pkcs1:
            return pkcs1SignatureBlockMatches(recovered, recoveredLength, k, content.getContent(),
                                              content.getLength());
        case SignaturePadding::Pss:
            return pssVerify(pss, content.getContent(), content.getLength(), recovered,
                             recoveredLength,
                             modulusBits(modulus.getContent(), modulus.getLength()));
        case SignaturePadding::Raw: {
            if (content.getLength() > k) return false;
            OrlByteArray padded(content);
            leftPadToLength(padded, k);
            return std::memcmp(padded.getContent(), recovered, k) == 0;
        }
    }
    return false;
}
