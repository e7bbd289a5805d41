// What the token answers for a private-key operation is checked before it
// is used. The card is outside code: a result of the wrong length is refused,
// and a signature or raw result must verify with the key's public values, so
// a faulty computation (an RSA-CRT fault reveals the key's factors to whoever
// sees the result) never leaves the provider.
//
// Every path that calls ZT_applyPrivateKey runs its result through here.
#ifndef QUILLON_SESSION_PRIVATEKEYRESULT_H
#define QUILLON_SESSION_PRIVATEKEYRESULT_H

#include "cryptoki.h"

class CCryptoKey;
class OrlByteArray;

enum class PrivateKeyResult {
    // in^d mod n of a raw operation (every signature: the provider pads the
    // block itself). Not empty, at most k bytes, below n, and result^e mod n
    // must give `in` back.
    Raw,
    // The message the token recovered from a PKCS#1 v1.5 type 2 block: at
    // most k - 11 bytes; empty is a legitimate message.
    Pkcs1Message,
};

// `in` is what was sent to the token, `result` what it answered, `key` the
// private key (its modulus and public exponent). CKR_OK, or CKR_DEVICE_ERROR
// with a log line.
CK_RV checkPrivateKeyResult(CCryptoKey& key, PrivateKeyResult kind, const OrlByteArray& in,
                            const OrlByteArray& result);

#endif
