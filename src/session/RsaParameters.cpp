#include "RsaParameters.h"

#include "Digest.h"
#include "Log.h"

namespace {

CK_RV paramInvalid(const char* what) {
    logMessage("<e> CKR_MECHANISM_PARAM_INVALID: %s", what);
    return CKR_MECHANISM_PARAM_INVALID;
}

// Labels beyond this are refused rather than hashed: no application needs one.
constexpr CK_ULONG kMaxLabelLength = 0x10000;

}  // namespace

const DigestAlgorithm* paddingHash(CK_MECHANISM_TYPE hashAlg) {
    switch (hashAlg) {
        case CKM_SHA_1:
        case CKM_SHA224:
        case CKM_SHA256:
        case CKM_SHA384:
        case CKM_SHA512:
            return findDigestAlgorithm(hashAlg);
        default:
            return nullptr;
    }
}

const DigestAlgorithm* mgf1Hash(CK_RSA_PKCS_MGF_TYPE mgf) {
    switch (mgf) {
        case CKG_MGF1_SHA1:
            return findDigestAlgorithm(CKM_SHA_1);
        case CKG_MGF1_SHA224:
            return findDigestAlgorithm(CKM_SHA224);
        case CKG_MGF1_SHA256:
            return findDigestAlgorithm(CKM_SHA256);
        case CKG_MGF1_SHA384:
            return findDigestAlgorithm(CKM_SHA384);
        case CKG_MGF1_SHA512:
            return findDigestAlgorithm(CKM_SHA512);
        default:
            return nullptr;
    }
}

CK_RV readPssParameters(const CK_MECHANISM& mechanism, const DigestAlgorithm* ownHash,
                        PssParameters& out) {
    if (!mechanism.pParameter || mechanism.ulParameterLen != sizeof(CK_RSA_PKCS_PSS_PARAMS))
        return paramInvalid("PSS parameter size");
    const auto* p = static_cast<const CK_RSA_PKCS_PSS_PARAMS*>(mechanism.pParameter);
    const DigestAlgorithm* hash = paddingHash(p->hashAlg);
    if (!hash) return paramInvalid("PSS hash");
    if (ownHash && hash != ownHash) return paramInvalid("PSS hash differs from the mechanism's");
    const DigestAlgorithm* mgfHash = mgf1Hash(p->mgf);
    if (!mgfHash) return paramInvalid("PSS MGF");
    out.hash = hash;
    out.mgfHash = mgfHash;
    out.saltLength = p->sLen;
    return CKR_OK;
}

CK_RV readOaepParameters(const CK_MECHANISM& mechanism, OaepParameters& out) {
    if (!mechanism.pParameter || mechanism.ulParameterLen != sizeof(CK_RSA_PKCS_OAEP_PARAMS))
        return paramInvalid("OAEP parameter size");
    const auto* p = static_cast<const CK_RSA_PKCS_OAEP_PARAMS*>(mechanism.pParameter);
    const DigestAlgorithm* hash = paddingHash(p->hashAlg);
    if (!hash) return paramInvalid("OAEP hash");
    const DigestAlgorithm* mgfHash = mgf1Hash(p->mgf);
    if (!mgfHash) return paramInvalid("OAEP MGF");
    const bool hasBytes = p->ulSourceDataLen != 0;
    if (hasBytes && !p->pSourceData) return paramInvalid("OAEP label without data");
    if (p->source != CKZ_DATA_SPECIFIED && !(p->source == 0 && !hasBytes))
        return paramInvalid("OAEP label source");
    if (p->ulSourceDataLen > kMaxLabelLength) return paramInvalid("OAEP label length");
    out.hash = hash;
    out.mgfHash = mgfHash;
    out.label.removeAll();
    if (hasBytes)
        out.label.append(static_cast<const unsigned char*>(p->pSourceData),
                         static_cast<unsigned>(p->ulSourceDataLen));
    return CKR_OK;
}
