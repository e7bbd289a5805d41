// The provider over a card that answers anything: every status, length, text,
// reader list, directory, stored value, public key and private-key result is
// drawn from the fuzz input while a fixed script of PKCS#11 calls runs. The
// provider must answer every call with a CKR_ code, never crash, leak or read
// out of bounds, whatever the card says.
#include <fuzzer/FuzzedDataProvider.h>

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <cryptopp/rsa.h>

#include <cstring>
#include <memory>
#include <string>

#include "CardLibrary.h"
#include "FuzzCalls.h"
#include "FuzzProvider.h"

namespace {

using fuzz::Bytes;

FuzzedDataProvider* s_input = nullptr;

// Statuses worth more than a random number: the card's own codes, those the
// provider maps, and PC/SC codes whose low bits look like them.
const uint32_t kStatuses[] = {0x6982,     0x6983,     0x63C0,     0x63C2, 0x6A80,     0x6A82,
                              0x6A88,     0x6F00,     7,          9,      0x00010007, 0x00010009,
                              0x80100007, 0x80100009, 0xFFFFFFFF, 1};

// Mostly success, so the script gets somewhere; sometimes a card error; now
// and then an exception from the card library.
uint32_t status() {
    uint8_t pick = s_input->ConsumeIntegral<uint8_t>();
    if (pick < 200) return 0;
    if (pick == 255) throw 0x5A;
    size_t i = pick - 200;
    if (i < sizeof kStatuses / sizeof kStatuses[0]) return kStatuses[i];
    return s_input->ConsumeIntegral<uint32_t>();
}

void bytes(OrlByteArray& out, size_t max = 4096) {
    size_t n = s_input->ConsumeIntegralInRange<size_t>(0, max);
    Bytes b = s_input->ConsumeBytes<unsigned char>(n);
    if (!b.empty()) out.append(b.data(), static_cast<unsigned>(b.size()));
}

// A text in a caller's buffer of kCardPathSize bytes; all of it may be used,
// without a terminator.
void text(char* buffer) {
    if (!buffer) return;
    size_t n = s_input->ConsumeIntegralInRange<size_t>(0, kCardPathSize);
    Bytes b = s_input->ConsumeBytes<unsigned char>(n);
    if (!b.empty()) std::memcpy(buffer, b.data(), b.size());
    if (b.size() < kCardPathSize) buffer[b.size()] = 0;
}

ZT_STATUS fConnect(const char*, ZT_HANDLE* handle) {
    ZT_STATUS s = status();
    if (handle) *handle = s_input->ConsumeIntegral<uint64_t>();
    return s;
}
ZT_STATUS fStatusOnly(ZT_HANDLE) {
    return status();
}
ZT_STATUS fPin(ZT_HANDLE, uint32_t, const char*) {
    return status();
}
ZT_STATUS fInitPin(ZT_HANDLE, const char*) {
    return status();
}
ZT_STATUS fWriteObj(ZT_HANDLE, const char*, uint32_t, OrlByteArray&) {
    return status();
}
ZT_STATUS fReadObj(ZT_HANDLE, const char*, uint32_t, OrlByteArray& out) {
    ZT_STATUS s = status();
    bytes(out);
    return s;
}
ZT_STATUS fAddObj(ZT_HANDLE, OrlByteArray&, uint32_t, char* path) {
    ZT_STATUS s = status();
    text(path);
    return s;
}
ZT_STATUS fDeleteObj(ZT_HANDLE, const char*) {
    return status();
}
ZT_STATUS fGetObjectTbl(ZT_HANDLE, OrlByteArray& out) {
    ZT_STATUS s = status();
    bytes(out, 8192);
    return s;
}
ZT_STATUS fPutObjectTbl(ZT_HANDLE, OrlByteArray&) {
    return status();
}
ZT_STATUS fApplyPrivateKey(ZT_HANDLE, const char*, unsigned char, OrlByteArray&,
                           OrlByteArray& out) {
    ZT_STATUS s = status();
    bytes(out, 1024);
    return s;
}
ZT_STATUS fGenKeyPair(ZT_HANDLE, uint32_t, OrlByteArray*, char* path) {
    ZT_STATUS s = status();
    text(path);
    return s;
}
ZT_STATUS fGetSlotList(OrlStringVector& readers) {
    ZT_STATUS s = status();
    int n = s_input->ConsumeIntegralInRange<int>(0, 3);
    for (int i = 0; i < n; ++i) readers.addElement(s_input->ConsumeRandomLengthString(300).c_str());
    return s;
}
ZT_STATUS fIsInserted(const char*) {
    return status();
}
ZT_STATUS fGetTokenInfo(const char*, char* serial, char* label, char* manufacturer, char* model) {
    ZT_STATUS s = status();
    text(serial);
    text(label);
    text(manufacturer);
    text(model);
    return s;
}
ZT_STATUS fGetPublicKey(ZT_HANDLE, const char*, OrlByteArray& out) {
    ZT_STATUS s = status();
    bytes(out, 1024);
    return s;
}
ZT_STATUS fPutKeyPair(ZT_HANDLE, OrlByteArray&, OrlByteArray&, OrlByteArray&, char* path) {
    ZT_STATUS s = status();
    text(path);
    return s;
}
ZT_STATUS fOpenClose() {
    return status();
}

void installFuzzCard() {
    CardFunctions t = {};
    t.ZT_connect = fConnect;
    t.ZT_disconnect = fStatusOnly;
    t.ZT_verifyPIN = fPin;
    t.ZT_changePIN = fPin;
    t.ZT_initPIN = fInitPin;
    t.ZT_writeObj = fWriteObj;
    t.ZT_readObj = fReadObj;
    t.ZT_addObj = fAddObj;
    t.ZT_deleteObj = fDeleteObj;
    t.ZT_getObjectTbl = fGetObjectTbl;
    t.ZT_putObjectTbl = fPutObjectTbl;
    t.ZT_applyPrivateKey = fApplyPrivateKey;
    t.ZT_genKeyPair = fGenKeyPair;
    t.ZT_getSlotList = fGetSlotList;
    t.ZT_isInserted = fIsInserted;
    t.ZT_getTokenInfo = fGetTokenInfo;
    t.ZT_getPublicKey = fGetPublicKey;
    t.ZT_putKeyPair = fPutKeyPair;
    t.ZT_open = fOpenClose;
    t.ZT_close = fOpenClose;
    g_cardFunctions = t;
    publishCardFunctions(&g_cardFunctions);
}

// An RSA key to import, the same in every run.
struct ImportKey {
    Bytes n, e, d;
};
const ImportKey& importKey() {
    static const ImportKey* key = [] {
        const unsigned char seed[16] = {'q', 'u', 'i', 'l', 'l', 'o', 'n'};
        CryptoPP::OFB_Mode<CryptoPP::AES>::Encryption rng(seed, sizeof seed, seed);
        CryptoPP::InvertibleRSAFunction rsa;
        rsa.Initialize(rng, 512);
        auto encode = [](const CryptoPP::Integer& i) {
            Bytes out(i.MinEncodedSize());
            i.Encode(out.data(), out.size());
            return out;
        };
        return new ImportKey{encode(rsa.GetModulus()), encode(rsa.GetPublicExponent()),
                             encode(rsa.GetPrivateExponent())};
    }();
    return *key;
}

void createObjects(CK_SESSION_HANDLE session) {
    CK_BBOOL yes = CK_TRUE;
    CK_OBJECT_CLASS data = CKO_DATA, secret = CKO_SECRET_KEY, priv = CKO_PRIVATE_KEY;
    CK_KEY_TYPE aes = CKK_AES, rsa = CKK_RSA;
    unsigned char value[16] = {1, 2, 3, 4, 5};
    char label[] = "fuzz";
    CK_OBJECT_HANDLE h = 0;

    CK_ATTRIBUTE dataTemplate[] = {{CKA_CLASS, &data, sizeof data},
                                   {CKA_TOKEN, &yes, sizeof yes},
                                   {CKA_LABEL, label, 4},
                                   {CKA_VALUE, value, 5}};
    if (C_CreateObject(session, dataTemplate, 4, &h) == CKR_OK) {
        CK_ATTRIBUTE relabel[] = {{CKA_LABEL, label, 2}, {CKA_VALUE, value, 16}};
        C_SetAttributeValue(session, h, relabel, 2);
        fuzz::readAllAttributes(session, h);
        C_DestroyObject(session, h);
    }

    CK_ATTRIBUTE secretTemplate[] = {{CKA_CLASS, &secret, sizeof secret},
                                     {CKA_KEY_TYPE, &aes, sizeof aes},
                                     {CKA_TOKEN, &yes, sizeof yes},
                                     {CKA_VALUE, value, 16}};
    if (C_CreateObject(session, secretTemplate, 4, &h) == CKR_OK) fuzz::exercise(session, h);

    const ImportKey& k = importKey();
    CK_ATTRIBUTE keyTemplate[] = {
        {CKA_CLASS, &priv, sizeof priv},
        {CKA_KEY_TYPE, &rsa, sizeof rsa},
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_MODULUS, const_cast<unsigned char*>(k.n.data()), k.n.size()},
        {CKA_PUBLIC_EXPONENT, const_cast<unsigned char*>(k.e.data()), k.e.size()},
        {CKA_PRIVATE_EXPONENT, const_cast<unsigned char*>(k.d.data()), k.d.size()}};
    if (C_CreateObject(session, keyTemplate, 6, &h) == CKR_OK) fuzz::exercise(session, h);

    CK_MECHANISM gen = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_ULONG bits = 1024;
    CK_ATTRIBUTE pubTemplate[] = {{CKA_TOKEN, &yes, sizeof yes},
                                  {CKA_MODULUS_BITS, &bits, sizeof bits}};
    CK_ATTRIBUTE privTemplate[] = {{CKA_TOKEN, &yes, sizeof yes}};
    CK_OBJECT_HANDLE pub = 0, pri = 0;
    if (C_GenerateKeyPair(session, &gen, pubTemplate, 2, privTemplate, 1, &pub, &pri) == CKR_OK) {
        fuzz::exercise(session, pub);
        fuzz::exercise(session, pri);
    }
}

void runSlot(CK_SLOT_ID slot) {
    CK_SLOT_INFO slotInfo;
    C_GetSlotInfo(slot, &slotInfo);
    CK_TOKEN_INFO tokenInfo;
    C_GetTokenInfo(slot, &tokenInfo);
    CK_SESSION_HANDLE session = 0;
    if (C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) !=
        CKR_OK)
        return;
    CK_SESSION_INFO sessionInfo;
    C_GetSessionInfo(session, &sessionInfo);
    // Public objects first, then everything once logged in.
    for (CK_OBJECT_HANDLE h : fuzz::findObjects(session, nullptr, 0)) fuzz::exercise(session, h);
    unsigned char pin[] = "1234";
    C_Login(session, CKU_USER, pin, 4);
    for (CK_OBJECT_HANDLE h : fuzz::findObjects(session, nullptr, 0)) fuzz::exercise(session, h);
    createObjects(session);
    unsigned char newPin[] = "5678";
    C_SetPIN(session, pin, 4, newPin, 4);
    C_Logout(session);
    C_CloseSession(session);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::startProvider(CARDSIM_LIBRARY);
    installFuzzCard();
    importKey();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    s_input = &input;
    CK_C_INITIALIZE_ARGS args = {};
    args.flags = CKF_OS_LOCKING_OK | CKF_LIBRARY_CANT_CREATE_OS_THREADS;
    if (C_Initialize(&args) == CKR_OK) {
        CK_SLOT_ID slots[8];
        CK_ULONG count = 8;
        if (C_GetSlotList(CK_FALSE, slots, &count) != CKR_OK) count = 0;
        for (CK_ULONG i = 0; i < count && i < 2; ++i) runSlot(slots[i]);
        CK_SLOT_ID event = 0;
        C_WaitForSlotEvent(CKF_DONT_BLOCK, &event, nullptr);
        count = 8;
        C_GetSlotList(CK_TRUE, slots, &count);
        C_Finalize(nullptr);
    }
    s_input = nullptr;
    return 0;
}
