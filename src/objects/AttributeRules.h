// The attribute vector and the one helper per attribute kind that every object
// class uses to answer, take and compare attributes, so that the classes agree.
//
// Reply forms of getAttributes, by kind:
//   value pointer null      -> the length the value needs
//   buffer large enough     -> value written
//   buffer too small        -> length (CK_ULONG)-1, CKR_BUFFER_TOO_SMALL
// Taking a value never reads past it: a CK_ULONG shorter than sizeof(CK_ULONG),
// an empty bool, a date of 1 to 7 bytes or a null pointer with a non-zero
// length is refused with CKR_ATTRIBUTE_VALUE_INVALID. A date of length 0 is
// no date, given and compared as such.
#ifndef QUILLON_OBJECTS_ATTRIBUTERULES_H
#define QUILLON_OBJECTS_ATTRIBUTERULES_H

#include <memory>
#include <string>

#include "OrlByteArray.h"
#include "OrlVector.h"
#include "cryptoki.h"

// Pointers into the caller's template, in template order. Each class takes out
// the entries it handles; what is left is unknown to every class of the object.
typedef OrlVector<CK_ATTRIBUTE*> CAttributeVector;

// An owned text that may be absent; kept with its length.
typedef std::unique_ptr<std::string> OwnedText;
typedef std::unique_ptr<OrlByteArray> OwnedBytes;
typedef std::unique_ptr<CK_DATE> OwnedDate;

// Longest text the directory can hold behind a one-byte length, and longest
// byte string behind a two-byte length.
constexpr CK_ULONG kMaxShortText = 255;
constexpr CK_ULONG kMaxLongBytes = 65535;

namespace attr {

constexpr CK_ULONG kInvalidLength = static_cast<CK_ULONG>(-1);

CK_RV replyUlong(CK_ATTRIBUTE* a, CK_ULONG value);
CK_RV replyBool(CK_ATTRIBUTE* a, bool value);
// Byte string or text; an absent value answers length 0 and CKR_OK.
CK_RV replyBytes(CK_ATTRIBUTE* a, const unsigned char* data, CK_ULONG length);
CK_RV replyBytes(CK_ATTRIBUTE* a, const OrlByteArray* value);
CK_RV replyText(CK_ATTRIBUTE* a, const std::string* value);
CK_RV replyDate(CK_ATTRIBUTE* a, const CK_DATE* value);
CK_RV tooSmall(CK_ATTRIBUTE* a);

CK_RV takeUlong(const CK_ATTRIBUTE* a, CK_ULONG& out);
CK_RV takeBool(const CK_ATTRIBUTE* a, bool& out);
// The first byte as given (CKA_CONTAINER_DEFAULT keeps it unchanged).
CK_RV takeByte(const CK_ATTRIBUTE* a, unsigned char& out);
CK_RV takeBytes(const CK_ATTRIBUTE* a, OwnedBytes& out, CK_ULONG maxLength = kMaxLongBytes);
CK_RV takeText(const CK_ATTRIBUTE* a, OwnedText& out, CK_ULONG maxLength = kMaxShortText);
CK_RV takeDate(const CK_ATTRIBUTE* a, OwnedDate& out);
// A flag that may never leave the value `stuck` once it holds it: such a
// change is refused with CKR_TEMPLATE_INCONSISTENT and the flag stays.
CK_RV takeOneWayBool(const CK_ATTRIBUTE* a, bool& flag, bool stuck);

bool matchUlong(const CK_ATTRIBUTE* a, CK_ULONG value);
bool matchBool(const CK_ATTRIBUTE* a, bool value);
bool matchByte(const CK_ATTRIBUTE* a, unsigned char value);
bool matchBytes(const CK_ATTRIBUTE* a, const OrlByteArray* value);
bool matchText(const CK_ATTRIBUTE* a, const std::string* value);
bool matchDate(const CK_ATTRIBUTE* a, const CK_DATE* value);

// The walk shared by the classes: visit(entry) answers whether the class
// handled the entry (Taken: removed from the vector), passed it over, or ended
// the whole call (Stop: the entry is removed and later ones stay).
enum class Step { Pass, Taken, Stop };

template <typename Visit>
bool walk(CAttributeVector& v, Visit&& visit) {
    for (uint32_t i = 0; i < v.size();) {
        Step s = visit(v.elementAt(i));
        if (s == Step::Pass) {
            ++i;
            continue;
        }
        v.removeElementAt(i);
        if (s == Step::Stop) return false;
    }
    return true;
}

// The match walk: an entry the class handles is removed when it matches; the
// first mismatch ends the walk (false), leaving the later entries in place.
template <typename Compare>
bool matchWalk(CAttributeVector& v, Compare&& compare) {
    for (uint32_t i = 0; i < v.size();) {
        int r = compare(v.elementAt(i));  // -1 not handled, 0 mismatch, 1 match
        if (r < 0) {
            ++i;
            continue;
        }
        if (r == 0) return false;
        v.removeElementAt(i);
    }
    return true;
}

}  // namespace attr

#endif
