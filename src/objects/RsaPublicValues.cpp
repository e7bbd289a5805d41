#include "RsaPublicValues.h"

#include <cryptopp/filters.h>
#include <cryptopp/rsa.h>

#include "CardLibrary.h"
#include "Log.h"

namespace {
OrlByteArray* encodeUnsigned(const CryptoPP::Integer& n) {
    size_t size = n.MinEncodedSize();
    OrlByteArray* out = new OrlByteArray(static_cast<unsigned long>(size));
    if (size) n.Encode(out->getContent(), size);
    return out;
}
}  // namespace

CK_RV decodeRsaPublicKey(const OrlByteArray& der, OwnedBytes& modulus, OwnedBytes& exponent,
                         bool logSizes) {
    CryptoPP::RSA::PublicKey key;
    try {
        CryptoPP::ArraySource source(der.getContent(), der.getLength(), true);
        key.BERDecode(source);
    } catch (const CryptoPP::Exception& e) {
        logError("<e> BER decode pubkey: %s", e.what());
        return CKR_GENERAL_ERROR;
    }
    logMessage("BER decode pubkey ok");
    const CryptoPP::Integer& n = key.GetModulus();
    const CryptoPP::Integer& e = key.GetPublicExponent();
    if (logSizes) logMessage("modulus.MinEncodedSize() %d", static_cast<int>(n.MinEncodedSize()));
    modulus.reset(encodeUnsigned(n));
    logMessage("pubKey.getModulus() OK");
    if (logSizes) logMessage("exponent.MinEncodedSize() %d", static_cast<int>(e.MinEncodedSize()));
    exponent.reset(encodeUnsigned(e));
    logMessage("pubKey.getExponent() OK");
    return CKR_OK;
}

CK_RV fetchRsaPublicKey(uint64_t hConnection, const char* path, unsigned long reserve,
                        OrlByteArray& der) {
    CardFunctions* card = cardFunctions();
    if (!card || !card->ZT_getPublicKey) {
        logError("<e> ZT_getPublicKey NOT SUPPORTED");
        return CKR_DEVICE_ERROR;
    }
    if (reserve) der.ensureCapacity(reserve);
    ZT_STATUS status = card->ZT_getPublicKey(hConnection, path ? path : "", der);
    if (status != 0) {
        logError("<e> ZT_getPublicKey %X", status);
        return CKR_DEVICE_ERROR;
    }
    return CKR_OK;
}
