// Certificates the token already holds. Creating a token certificate whose
// value (and CKA_ID, when the template gives one) equals that of a
// certificate already on the token gives the stored one instead of a copy.
//
// NSS needs this: on a hardware slot it keeps its own cache of the token's
// certificates and fills it only once logged in (or for slots configured with
// public certificates), so "certutil -A" of a certificate already stored finds
// nothing and creates it again. Each repeated import would leave one more.
#ifndef QUILLON_SESSION_STOREDCERTIFICATES_H
#define QUILLON_SESSION_STOREDCERTIFICATES_H

#include "CObjectTable.h"
#include "cryptoki.h"

class C11Object;

// The token certificate of the table that a new token certificate made from
// the template would duplicate, or null. Private certificates count only when
// someone is logged in. Values not yet read are fetched from the token.
C11Object* findStoredCertificate(CObjectTable& table, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount,
                                 bool loggedIn);

#endif
