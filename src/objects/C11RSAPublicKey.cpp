#include "C11RSAPublicKey.h"

#include "RsaPublicValues.h"

namespace {
constexpr CK_ULONG kMaxValue = static_cast<CK_ULONG>(-2);
constexpr size_t kMinExponentAnswer = 4;
}  // namespace

C11RSAPublicKey::C11RSAPublicKey(ZT_HANDLE hConnection) : C11PublicKey(hConnection) {}

C11RSAPublicKey::C11RSAPublicKey(ZT_HANDLE hConnection, CBufferedReader& reader)
    : C11PublicKey(hConnection, reader), CCSPContainer(reader) {}

C11RSAPublicKey::~C11RSAPublicKey() = default;

CK_RV C11RSAPublicKey::loadPublicKey() {
    logMessage("-> loadPublicKey");
    OrlByteArray der;
    CK_RV rv = fetchRsaPublicKey(m_hConnection, getPath(), 0, der);
    if (rv != CKR_OK) return rv;
    rv = decodeRsaPublicKey(der, m_pblModulus, m_pblPublicExponent, true);
    // The size follows the modulus, as it does when a template sets one.
    if (rv == CKR_OK && m_pblModulus) m_ulModulusBits = 8 * m_pblModulus->getLength();
    return rv;
}

CK_RV C11RSAPublicKey::getModulus(OrlByteArray& out) {
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

CK_RV C11RSAPublicKey::getPublicExponent(OrlByteArray& out) {
    if (!m_pblPublicExponent) {
        CK_RV rv = loadPublicKey();
        if (rv != CKR_OK) {
            logError("<e> loadPublicKey: %lX", static_cast<unsigned long>(rv));
            return CKR_DEVICE_ERROR;
        }
    }
    out.append(*m_pblPublicExponent);
    return CKR_OK;
}

void C11RSAPublicKey::serialize(OrlBufferedWriter& writer) {
    C11PublicKey::serialize(writer);
    CCSPContainer::serialize(writer);
}

CK_RV C11RSAPublicKey::write(OrlBufferedWriter& writer) {
    serialize(writer);
    return CKR_OK;
}

CK_RV C11RSAPublicKey::getAttributes(CAttributeVector& attributes) {
    CK_RV chain = C11PublicKey::getAttributes(attributes);
    CK_RV container = CCSPContainer::getAttributes(attributes);
    CK_RV stopped = CKR_OK;
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_MODULUS:
            case CKA_PUBLIC_EXPONENT: {
                if (!m_pblModulus || !m_pblPublicExponent) {
                    r = loadPublicKey();
                    if (r != CKR_OK) {
                        a->ulValueLen = attr::kInvalidLength;
                        stopped = r;
                        return attr::Step::Stop;
                    }
                }
                if (a->type == CKA_MODULUS) {
                    r = attr::replyBytes(a, m_pblModulus.get());
                    break;
                }
                logMessage("CKA_PUBLIC_EXPONENT");
                OrlByteArray padded;
                size_t length = m_pblPublicExponent->getLength();
                logMessage("CKA_PUBLIC_EXPONENT len: %d", static_cast<int>(length));
                for (size_t i = length; i < kMinExponentAnswer; ++i) padded.append(0);
                padded.append(*m_pblPublicExponent);
                logMessage("exp len: %d", static_cast<int>(padded.getLength()));
                logMessage("exp %s", padded.toHexString());
                r = attr::replyBytes(a, &padded);
                break;
            }
            case CKA_MODULUS_BITS:
                // A key read back from the card holds no modulus yet, and its
                // stored size is only the default: clients size signatures and
                // raw RSA blocks by this answer, so take it from the token's key.
                if (a->pValue && a->ulValueLen >= sizeof(CK_ULONG) && !m_pblModulus && getPath() &&
                    *getPath()) {
                    loadPublicKey();
                }
                r = attr::replyUlong(a, m_ulModulusBits);
                break;
            case CKA_VALUE_SIZE:
                if (a->pValue && a->ulValueLen >= sizeof(CK_ULONG) && !m_pblModulus && getPath() &&
                    *getPath()) {
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

CK_RV C11RSAPublicKey::setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) {
    CK_RV chain = C11PublicKey::setAttributes(bJustCreated, attributes);
    CK_RV container = CCSPContainer::setAttributes(bJustCreated, attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_MODULUS:
                r = attr::takeBytes(a, m_pblModulus, kMaxValue);
                if (r == CKR_OK) m_ulModulusBits = 8 * m_pblModulus->getLength();
                break;
            case CKA_MODULUS_BITS:
                r = attr::takeUlong(a, m_ulModulusBits);
                break;
            case CKA_PUBLIC_EXPONENT:
                r = attr::takeBytes(a, m_pblPublicExponent, kMaxValue);
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

bool C11RSAPublicKey::match(CAttributeVector& attributes) {
    if (!C11PublicKey::match(attributes)) return false;
    if (!CCSPContainer::match(attributes)) return false;
    return attr::matchWalk(attributes, [&](const CK_ATTRIBUTE* a) -> int {
        switch (a->type) {
            case CKA_MODULUS:
                return attr::matchBytes(a, m_pblModulus.get());
            case CKA_MODULUS_BITS:
                return attr::matchUlong(a, m_ulModulusBits);
            case CKA_PUBLIC_EXPONENT:
                return attr::matchBytes(a, m_pblPublicExponent.get());
            default:
                return -1;
        }
    });
}

bool C11RSAPublicKey::isComplete() {
    return C11PublicKey::isComplete() && CCSPContainer::isComplete() && m_pblModulus &&
           m_pblPublicExponent;
}
