// Decoding the public half of an RSA key pair as the card library hands it
// over: a DER X.509 SubjectPublicKeyInfo holding an RSA public key.
#ifndef QUILLON_OBJECTS_RSAPUBLICVALUES_H
#define QUILLON_OBJECTS_RSAPUBLICVALUES_H

#include "AttributeRules.h"

// Modulus and public exponent as minimal unsigned big-endian byte strings.
// A malformed encoding answers CKR_GENERAL_ERROR and changes nothing.
CK_RV decodeRsaPublicKey(const OrlByteArray& der, OwnedBytes& modulus, OwnedBytes& exponent,
                         bool logSizes);

// Asks the card library for the public values of the key pair at path.
// Failure: "<e> ZT_getPublicKey %X" and CKR_DEVICE_ERROR.
CK_RV fetchRsaPublicKey(uint64_t hConnection, const char* path, unsigned long reserve,
                        OrlByteArray& der);

#endif
