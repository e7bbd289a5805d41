// Which mechanisms the provider offers. The classic set is the fixed list of
// 19 that applications have always seen; the extended set ("mechanisms" =
// "extended" in the configuration) appends SHA-2, RSA-PSS, RSA-OAEP, raw RSA
// signing and AES-CBC with padding. While the classic set is chosen the
// extended mechanisms are neither listed nor usable: they answer
// CKR_MECHANISM_INVALID like any unknown mechanism.
#ifndef QUILLON_SLOTS_MECHANISMSET_H
#define QUILLON_SLOTS_MECHANISMSET_H

enum class MechanismSet { Classic, Extended };

// The set named by the configuration value; null or any text but "extended"
// is the classic set.
MechanismSet parseMechanismSet(const char* value);

// Chosen once at load, before any application call; tests switch it between
// runs. Reads and writes are atomic, so threads may ask at any time.
void setMechanismSet(MechanismSet set);
bool extendedMechanismsEnabled();

#endif
