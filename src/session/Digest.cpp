#ifndef CRYPTOPP_ENABLE_NAMESPACE_WEAK
#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#endif
#include "Digest.h"

#include <cryptopp/md2.h>
#include <cryptopp/md5.h>
#include <cryptopp/sha.h>

#include "OrlByteArray.h"

namespace {

template <typename Hash>
std::unique_ptr<CryptoPP::HashTransformation> createHash() {
    return std::unique_ptr<CryptoPP::HashTransformation>(new Hash);
}

// MD2 and MD5 announce two bytes more than they deliver; applications that
// size their buffer from the announced length therefore always have room.
const DigestAlgorithm kDigests[] = {
    {CKM_MD2, "CKM_MD2", 18, 16, kAlgMd2, &createHash<CryptoPP::Weak1::MD2>, false},
    {CKM_MD5, "CKM_MD5", 18, 16, kAlgMd5, &createHash<CryptoPP::Weak1::MD5>, false},
    {CKM_SHA_1, "CKM_SHA_1", 20, 20, kAlgSha1, &createHash<CryptoPP::SHA1>, false},
    {CKM_SHA224, "CKM_SHA224", 28, 28, kAlgSha224, &createHash<CryptoPP::SHA224>, true},
    {CKM_SHA256, "CKM_SHA256", 32, 32, kAlgSha256, &createHash<CryptoPP::SHA256>, true},
    {CKM_SHA384, "CKM_SHA384", 48, 48, kAlgSha384, &createHash<CryptoPP::SHA384>, true},
    {CKM_SHA512, "CKM_SHA512", 64, 64, kAlgSha512, &createHash<CryptoPP::SHA512>, true},
};

// DER prefixes of DigestInfo up to the hash (RFC 8017, 9.2). Bytes 1 and the
// last byte are lengths, filled in from the hash length.
const unsigned char kMd2Header[] = {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                    0x86, 0xF7, 0x0D, 0x02, 0x02, 0x05, 0x00, 0x04, 0x10};
const unsigned char kMd5Header[] = {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                    0x86, 0xF7, 0x0D, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
const unsigned char kSha1Header[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                     0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
// SHA-2: the OID 2.16.840.1.101.3.4.2.n, n = 4 (SHA-224), 1, 2, 3 (SHA-512).
const unsigned char kSha224Header[] = {0x30, 0x00, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                       0x65, 0x03, 0x04, 0x02, 0x04, 0x05, 0x00, 0x04, 0x1C};
const unsigned char kSha256Header[] = {0x30, 0x00, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                       0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
const unsigned char kSha384Header[] = {0x30, 0x00, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                       0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30};
const unsigned char kSha512Header[] = {0x30, 0x00, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                       0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};

}  // namespace

const DigestAlgorithm* findDigestAlgorithm(CK_MECHANISM_TYPE mechanism) {
    for (const DigestAlgorithm& d : kDigests) {
        if (d.mechanism == mechanism) return &d;
    }
    return nullptr;
}

void computeDigest(const DigestAlgorithm& algorithm, const unsigned char* data, size_t length,
                   OrlByteArray& out) {
    std::unique_ptr<CryptoPP::HashTransformation> hash = algorithm.create();
    unsigned char digest[kMaxDigestSize];
    hash->CalculateDigest(digest, data, length);
    out.append(digest, static_cast<unsigned>(hash->DigestSize()));
}

bool buildDigestInfo(unsigned algorithm, const unsigned char* hash, size_t hashLen,
                     OrlByteArray& out) {
    const unsigned char* header = nullptr;
    size_t headerLen = 0;
    switch (algorithm) {
        case kAlgMd2:
            header = kMd2Header;
            headerLen = sizeof kMd2Header;
            break;
        case kAlgMd5:
            header = kMd5Header;
            headerLen = sizeof kMd5Header;
            break;
        case kAlgSha1:
            header = kSha1Header;
            headerLen = sizeof kSha1Header;
            break;
        case kAlgSha224:
            header = kSha224Header;
            headerLen = sizeof kSha224Header;
            break;
        case kAlgSha256:
            header = kSha256Header;
            headerLen = sizeof kSha256Header;
            break;
        case kAlgSha384:
            header = kSha384Header;
            headerLen = sizeof kSha384Header;
            break;
        case kAlgSha512:
            header = kSha512Header;
            headerLen = sizeof kSha512Header;
            break;
        case kAlgRawHash:
            out.append(hash, static_cast<unsigned>(hashLen));
            return true;
        default:
            return false;
    }
    // The outer SEQUENCE length is everything after its two header bytes.
    size_t outer = headerLen - 2 + hashLen;
    if (outer > 0x7F) return false;
    out.append(header[0]);
    out.append(static_cast<unsigned char>(outer));
    out.append(header + 2, static_cast<unsigned>(headerLen - 3));
    out.append(static_cast<unsigned char>(hashLen));
    out.append(hash, static_cast<unsigned>(hashLen));
    return true;
}
