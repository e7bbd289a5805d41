// A session and token stand-in for the operation-state tests: keys in a map,
// a settable session guard, and a private-key operation done with Crypto++
// that records what it was given, as a card would receive it.
#ifndef QUILLON_TESTS_FAKECRYPTO_H
#define QUILLON_TESTS_FAKECRYPTO_H

#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CryptoOperations.h"
#include "OrlByteArray.h"

namespace fake {

using Bytes = std::vector<unsigned char>;

inline Bytes bytesOf(const OrlByteArray& a) {
    return Bytes(a.getContent(), a.getContent() + a.getLength());
}

inline Bytes encode(const CryptoPP::Integer& i) {
    Bytes out(i.MinEncodedSize());
    i.Encode(out.data(), out.size());
    return out;
}

struct Key {
    CK_OBJECT_CLASS keyClass = CKO_SECRET_KEY;
    CK_KEY_TYPE keyType = CKK_AES;
    bool encrypt = true, decrypt = true;
    Bytes value, modulus, exponent;
    CK_RV valueError = CKR_OK, modulusError = CKR_OK;
    std::string path = "1";
    const CryptoPP::InvertibleRSAFunction* rsa = nullptr;  // the token's private key
};

class KeyView : public CCryptoKey {
public:
    explicit KeyView(Key& key) : m_key(key) {}
    CK_OBJECT_CLASS keyClass() override { return m_key.keyClass; }
    CK_KEY_TYPE keyType() override { return m_key.keyType; }
    bool allowsEncrypt() override { return m_key.encrypt; }
    bool allowsDecrypt() override { return m_key.decrypt; }
    CK_RV getValue(OrlByteArray& out) override {
        if (m_key.valueError) return m_key.valueError;
        out.append(m_key.value.data(), static_cast<unsigned>(m_key.value.size()));
        return CKR_OK;
    }
    CK_RV getModulus(OrlByteArray& out) override {
        if (m_key.modulusError) return m_key.modulusError;
        out.append(m_key.modulus.data(), static_cast<unsigned>(m_key.modulus.size()));
        return CKR_OK;
    }
    CK_RV getPublicExponent(OrlByteArray& out) override {
        out.append(m_key.exponent.data(), static_cast<unsigned>(m_key.exponent.size()));
        return CKR_OK;
    }
    const char* path() override { return m_key.path.c_str(); }

private:
    Key& m_key;
};

struct CardCall {
    std::string path;
    unsigned char mode;
    Bytes in;
};

class Context : public CCryptoContext {
public:
    CK_RV guardResult = CKR_OK;
    std::map<CK_OBJECT_HANDLE, Key> keys;
    std::vector<CardCall> calls;
    uint32_t cardStatus = 0;
    bool cardThrows = false;
    bool cardCorrupts = false;  // a faulty computation: the result's last byte flipped

    CK_RV guard() override { return guardResult; }
    std::unique_ptr<CCryptoKey> findKey(CK_OBJECT_HANDLE hKey) override {
        auto it = keys.find(hKey);
        if (it == keys.end()) return nullptr;
        return std::unique_ptr<CCryptoKey>(new KeyView(it->second));
    }
    // Like a card: the raw result in its minimal length, or (mode 1) the
    // message after the type 2 padding.
    uint32_t applyPrivateKey(const char* path, unsigned char mode, OrlByteArray& in,
                             OrlByteArray& out) override {
        calls.push_back({path, mode, bytesOf(in)});
        if (cardThrows) throw std::runtime_error("card gone");
        if (cardStatus) return cardStatus;
        const Key* key = nullptr;
        for (auto& entry : keys) {
            if (entry.second.path == path && entry.second.keyClass == CKO_PRIVATE_KEY)
                key = &entry.second;
        }
        if (!key || !key->rsa) return 0x6A88;
        CryptoPP::AutoSeededRandomPool rng;
        CryptoPP::Integer y =
            key->rsa->CalculateInverse(rng, CryptoPP::Integer(in.getContent(), in.getLength()));
        Bytes result = encode(y);
        if (mode == 1) {
            size_t k = key->rsa->GetModulus().ByteCount();
            Bytes block(k);
            y.Encode(block.data(), k);
            if (block[0] != 0 || block[1] != 2) return 0x6A80;
            size_t i = 2;
            while (i < k && block[i] != 0) ++i;
            if (i == k) return 0x6A80;
            result.assign(block.begin() + i + 1, block.end());
        }
        if (cardCorrupts && !result.empty()) result.back() ^= 0x01;
        out.append(result.data(), static_cast<unsigned>(result.size()));
        return 0;
    }
};

// A process-wide RSA key per (size, exponent): generating keys is slow.
inline const CryptoPP::InvertibleRSAFunction& rsaKey(unsigned bits, long e = 65537) {
    static std::map<std::pair<unsigned, long>, CryptoPP::InvertibleRSAFunction>* keys =
        new std::map<std::pair<unsigned, long>, CryptoPP::InvertibleRSAFunction>;
    auto& key = (*keys)[{bits, e}];
    if (key.GetModulus().IsZero()) {
        CryptoPP::AutoSeededRandomPool rng;
        key.Initialize(rng, bits, CryptoPP::Integer(e));
    }
    return key;
}

// Adds the pair as handles pub/priv, the private key on the token at `path`.
inline void addKeyPair(Context& ctx, const CryptoPP::InvertibleRSAFunction& rsa,
                       CK_OBJECT_HANDLE pub, CK_OBJECT_HANDLE priv, const std::string& path = "7") {
    Key p;
    p.keyClass = CKO_PUBLIC_KEY;
    p.keyType = CKK_RSA;
    p.modulus = encode(rsa.GetModulus());
    p.exponent = encode(rsa.GetPublicExponent());
    p.path = "pub" + path;
    ctx.keys[pub] = p;
    Key s = p;
    s.keyClass = CKO_PRIVATE_KEY;
    s.exponent.clear();
    s.path = path;
    s.rsa = &rsa;
    ctx.keys[priv] = s;
}

inline void addSecretKey(Context& ctx, CK_OBJECT_HANDLE h, CK_KEY_TYPE type, const Bytes& value) {
    Key k;
    k.keyClass = CKO_SECRET_KEY;
    k.keyType = type;
    k.value = value;
    ctx.keys[h] = k;
}

}  // namespace fake

#endif
