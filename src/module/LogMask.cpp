#include "LogMask.h"

bool isSecretAttribute(CK_ATTRIBUTE_TYPE type, CK_OBJECT_CLASS objectClass) {
    switch (type) {
        case CKA_PRIVATE_EXPONENT:
        case CKA_PRIME_1:
        case CKA_PRIME_2:
        case CKA_EXPONENT_1:
        case CKA_EXPONENT_2:
        case CKA_COEFFICIENT:
            return true;
        case CKA_VALUE:
            return objectClass != CKO_DATA && objectClass != CKO_CERTIFICATE &&
                   objectClass != CKO_PUBLIC_KEY;
        default:
            return false;
    }
}

std::string maskedValue(size_t length) {
    return "<masked, " + std::to_string(length) + " bytes>";
}
