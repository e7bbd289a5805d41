// The mechanism parameters of RSA-PSS (CK_RSA_PKCS_PSS_PARAMS) and RSA-OAEP
// (CK_RSA_PKCS_OAEP_PARAMS), read and checked strictly: a structure of the
// exact size, a hash and an MGF1 hash the provider implements (SHA-1 and
// SHA-2), and for a hash-and-sign PSS mechanism its own hash.
#ifndef QUILLON_SESSION_RSAPARAMETERS_H
#define QUILLON_SESSION_RSAPARAMETERS_H

#include "Oaep.h"
#include "Pss.h"
#include "cryptoki.h"

// The hash named by a PSS or OAEP parameter, or null for any other value
// (MD2 and MD5 included).
const DigestAlgorithm* paddingHash(CK_MECHANISM_TYPE hashAlg);
// The hash of an MGF1 generator (CKG_MGF1_SHA1 ...), or null.
const DigestAlgorithm* mgf1Hash(CK_RSA_PKCS_MGF_TYPE mgf);

// `ownHash` is the hash-and-sign mechanism's hash, or null for CKM_RSA_PKCS_PSS.
// CKR_MECHANISM_PARAM_INVALID (logged) for anything but a sound structure.
CK_RV readPssParameters(const CK_MECHANISM& mechanism, const DigestAlgorithm* ownHash,
                        PssParameters& out);

// The label is CKZ_DATA_SPECIFIED with its bytes (none: the empty label); a
// source of 0 with no bytes, as some applications pass it, is the empty
// label too. CKR_MECHANISM_PARAM_INVALID (logged) otherwise.
CK_RV readOaepParameters(const CK_MECHANISM& mechanism, OaepParameters& out);

#endif
