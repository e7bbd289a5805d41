// Field codecs of the on-card object directory (see DirectoryFormat.md). Every
// number is big-endian and has the width the layout gives, on every platform.
//
// Reading follows the directory's rule for short data: a field that cannot be
// read in full is taken as far as it was read, and the caller's default stays
// for whatever follows.
#ifndef QUILLON_OBJECTS_DIRECTORYCODEC_H
#define QUILLON_OBJECTS_DIRECTORYCODEC_H

#include <cstdint>

#include "AttributeRules.h"
#include "CBufferedReader.h"
#include "OrlBufferedWriter.h"

namespace dir {

void putU8(OrlBufferedWriter& w, unsigned value);
void putU16(OrlBufferedWriter& w, unsigned value);
// One length byte, then that many bytes. Values longer than 255 bytes are
// refused when they are set; the length byte never disagrees with the bytes.
void putShortText(OrlBufferedWriter& w, const std::string* text);
// Two length bytes, then that many bytes (at most 65535).
void putLongBytes(OrlBufferedWriter& w, const OrlByteArray* bytes);
// Marker 0 or 8, then the 8 date bytes when present.
void putDate(OrlBufferedWriter& w, const CK_DATE* date);

// False when no byte was left; value unchanged then.
bool getU8(CBufferedReader& r, unsigned char& value);
// The bytes read count; a missing low byte reads as 0. Returns the count read.
uint32_t getU16(CBufferedReader& r, uint16_t& value);
// Length byte, then up to that many bytes. absentWhenEmpty: a length of 0
// leaves the text absent, otherwise it becomes an empty text.
void getShortText(CBufferedReader& r, OwnedText& text, bool absentWhenEmpty);
// Two length bytes, then up to that many bytes; a length of 0 leaves it absent.
void getLongBytes(CBufferedReader& r, OwnedBytes& bytes);
void getDate(CBufferedReader& r, OwnedDate& date);

}  // namespace dir

#endif
