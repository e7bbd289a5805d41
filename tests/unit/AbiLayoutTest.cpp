// The binary layout of the Cryptoki structures that cross the library
// boundary. Windows clients expect the 1-byte packed layout with a 32-bit
// CK_ULONG; Linux clients the native layout with CK_ULONG = unsigned long.
#include <gtest/gtest.h>

#include <cstddef>

#include "cryptoki.h"

namespace {

struct Field {
    const char* name;
    size_t actual;
    size_t expected;
};

void expectLayout(const char* type, size_t size, size_t expectedSize,
                  std::initializer_list<Field> fields) {
    EXPECT_EQ(size, expectedSize) << "sizeof(" << type << ")";
    for (const Field& f : fields) {
        EXPECT_EQ(f.actual, f.expected) << "offsetof(" << type << ", " << f.name << ")";
    }
}

#define FIELD(type, member, win, lin)                             \
    Field {                                                       \
#member, offsetof(type, member), kWindows ? (win) : (lin) \
    }
#define SIZE(type, win, lin) #type, sizeof(type), kWindows ? (win) : (lin)

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

TEST(AbiLayout, ScalarWidths) {
    EXPECT_EQ(sizeof(CK_ULONG), kWindows ? 4u : sizeof(unsigned long));
    EXPECT_EQ(sizeof(CK_FLAGS), sizeof(CK_ULONG));
    EXPECT_EQ(sizeof(CK_VOID_PTR), 8u);
    EXPECT_EQ(sizeof(CK_VERSION), 2u);
    // The "unavailable" marker is all ones at CK_ULONG width, never wider.
    EXPECT_EQ(static_cast<CK_ULONG>(CK_UNAVAILABLE_INFORMATION), static_cast<CK_ULONG>(-1));
    EXPECT_EQ(sizeof(CK_UNAVAILABLE_INFORMATION), sizeof(CK_ULONG));
}

TEST(AbiLayout, AttributeAndMechanism) {
    expectLayout(SIZE(CK_ATTRIBUTE, 16, 24),
                 {FIELD(CK_ATTRIBUTE, type, 0, 0), FIELD(CK_ATTRIBUTE, pValue, 4, 8),
                  FIELD(CK_ATTRIBUTE, ulValueLen, 12, 16)});
    expectLayout(SIZE(CK_MECHANISM, 16, 24),
                 {FIELD(CK_MECHANISM, mechanism, 0, 0), FIELD(CK_MECHANISM, pParameter, 4, 8),
                  FIELD(CK_MECHANISM, ulParameterLen, 12, 16)});
    expectLayout(SIZE(CK_MECHANISM_INFO, 12, 24), {FIELD(CK_MECHANISM_INFO, ulMinKeySize, 0, 0),
                                                   FIELD(CK_MECHANISM_INFO, ulMaxKeySize, 4, 8),
                                                   FIELD(CK_MECHANISM_INFO, flags, 8, 16)});
}

TEST(AbiLayout, InfoStructures) {
    expectLayout(SIZE(CK_INFO, 72, 88),
                 {FIELD(CK_INFO, cryptokiVersion, 0, 0), FIELD(CK_INFO, manufacturerID, 2, 2),
                  FIELD(CK_INFO, flags, 34, 40), FIELD(CK_INFO, libraryDescription, 38, 48),
                  FIELD(CK_INFO, libraryVersion, 70, 80)});
    expectLayout(
        SIZE(CK_SLOT_INFO, 104, 112),
        {FIELD(CK_SLOT_INFO, slotDescription, 0, 0), FIELD(CK_SLOT_INFO, manufacturerID, 64, 64),
         FIELD(CK_SLOT_INFO, flags, 96, 96), FIELD(CK_SLOT_INFO, hardwareVersion, 100, 104),
         FIELD(CK_SLOT_INFO, firmwareVersion, 102, 106)});
    expectLayout(
        SIZE(CK_SESSION_INFO, 16, 32),
        {FIELD(CK_SESSION_INFO, slotID, 0, 0), FIELD(CK_SESSION_INFO, state, 4, 8),
         FIELD(CK_SESSION_INFO, flags, 8, 16), FIELD(CK_SESSION_INFO, ulDeviceError, 12, 24)});
}

TEST(AbiLayout, TokenInfo) {
    expectLayout(
        SIZE(CK_TOKEN_INFO, 160, 208),
        {FIELD(CK_TOKEN_INFO, label, 0, 0), FIELD(CK_TOKEN_INFO, manufacturerID, 32, 32),
         FIELD(CK_TOKEN_INFO, model, 64, 64), FIELD(CK_TOKEN_INFO, serialNumber, 80, 80),
         FIELD(CK_TOKEN_INFO, flags, 96, 96), FIELD(CK_TOKEN_INFO, ulMaxSessionCount, 100, 104),
         FIELD(CK_TOKEN_INFO, ulSessionCount, 104, 112),
         FIELD(CK_TOKEN_INFO, ulMaxRwSessionCount, 108, 120),
         FIELD(CK_TOKEN_INFO, ulRwSessionCount, 112, 128),
         FIELD(CK_TOKEN_INFO, ulMaxPinLen, 116, 136), FIELD(CK_TOKEN_INFO, ulMinPinLen, 120, 144),
         FIELD(CK_TOKEN_INFO, ulTotalPublicMemory, 124, 152),
         FIELD(CK_TOKEN_INFO, ulFreePublicMemory, 128, 160),
         FIELD(CK_TOKEN_INFO, ulTotalPrivateMemory, 132, 168),
         FIELD(CK_TOKEN_INFO, ulFreePrivateMemory, 136, 176),
         FIELD(CK_TOKEN_INFO, hardwareVersion, 140, 184),
         FIELD(CK_TOKEN_INFO, firmwareVersion, 142, 186), FIELD(CK_TOKEN_INFO, utcTime, 144, 188)});
}

TEST(AbiLayout, InitializeArgsAndFunctionList) {
    // Four function pointers, then the 32-bit flags, then pReserved.
    expectLayout(SIZE(CK_C_INITIALIZE_ARGS, 44, 48),
                 {FIELD(CK_C_INITIALIZE_ARGS, CreateMutex, 0, 0),
                  FIELD(CK_C_INITIALIZE_ARGS, DestroyMutex, 8, 8),
                  FIELD(CK_C_INITIALIZE_ARGS, LockMutex, 16, 16),
                  FIELD(CK_C_INITIALIZE_ARGS, UnlockMutex, 24, 24),
                  FIELD(CK_C_INITIALIZE_ARGS, flags, 32, 32),
                  FIELD(CK_C_INITIALIZE_ARGS, pReserved, 36, 40)});
    // The version, then 68 entry points in the standard order.
    expectLayout(SIZE(CK_FUNCTION_LIST, 2 + 68 * 8, 8 + 68 * 8),
                 {FIELD(CK_FUNCTION_LIST, C_Initialize, 2, 8),
                  FIELD(CK_FUNCTION_LIST, C_GetFunctionList, 2 + 3 * 8, 8 + 3 * 8),
                  FIELD(CK_FUNCTION_LIST, C_Login, 2 + 18 * 8, 8 + 18 * 8),
                  FIELD(CK_FUNCTION_LIST, C_WaitForSlotEvent, 2 + 67 * 8, 8 + 67 * 8)});
}

#undef FIELD
#undef SIZE

}  // namespace
