#include "AttributeRules.h"

#include <cstring>

namespace attr {

CK_RV tooSmall(CK_ATTRIBUTE* a) {
    a->ulValueLen = kInvalidLength;
    return CKR_BUFFER_TOO_SMALL;
}

CK_RV replyUlong(CK_ATTRIBUTE* a, CK_ULONG value) {
    if (!a->pValue) {
        a->ulValueLen = sizeof(CK_ULONG);
        return CKR_OK;
    }
    if (a->ulValueLen < sizeof(CK_ULONG)) return tooSmall(a);
    std::memcpy(a->pValue, &value, sizeof(CK_ULONG));
    a->ulValueLen = sizeof(CK_ULONG);  // the exact length, whatever room was given
    return CKR_OK;
}

CK_RV replyBool(CK_ATTRIBUTE* a, bool value) {
    if (!a->pValue) {
        a->ulValueLen = 1;
        return CKR_OK;
    }
    if (a->ulValueLen == 0 || a->ulValueLen == kInvalidLength) return tooSmall(a);
    std::memset(a->pValue, 0, a->ulValueLen);
    static_cast<unsigned char*>(a->pValue)[0] = value ? 1 : 0;
    a->ulValueLen = 1;
    return CKR_OK;
}

CK_RV replyBytes(CK_ATTRIBUTE* a, const unsigned char* data, CK_ULONG length) {
    if (!a->pValue) {
        a->ulValueLen = length;
        return CKR_OK;
    }
    if (a->ulValueLen < length) return tooSmall(a);
    if (length) std::memcpy(a->pValue, data, length);
    a->ulValueLen = length;
    return CKR_OK;
}

CK_RV replyBytes(CK_ATTRIBUTE* a, const OrlByteArray* value) {
    if (!value) return replyBytes(a, nullptr, 0);
    return replyBytes(a, value->getContent(), value->getLength());
}

CK_RV replyText(CK_ATTRIBUTE* a, const std::string* value) {
    if (!value) return replyBytes(a, nullptr, 0);
    return replyBytes(a, reinterpret_cast<const unsigned char*>(value->data()), value->size());
}

CK_RV replyDate(CK_ATTRIBUTE* a, const CK_DATE* value) {
    if (!value) {
        a->ulValueLen = 0;
        return CKR_OK;
    }
    if (!a->pValue) {
        a->ulValueLen = sizeof(CK_DATE);
        return CKR_OK;
    }
    if (a->ulValueLen < sizeof(CK_DATE) || a->ulValueLen == kInvalidLength) return tooSmall(a);
    std::memcpy(a->pValue, value, sizeof(CK_DATE));
    a->ulValueLen = sizeof(CK_DATE);
    return CKR_OK;
}

namespace {
bool readable(const CK_ATTRIBUTE* a, CK_ULONG need) {
    return a->ulValueLen != kInvalidLength && a->ulValueLen >= need && (need == 0 || a->pValue);
}
}  // namespace

CK_RV takeUlong(const CK_ATTRIBUTE* a, CK_ULONG& out) {
    if (!readable(a, sizeof(CK_ULONG))) return CKR_ATTRIBUTE_VALUE_INVALID;
    std::memcpy(&out, a->pValue, sizeof(CK_ULONG));
    return CKR_OK;
}

CK_RV takeUlong8(const CK_ATTRIBUTE* a, CK_ULONG& out) {
    CK_ULONG value = 0;
    CK_RV rv = takeUlong(a, value);
    if (rv != CKR_OK) return rv;
    if (value > 0xFF) return CKR_ATTRIBUTE_VALUE_INVALID;
    out = value;
    return CKR_OK;
}

CK_RV takeByte(const CK_ATTRIBUTE* a, unsigned char& out) {
    if (!readable(a, 1)) return CKR_ATTRIBUTE_VALUE_INVALID;
    out = static_cast<const unsigned char*>(a->pValue)[0];
    return CKR_OK;
}

CK_RV takeBool(const CK_ATTRIBUTE* a, bool& out) {
    unsigned char b = 0;
    CK_RV rv = takeByte(a, b);
    if (rv == CKR_OK) out = b != 0;
    return rv;
}

CK_RV takeBytes(const CK_ATTRIBUTE* a, OwnedBytes& out, CK_ULONG maxLength) {
    if (a->ulValueLen > maxLength || (a->ulValueLen && !a->pValue)) {
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    out.reset(new OrlByteArray(static_cast<const unsigned char*>(a->pValue), a->ulValueLen));
    return CKR_OK;
}

CK_RV takeText(const CK_ATTRIBUTE* a, OwnedText& out, CK_ULONG maxLength) {
    if (a->ulValueLen > maxLength || (a->ulValueLen && !a->pValue)) {
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    out.reset(a->ulValueLen ? new std::string(static_cast<const char*>(a->pValue), a->ulValueLen)
                            : new std::string());
    return CKR_OK;
}

CK_RV takeDate(const CK_ATTRIBUTE* a, OwnedDate& out) {
    // Length 0 is "no date", as the date of a key without one is answered.
    if (a->ulValueLen == 0) {
        out.reset();
        return CKR_OK;
    }
    if (!readable(a, sizeof(CK_DATE))) return CKR_ATTRIBUTE_VALUE_INVALID;
    out.reset(new CK_DATE);
    std::memcpy(out.get(), a->pValue, sizeof(CK_DATE));
    return CKR_OK;
}

CK_RV takeOneWayBool(const CK_ATTRIBUTE* a, bool& flag, bool stuck) {
    bool wanted = flag;
    CK_RV rv = takeBool(a, wanted);
    if (rv != CKR_OK) return rv;
    if (flag == stuck && wanted != stuck) return CKR_TEMPLATE_INCONSISTENT;
    flag = wanted;
    return CKR_OK;
}

bool matchUlong(const CK_ATTRIBUTE* a, CK_ULONG value) {
    CK_ULONG given = 0;
    return takeUlong(a, given) == CKR_OK && given == value;
}

bool matchByte(const CK_ATTRIBUTE* a, unsigned char value) {
    unsigned char given = 0;
    return takeByte(a, given) == CKR_OK && given == value;
}

bool matchBool(const CK_ATTRIBUTE* a, bool value) {
    return matchByte(a, value ? 1 : 0);
}

namespace {
bool sameBytes(const CK_ATTRIBUTE* a, const void* data, size_t length) {
    if (a->ulValueLen != length) return false;
    if (length == 0) return true;
    return a->pValue && std::memcmp(a->pValue, data, length) == 0;
}
}  // namespace

// An absent value answers as empty (length 0), and the directory cannot tell
// the two apart: a search for the empty value finds both.
bool matchBytes(const CK_ATTRIBUTE* a, const OrlByteArray* value) {
    if (!value) return a->ulValueLen == 0;
    return sameBytes(a, value->getContent(), value->getLength());
}

bool matchText(const CK_ATTRIBUTE* a, const std::string* value) {
    if (!value) return a->ulValueLen == 0;
    return sameBytes(a, value->data(), value->size());
}

bool matchDate(const CK_ATTRIBUTE* a, const CK_DATE* value) {
    if (a->ulValueLen == 0) return value == nullptr;
    return value && sameBytes(a, value, sizeof(CK_DATE));
}

}  // namespace attr
