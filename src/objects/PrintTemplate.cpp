// printTemplate: one log line per template entry, values as the kind of the
// attribute suggests. Values are read only within their given length.
#include <cstring>
#include <string>

#include "C11Object.h"
#include "Log.h"

namespace {

enum class Form { Number, Chars, Hex };

struct Known {
    CK_ATTRIBUTE_TYPE type;
    const char* name;
    Form form;
    bool isBool;
};

const Known kKnown[] = {
    {CKA_CLASS, "CKA_CLASS", Form::Number, false},
    {CKA_TOKEN, "CKA_TOKEN", Form::Number, true},
    {CKA_PRIVATE, "CKA_PRIVATE", Form::Number, true},
    {CKA_CERTIFICATE_TYPE, "CKA_CERTIFICATE_TYPE", Form::Number, false},
    {CKA_KEY_TYPE, "CKA_KEY_TYPE", Form::Number, false},
    {CKA_SENSITIVE, "CKA_SENSITIVE", Form::Number, true},
    {CKA_ENCRYPT, "CKA_ENCRYPT", Form::Number, true},
    {CKA_DECRYPT, "CKA_DECRYPT", Form::Number, true},
    {CKA_WRAP, "CKA_WRAP", Form::Number, true},
    {CKA_UNWRAP, "CKA_UNWRAP", Form::Number, true},
    {CKA_SIGN, "CKA_SIGN", Form::Number, true},
    {CKA_SIGN_RECOVER, "CKA_SIGN_RECOVER", Form::Number, true},
    {CKA_VERIFY, "CKA_VERIFY", Form::Number, true},
    {CKA_VERIFY_RECOVER, "CKA_VERIFY_RECOVER", Form::Number, true},
    {CKA_DERIVE, "CKA_DERIVE", Form::Number, true},
    {CKA_EXTRACTABLE, "CKA_EXTRACTABLE", Form::Number, true},
    {CKA_LOCAL, "CKA_LOCAL", Form::Number, true},
    {CKA_NEVER_EXTRACTABLE, "CKA_NEVER_EXTRACTABLE", Form::Number, true},
    {CKA_ALWAYS_SENSITIVE, "CKA_ALWAYS_SENSITIVE", Form::Number, true},
    {CKA_MODIFIABLE, "CKA_MODIFIABLE", Form::Number, true},
    {CKA_LABEL, "CKA_LABEL", Form::Chars, false},
    {CKA_APPLICATION, "CKA_APPLICATION", Form::Chars, false},
    {CKA_VALUE, "CKA_VALUE", Form::Hex, false},
    {CKA_OBJECT_ID, "CKA_OBJECT_ID", Form::Hex, false},
    {CKA_ISSUER, "CKA_ISSUER", Form::Hex, false},
    {CKA_SERIAL_NUMBER, "CKA_SERIAL_NUMBER", Form::Hex, false},
    {CKA_AC_ISSUER, "CKA_AC_ISSUER", Form::Hex, false},
    {CKA_OWNER, "CKA_OWNER", Form::Hex, false},
    {CKA_SUBJECT, "CKA_SUBJECT", Form::Hex, false},
    {CKA_ID, "CKA_ID", Form::Hex, false},
    {CKA_START_DATE, "CKA_START_DATE", Form::Hex, false},
    {CKA_END_DATE, "CKA_END_DATE", Form::Hex, false},
    {CKA_MODULUS, "CKA_MODULUS", Form::Hex, false},
    {CKA_PUBLIC_EXPONENT, "CKA_PUBLIC_EXPONENT", Form::Hex, false},
    {CKA_PRIVATE_EXPONENT, "CKA_PRIVATE_EXPONENT", Form::Hex, false},
    {CKA_VALUE_BITS, "CKA_VALUE_BITS", Form::Hex, false},
    {CKA_VALUE_LEN, "CKA_VALUE_LEN", Form::Hex, false},
    {0x180, "CKA_ECDSA_PARAMS", Form::Hex, false},
    {0x181, "CKA_EC_POINT", Form::Hex, false},
    {CKA_SECONDARY_AUTH, "CKA_SECONDARY_AUTH", Form::Hex, false},
    {CKA_AUTH_PIN_FLAGS, "CKA_AUTH_PIN_FLAGS", Form::Hex, false},
    {CKA_HW_FEATURE_TYPE, "CKA_HW_FEATURE_TYPE", Form::Hex, false},
    {CKA_RESET_ON_INIT, "CKA_RESET_ON_INIT", Form::Hex, false},
    {CKA_HAS_RESET, "CKA_HAS_RESET", Form::Hex, false},
};

const Known* lookup(CK_ATTRIBUTE_TYPE type) {
    for (const Known& k : kKnown) {
        if (k.type == type) return &k;
    }
    return nullptr;
}

// The utility library's hex text of at most 10 bytes ("..." when there are
// more); only the bytes that text needs are read.
constexpr CK_ULONG kHexBytes = 10;
constexpr int kMaxChars = 3000;

std::string hexOf(const CK_ATTRIBUTE& a) {
    CK_ULONG n = a.ulValueLen > kHexBytes ? kHexBytes + 1 : a.ulValueLen;
    OrlByteArray bytes(static_cast<const unsigned char*>(a.pValue), n);
    return bytes.toHexString(static_cast<int>(kHexBytes));
}

// What the template's object is: its class and whether it is private.
struct Subject {
    CK_ULONG objectClass;
    bool isPrivate;
};

// Key material and private values never reach the log: the private key
// components always; a value unless it belongs to a public data object or
// certificate; of a private object, nothing that could hold its secrets
// (its value, attributes this table does not know).
bool isSecret(const CK_ATTRIBUTE& a, const Known* k, const Subject& subject) {
    switch (a.type) {
        case CKA_PRIVATE_EXPONENT:
        case CKA_PRIME_1:
        case CKA_PRIME_2:
        case CKA_EXPONENT_1:
        case CKA_EXPONENT_2:
        case CKA_COEFFICIENT:
            return true;
        case CKA_VALUE:
            return subject.isPrivate ||
                   (subject.objectClass != CKO_DATA && subject.objectClass != CKO_CERTIFICATE);
        default:
            return !k && subject.isPrivate;
    }
}

void logEntry(const CK_ATTRIBUTE& a, const Subject& subject) {
    int len = static_cast<int>(a.ulValueLen);
    if (!a.pValue || a.ulValueLen == static_cast<CK_ULONG>(-1)) {
        logMessage("type: %lx, valuelen: (%d), value: NULL", static_cast<unsigned long>(a.type),
                   len);
        return;
    }
    const Known* k = lookup(a.type);
    if (isSecret(a, k, subject)) {
        if (k) {
            logMessage("type: %s valuelen: (%d), value: (not logged)", k->name, len);
        } else {
            logMessage("type: UNKNOWN (%lX) valuelen: (%d), value: (not logged)",
                       static_cast<unsigned long>(a.type), len);
        }
        return;
    }
    if (!k) {
        logMessage("type: UNKNOWN (%lX) valuelen: (%d), value: %s",
                   static_cast<unsigned long>(a.type), len, hexOf(a).c_str());
        return;
    }
    CK_ULONG need = k->isBool ? 1 : sizeof(CK_ULONG);
    if (k->form == Form::Number && a.ulValueLen >= need) {
        CK_ULONG value = 0;
        if (k->isBool) {
            value = static_cast<const unsigned char*>(a.pValue)[0];
        } else {
            std::memcpy(&value, a.pValue, sizeof(CK_ULONG));
        }
        logMessage("type: %s valuelen: (%d), value: %lX", k->name, len,
                   static_cast<unsigned long>(value));
    } else if (k->form == Form::Chars) {
        int chars = a.ulValueLen > static_cast<CK_ULONG>(kMaxChars) ? kMaxChars : len;
        logMessage("type: %s valuelen: (%d), value: %.*s", k->name, len, chars,
                   static_cast<const char*>(a.pValue));
    } else {
        logMessage("type: %s valuelen: (%d), value: %s", k->name, len, hexOf(a).c_str());
    }
}

// CKA_PRIVATE as the template gives it: 1 true, 0 false, -1 absent or unreadable.
int privateFromTemplate(const CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount) {
    for (CK_ULONG i = 0; pTemplate && i < ulCount; ++i) {
        const CK_ATTRIBUTE& a = pTemplate[i];
        if (a.type != CKA_PRIVATE) continue;
        if (!a.pValue || a.ulValueLen != sizeof(CK_BBOOL)) return -1;
        return *static_cast<const CK_BBOOL*>(a.pValue) ? 1 : 0;
    }
    return -1;
}

void printEntries(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount, const Subject& subject) {
    logMessage("Template count: %d", static_cast<int>(ulCount));
    for (CK_ULONG i = 0; pTemplate && i < ulCount; ++i) {
        try {
            logMessage("pTemplate[i].ulValueLen %x %d",
                       static_cast<unsigned>(pTemplate[i].ulValueLen),
                       static_cast<int>(pTemplate[i].ulValueLen));
            logEntry(pTemplate[i], subject);
        } catch (...) {
            logMessage("Exception:: index: (%d)", static_cast<int>(i));
        }
    }
}

}  // namespace

CK_RV printTemplate(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount, TemplateUse use) {
    if (!loggingEnabled()) return CKR_OK;
    // A new object without CKA_PRIVATE is public; a search without it may
    // match private objects, so its values count as private.
    int given = privateFromTemplate(pTemplate, ulCount);
    bool isPrivate = given == 1 || (given == -1 && use == TemplateUse::Search);
    printEntries(pTemplate, ulCount, Subject{classFromTemplate(pTemplate, ulCount), isPrivate});
    return CKR_OK;
}

CK_RV printTemplate(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount, const C11Object& object) {
    if (!loggingEnabled()) return CKR_OK;
    printEntries(pTemplate, ulCount, Subject{object.getClass(), object.isPrivate()});
    return CKR_OK;
}
