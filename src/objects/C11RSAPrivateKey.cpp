#include "C11RSAPrivateKey.h"

#include "RsaPublicValues.h"

namespace {
constexpr unsigned long kPublicKeyReserve = 3000;
constexpr CK_ULONG kMaxValue = static_cast<CK_ULONG>(-2);
}  // namespace

C11RSAPrivateKey::C11RSAPrivateKey(ZT_HANDLE hConnection) : C11PrivateKey(hConnection) {}

C11RSAPrivateKey::C11RSAPrivateKey(ZT_HANDLE hConnection, CBufferedReader& reader)
    : C11PrivateKey(hConnection, reader), CCSPContainer(reader) {
    const char* path = getPath() ? getPath() : "";
    logMessage("C11RSAPrivateKey: ID: %s", path);
    logMessage("--> C11RSAPrivateKey: ID (ctor): %s", path);
}

C11RSAPrivateKey::~C11RSAPrivateKey() = default;

CK_RV C11RSAPrivateKey::loadPublicKey() {
    logMessage("-> C11RSAPrivateKey::loadPublicKey");
    logMessage("ID PATH: %s", getPath() ? getPath() : "");
    OrlByteArray der;
    CK_RV rv = fetchRsaPublicKey(m_hConnection, getPath(), kPublicKeyReserve, der);
    if (rv == CKR_OK) rv = decodeRsaPublicKey(der, m_pblModulus, m_pblPublicExponent, false);
    if (rv == CKR_OK) logMessage("<- C11RSAPrivateKey::loadPublicKey");
    return rv;
}

CK_RV C11RSAPrivateKey::getModulus(OrlByteArray& out) {
    if (!m_pblModulus) {
        CK_RV rv = loadPublicKey();
        if (rv != CKR_OK) {
            logError("<e> loadPublicKey: %lX", static_cast<unsigned long>(rv));
            return CKR_DEVICE_ERROR;
        }
    }
    out.append(*m_pblModulus);
    return CKR_OK;
}

CK_RV C11RSAPrivateKey::getPublicExponent(OrlByteArray& out) {
    if (!m_pblPublicExponent) {
        CK_RV rv = loadPublicKey();
        if (rv != CKR_OK || !m_pblPublicExponent) {
            logError("<e> loadPublicKey: %lX", static_cast<unsigned long>(rv));
            return CKR_DEVICE_ERROR;
        }
    }
    out.append(*m_pblPublicExponent);
    return CKR_OK;
}

namespace {
void wipeAndDrop(OwnedBytes& value) {
    if (value) {
        volatile unsigned char* p = value->getContent();
        for (unsigned long i = 0; i < value->getLength(); ++i) p[i] = 0;
    }
    value.reset();
}
}  // namespace

void C11RSAPrivateKey::dropPrivateComponents() {
    wipeAndDrop(m_pblPrivateExponent);
}

void C11RSAPrivateKey::serialize(OrlBufferedWriter& writer) {
    C11PrivateKey::serialize(writer);
    CCSPContainer::serialize(writer);
}

CK_RV C11RSAPrivateKey::write(OrlBufferedWriter& writer) {
    serialize(writer);
    return CKR_OK;
}

CK_RV C11RSAPrivateKey::getAttributes(CAttributeVector& attributes) {
    CK_RV chain = C11PrivateKey::getAttributes(attributes);
    CK_RV container = CCSPContainer::getAttributes(attributes);
    CK_RV stopped = CKR_OK;
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_MODULUS:
            case CKA_PUBLIC_EXPONENT: {
                OwnedBytes& value = a->type == CKA_MODULUS ? m_pblModulus : m_pblPublicExponent;
                if (!value && m_bToken) {
                    r = loadPublicKey();
                    if (r != CKR_OK) {
                        a->ulValueLen = attr::kInvalidLength;
                        stopped = r;
                        return attr::Step::Stop;
                    }
                }
                if (!value) {
                    a->ulValueLen = attr::kInvalidLength;
                    r = CKR_ATTRIBUTE_TYPE_INVALID;
                } else {
                    r = attr::replyBytes(a, value.get());
                }
                break;
            }
            case CKA_PRIVATE_EXPONENT:
                if (m_pblPrivateExponent) {
                    r = attr::replyBytes(a, m_pblPrivateExponent.get());
                } else if (m_bToken) {
                    a->ulValueLen = attr::kInvalidLength;
                    r = CKR_ATTRIBUTE_SENSITIVE;
                } else {
                    r = attr::replyBytes(a, nullptr);
                }
                break;
            case CKA_PRIME_1:
            case CKA_PRIME_2:
            case CKA_EXPONENT_1:
            case CKA_EXPONENT_2:
            case CKA_COEFFICIENT:
                r = CKR_ATTRIBUTE_SENSITIVE;
                break;
            case CKA_VALUE_SIZE:
                if (a->pValue && a->ulValueLen >= sizeof(CK_ULONG) && !m_pblModulus && m_bToken) {
                    loadPublicKey();
                }
                r = attr::replyUlong(a, m_pblModulus ? 2 * m_pblModulus->getLength() : 0);
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) chain = r;
        return attr::Step::Taken;
    });
    if (stopped != CKR_OK) return stopped;
    return chain > container ? chain : container;
}

CK_RV C11RSAPrivateKey::setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) {
    CK_RV chain = C11PrivateKey::setAttributes(bJustCreated, attributes);
    CK_RV container = CCSPContainer::setAttributes(bJustCreated, attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_MODULUS:
                r = attr::takeBytes(a, m_pblModulus, kMaxValue);
                break;
            case CKA_PUBLIC_EXPONENT:
                r = attr::takeBytes(a, m_pblPublicExponent, kMaxValue);
                break;
            case CKA_PRIVATE_EXPONENT:
                r = attr::takeBytes(a, m_pblPrivateExponent, kMaxValue);
                break;
            // The other components are accepted and discarded: the token keeps them.
            case CKA_PRIME_1:
            case CKA_PRIME_2:
            case CKA_EXPONENT_1:
            case CKA_EXPONENT_2:
            case CKA_COEFFICIENT:
                r = CKR_OK;
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) chain = r;
        return attr::Step::Taken;
    });
    m_ulKeyType = CKK_RSA;
    return chain > container ? chain : container;
}

bool C11RSAPrivateKey::match(CAttributeVector& attributes) {
    if (!C11PrivateKey::match(attributes)) return false;
    if (!CCSPContainer::match(attributes)) return false;
    return attr::matchWalk(attributes, [&](const CK_ATTRIBUTE* a) -> int {
        switch (a->type) {
            case CKA_MODULUS:
                return attr::matchBytes(a, m_pblModulus.get());
            case CKA_PUBLIC_EXPONENT:
                return attr::matchBytes(a, m_pblPublicExponent.get());
            case CKA_PRIVATE_EXPONENT:
                return attr::matchBytes(a, m_pblPrivateExponent.get());
            default:
                return -1;
        }
    });
}

bool C11RSAPrivateKey::isComplete() {
    return C11PrivateKey::isComplete() && CCSPContainer::isComplete() && m_pblModulus &&
           m_pblPublicExponent && m_pblPrivateExponent;
}
