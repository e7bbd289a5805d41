#include "SymmetricCipher.h"

#include <cryptopp/aes.h>
#include <cryptopp/des.h>
#include <cryptopp/modes.h>

namespace {

const SymmetricMechanism kMechanisms[] = {
    {CKM_DES_ECB, CKK_DES, 8, false},   {CKM_DES_CBC, CKK_DES, 8, true},
    {CKM_DES3_ECB, CKK_DES3, 8, false}, {CKM_DES3_CBC, CKK_DES3, 8, true},
    {CKM_AES_ECB, CKK_AES, 16, false},  {CKM_AES_CBC, CKK_AES, 16, true},
};

template <typename Cipher>
CryptoPP::StreamTransformation* makeMode(bool cbc, bool encrypt, const unsigned char* key,
                                         size_t keyLength, const unsigned char* iv) {
    if (cbc) {
        if (encrypt) return new typename CryptoPP::CBC_Mode<Cipher>::Encryption(key, keyLength, iv);
        return new typename CryptoPP::CBC_Mode<Cipher>::Decryption(key, keyLength, iv);
    }
    if (encrypt) return new typename CryptoPP::ECB_Mode<Cipher>::Encryption(key, keyLength);
    return new typename CryptoPP::ECB_Mode<Cipher>::Decryption(key, keyLength);
}

}  // namespace

const SymmetricMechanism* findSymmetricMechanism(CK_MECHANISM_TYPE mechanism) {
    for (const SymmetricMechanism& m : kMechanisms) {
        if (m.mechanism == mechanism) return &m;
    }
    return nullptr;
}

CSymmetricCipher::CSymmetricCipher(const SymmetricMechanism& mechanism, bool encrypt,
                                   const unsigned char* key, size_t keyLength,
                                   const unsigned char* iv)
    : m_mechanism(mechanism) {
    switch (mechanism.keyType) {
        case CKK_DES:
            m_pMode.reset(makeMode<CryptoPP::DES>(mechanism.cbc, encrypt, key, keyLength, iv));
            break;
        case CKK_DES3:
            m_pMode.reset(makeMode<CryptoPP::DES_EDE3>(mechanism.cbc, encrypt, key, keyLength, iv));
            break;
        default:
            m_pMode.reset(makeMode<CryptoPP::AES>(mechanism.cbc, encrypt, key, keyLength, iv));
            break;
    }
}

CSymmetricCipher::~CSymmetricCipher() = default;

CK_RV CSymmetricCipher::process(unsigned char* out, const unsigned char* in, size_t length) {
    if (length % m_mechanism.blockSize != 0) return CKR_KEY_SIZE_RANGE;
    if (length) m_pMode->ProcessData(out, in, length);
    return CKR_OK;
}
