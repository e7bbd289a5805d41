// The text fields of CK_INFO, CK_SLOT_INFO and CK_TOKEN_INFO: the text, then
// blanks to the field's width, never a terminating zero. Clients compare and
// print these fields as they stand (URIs that name a token by its label).
#ifndef QUILLON_SUPPORT_PADDEDTEXT_H
#define QUILLON_SUPPORT_PADDEDTEXT_H

#include <cstddef>

#include "cryptoki.h"

// A text longer than the field is cut at its width, back to the start of a
// UTF-8 character, so the field stays valid UTF-8.
void fillBlankPadded(CK_UTF8CHAR* field, size_t size, const char* text);

#endif
