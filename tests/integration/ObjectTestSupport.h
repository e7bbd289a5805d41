// Templates and helpers shared by the object operation and search tests.
#ifndef QUILLON_TESTS_OBJECTTESTSUPPORT_H
#define QUILLON_TESTS_OBJECTTESTSUPPORT_H

#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>

#include <string>
#include <vector>

#include "ProviderFixture.h"

// A template that owns the values its entries point at.
class Tmpl {
public:
    Tmpl& ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
        return bytes(type, &value, sizeof(value));
    }
    Tmpl& flag(CK_ATTRIBUTE_TYPE type, bool value) {
        CK_BBOOL b = value ? CK_TRUE : CK_FALSE;
        return bytes(type, &b, 1);
    }
    Tmpl& text(CK_ATTRIBUTE_TYPE type, const std::string& value) {
        return bytes(type, value.data(), value.size());
    }
    Tmpl& bytes(CK_ATTRIBUTE_TYPE type, const void* data, size_t length) {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        m_values.emplace_back(p, p + length);
        m_types.push_back(type);
        return *this;
    }
    // Pointers are rebuilt on each call, so copies and growth stay valid.
    CK_ATTRIBUTE* get() {
        m_attrs.clear();
        for (size_t i = 0; i < m_types.size(); ++i) {
            m_attrs.push_back({m_types[i], m_values[i].empty() ? nullptr : m_values[i].data(),
                               static_cast<CK_ULONG>(m_values[i].size())});
        }
        return m_attrs.data();
    }
    CK_ULONG count() const { return m_types.size(); }

private:
    std::vector<CK_ATTRIBUTE_TYPE> m_types;
    std::vector<std::vector<unsigned char>> m_values;
    std::vector<CK_ATTRIBUTE> m_attrs;
};

inline Tmpl dataTemplate(bool token, const std::string& label, const std::string& value,
                         bool priv = false) {
    Tmpl t;
    t.ulong(CKA_CLASS, CKO_DATA)
        .flag(CKA_TOKEN, token)
        .flag(CKA_PRIVATE, priv)
        .text(CKA_LABEL, label)
        .text(CKA_VALUE, value);
    return t;
}

// One real 1024-bit RSA key for every test: the card checks what it stores.
struct TestRsaKey {
    std::vector<unsigned char> modulus, publicExponent, privateExponent, prime1;
};

inline std::vector<unsigned char> bytesOfInteger(const CryptoPP::Integer& value) {
    std::vector<unsigned char> out(value.MinEncodedSize());
    value.Encode(out.data(), out.size());
    return out;
}

inline const TestRsaKey& testRsaKey() {
    static const TestRsaKey key = [] {
        CryptoPP::AutoSeededRandomPool rng;
        CryptoPP::InvertibleRSAFunction rsa;
        rsa.Initialize(rng, 1024, 65537);
        return TestRsaKey{bytesOfInteger(rsa.GetModulus()), bytesOfInteger(rsa.GetPublicExponent()),
                          bytesOfInteger(rsa.GetPrivateExponent()),
                          bytesOfInteger(rsa.GetPrime1())};
    }();
    return key;
}

inline std::vector<unsigned char> testModulus() {
    return testRsaKey().modulus;
}
inline std::vector<unsigned char> privateExponentOfTestKey() {
    return testRsaKey().privateExponent;
}

inline Tmpl privateKeyTemplate(bool token, bool withPrivateExponent = true) {
    const TestRsaKey& key = testRsaKey();
    Tmpl t;
    t.ulong(CKA_CLASS, CKO_PRIVATE_KEY)
        .ulong(CKA_KEY_TYPE, CKK_RSA)
        .flag(CKA_TOKEN, token)
        .flag(CKA_PRIVATE, true)
        .text(CKA_LABEL, "imported")
        .bytes(CKA_MODULUS, key.modulus.data(), key.modulus.size())
        .bytes(CKA_PUBLIC_EXPONENT, key.publicExponent.data(), key.publicExponent.size());
    if (withPrivateExponent) {
        t.bytes(CKA_PRIVATE_EXPONENT, key.privateExponent.data(), key.privateExponent.size());
    }
    t.bytes(CKA_PRIME_1, key.prime1.data(), key.prime1.size());
    return t;
}

#endif
