// Placeholders for entry points still being built: each answers
// CKR_FUNCTION_NOT_SUPPORTED until the real (strong) definition is linked in.
// Delete an entry point's line here once it exists.
#include "CallFrame.h"
#include "Initialize.h"

#define QUILLON_PENDING __attribute__((weak))

// clang-format off
// clang-format on
