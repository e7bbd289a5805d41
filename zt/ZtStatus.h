// Statuses of the virtual token (libzt), beside 0 for success.
//
// Card status words, as a real card answers them:
//   0x63Cn  wrong PIN, n tries left; 0x63C0 is the last wrong try and blocks the PIN
//   0x6983  PIN blocked (a right PIN is refused too until it is reset)
//   0x6982  security status not satisfied: the PIN this operation needs is not
//           verified on this connection (user PIN for private-key operations,
//           values of access class 1 and 3 and deleting key pairs; SO PIN for
//           ZT_initPIN; the PIN being changed for ZT_changePIN)
//   0x6A80  wrong data: a block not smaller than the modulus, malformed
//           PKCS#1 type 2 padding, an RSA key that cannot be imported
//   7       the stored value was allocated but never written (exactly 7)
//   9       the card holds no object directory yet (exactly 9; the provider
//           takes no other status, such as 0x80100009, for it)
//
// Library codes, all of the form 0x5A54xxxx ("ZT"); none has 7 or 9 in its
// low 16 bits:
#ifndef QUILLON_ZT_ZTSTATUS_H
#define QUILLON_ZT_ZTSTATUS_H

#include <cstdint>

namespace zt {

constexpr uint32_t kOk = 0;
constexpr uint32_t kPinWrongBase = 0x63C0;
constexpr uint32_t kPinBlocked = 0x6983;
constexpr uint32_t kNotVerified = 0x6982;
constexpr uint32_t kWrongData = 0x6A80;
constexpr uint32_t kEmptyObject = 7;
constexpr uint32_t kNoDirectory = 9;

// A null pointer, an over-long or malformed text (a path of 256 bytes or more,
// a PIN of 256 bytes or more, a null PIN), an unknown mode or access class, a
// key size outside the supported range, an unusable public exponent.
constexpr uint32_t kBadArguments = 0x5A540101;
// No reader of that name in the store.
constexpr uint32_t kUnknownReader = 0x5A540102;
// No card in the reader (ZT_isInserted, ZT_connect), or the card of this
// connection was pulled out or replaced since ZT_connect.
constexpr uint32_t kNoCard = 0x5A540103;
// The handle names no open connection.
constexpr uint32_t kBadHandle = 0x5A540104;
// The path names no stored value or key pair on this card.
constexpr uint32_t kUnknownPath = 0x5A540105;
// The store could not be read or written (I/O error, damaged file, no home).
constexpr uint32_t kStoreError = 0x5A540106;
// An unexpected failure inside the library (an exception it caught).
constexpr uint32_t kInternalError = 0x5A540108;

}  // namespace zt

#endif
