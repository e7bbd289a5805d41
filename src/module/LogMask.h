// What the diagnostic log may show of attribute values and key material.
// Secret values are replaced by a note of their length, so a log handed to
// support never carries a key.
#ifndef QUILLON_MODULE_LOGMASK_H
#define QUILLON_MODULE_LOGMASK_H

#include <cstddef>
#include <string>

#include "cryptoki.h"

// Object class to pass when the class of the object is not known; every
// CKA_VALUE is then treated as secret.
constexpr CK_OBJECT_CLASS kUnknownObjectClass = 255;

// True for the private-key components (private exponent, primes, prime
// exponents, coefficient) of any object, and for CKA_VALUE of a secret key, a
// private key or an object of unknown class.
bool isSecretAttribute(CK_ATTRIBUTE_TYPE type, CK_OBJECT_CLASS objectClass);

// The text logged in place of a secret value: "<masked, N bytes>".
std::string maskedValue(size_t length);

#endif
