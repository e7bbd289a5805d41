#include "RsaPublic.h"

#include <cryptopp/integer.h>
#include <cryptopp/rsa.h>

#include <cstring>

#include "OrlByteArray.h"
#include "Pkcs1.h"

size_t modulusLength(const unsigned char* modulus, size_t length) {
    size_t skip = 0;
    while (skip < length && modulus[skip] == 0) ++skip;
    return length - skip;
}

CK_RV rsaPublicOperation(const OrlByteArray& modulus, const OrlByteArray& exponent,
                         const unsigned char* in, size_t inLen, OrlByteArray& out) {
    size_t k = modulusLength(modulus.getContent(), modulus.getLength());
    if (k == 0 || k > kMaxModulusBytes) return CKR_KEY_SIZE_RANGE;

    CryptoPP::Integer n(modulus.getContent(), modulus.getLength());
    CryptoPP::Integer e(exponent.getContent(), exponent.getLength());
    CryptoPP::Integer x(in, inLen);
    if (x >= n) return CKR_DATA_INVALID;

    CryptoPP::RSAFunction rsa;
    rsa.Initialize(n, e);
    CryptoPP::Integer y = rsa.ApplyFunction(x);

    unsigned long start = out.getLength();
    out.setLength(start + k);  // zero-filled: the leading bytes stay 00
    y.Encode(out.getContent() + start, k);
    return CKR_OK;
}

void leftPadToLength(OrlByteArray& value, size_t k) {
    size_t length = value.getLength();
    if (length >= k) return;
    size_t pad = k - length;
    value.setLength(k);
    unsigned char* p = value.getContent();
    std::memmove(p + pad, p, length);
    std::memset(p, 0, pad);
}
