// The virtual token through its function table: readers, PINs, access
// control, stored values, the directory, RSA and argument checks.
#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>

#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "OrlStringVector.h"
#include "ZtTestSupport.h"

namespace zttest {
namespace {

constexpr uint32_t kNotVerified = 0x6982;
constexpr uint32_t kBlocked = 0x6983;
constexpr uint32_t kWrongData = 0x6A80;
constexpr uint32_t kSo = 0;
constexpr uint32_t kUser = 1;

using ZtLibrary = ZtStoreTest;

CryptoPP::RSAFunction publicKeyOf(ZT_HANDLE h, const char* path) {
    OrlByteArray der;
    EXPECT_ZT(0, zt().ZT_getPublicKey(h, path, der));
    CryptoPP::RSAFunction key;
    CryptoPP::StringSource source(text(der), true);
    key.BERDecode(source);  // X.509 SubjectPublicKeyInfo
    return key;
}

std::string encode(const CryptoPP::Integer& v, size_t k) {
    std::string out(k, '\0');
    v.Encode(reinterpret_cast<CryptoPP::byte*>(&out[0]), k);
    return out;
}

// A PKCS#1 type 1 block of k bytes around `payload`.
std::string type1Block(const std::string& payload, size_t k) {
    std::string block("\x00\x01", 2);
    block += std::string(k - 3 - payload.size(), '\xff');
    block += '\0';
    return block + payload;
}

TEST(ZtTable, FillsEveryEntryButTheReservedOnes) {
    const CardFunctions& t = zt();
    const void* const* entries = reinterpret_cast<const void* const*>(&t);
    for (int i = 0; i < 24; ++i) {
        bool reserved = i == 16 || i == 19 || i == 20 || i == 21;
        EXPECT_EQ(reserved, entries[i] == nullptr) << "entry " << i;
    }
}

TEST_F(ZtLibrary, ListsReadersSortedAndTellsWhichHoldACard) {
    ASSERT_EQ(0, admin(home_, {"reader", "add", "b reader"}));
    ASSERT_EQ(0, admin(home_, {"reader", "add", "Another"}));
    OrlStringVector readers;
    ASSERT_ZT(0, zt().ZT_getSlotList(readers));
    ASSERT_EQ(3u, readers.size());
    EXPECT_STREQ("Another", readers[0]);
    EXPECT_STREQ("Reader A", readers[1]);
    EXPECT_STREQ("b reader", readers[2]);
    EXPECT_ZT(0, zt().ZT_isInserted("Reader A"));
    EXPECT_NE(0u, zt().ZT_isInserted("Another"));
    EXPECT_NE(0u, zt().ZT_isInserted("No such reader"));
    EXPECT_NE(0u, zt().ZT_isInserted("../Reader A"));
    EXPECT_NE(0u, zt().ZT_isInserted(nullptr));
}

TEST_F(ZtLibrary, EmptyStoreListsNoReader) {
    setenv("ZT_HOME", (home_ + "/nothing-here").c_str(), 1);
    ASSERT_ZT(0, zt().ZT_open());
    OrlStringVector readers;
    EXPECT_ZT(0, zt().ZT_getSlotList(readers));
    EXPECT_EQ(0u, readers.size());
}

TEST_F(ZtLibrary, TokenInfoGivesTheFourTexts) {
    char serial[256], label[256], manufacturer[256], model[256];
    ASSERT_ZT(0, zt().ZT_getTokenInfo(kReader, serial, label, manufacturer, model));
    EXPECT_STREQ("SN-0001", serial);
    EXPECT_STREQ("Test card", label);
    EXPECT_STREQ("Quillon", manufacturer);
    EXPECT_STREQ("ZT virtual", model);
    ASSERT_EQ(0, admin(home_, {"reader", "add", "Empty"}));
    EXPECT_NE(0u, zt().ZT_getTokenInfo("Empty", serial, label, manufacturer, model));
    EXPECT_NE(0u, zt().ZT_getTokenInfo(kReader, serial, nullptr, manufacturer, model));
}

TEST_F(ZtLibrary, WrongPinsCountDownAndBlock) {
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(handle_, kUser, "0000"));
    EXPECT_ZT(0x63C1, zt().ZT_verifyPIN(handle_, kUser, "0000"));
    EXPECT_ZT(0x63C0, zt().ZT_verifyPIN(handle_, kUser, "0000"));
    EXPECT_ZT(kBlocked, zt().ZT_verifyPIN(handle_, kUser, "1234"));
    EXPECT_ZT(kBlocked, zt().ZT_verifyPIN(handle_, kUser, "0000"));
    // The SO PIN has its own counter.
    EXPECT_ZT(0, zt().ZT_verifyPIN(handle_, kSo, "12345678"));
    // zt-admin unblocks it.
    ASSERT_EQ(0, admin(home_, {"pin", "reset", kReader, "--user-pin", "4321"}));
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(handle_, kUser, "1234"));
    EXPECT_ZT(0, zt().ZT_verifyPIN(handle_, kUser, "4321"));
}

TEST_F(ZtLibrary, RightPinResetsTheCounter) {
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(handle_, kUser, "0000"));
    EXPECT_ZT(0x63C1, zt().ZT_verifyPIN(handle_, kUser, "0000"));
    EXPECT_ZT(0, zt().ZT_verifyPIN(handle_, kUser, "1234"));
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(handle_, kUser, "0000"));
}

TEST_F(ZtLibrary, NoUserTypeMeansTheUserPin) {
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(handle_, kNoUserType, "12345678"));
    EXPECT_ZT(0, zt().ZT_verifyPIN(handle_, kNoUserType, "1234"));
    EXPECT_ZT(0, zt().ZT_changePIN(handle_, kNoUserType, "5678"));
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(handle_, kUser, "1234"));
    EXPECT_ZT(0, zt().ZT_verifyPIN(handle_, kUser, "5678"));
}

TEST_F(ZtLibrary, NullOrEmptyPinIsRefusedWithoutCostingATry) {
    uint32_t st = zt().ZT_verifyPIN(handle_, kUser, nullptr);
    EXPECT_NE(0u, st);
    EXPECT_NE(0x63C0u, st & 0xFFF0u);
    EXPECT_NE(0u, zt().ZT_verifyPIN(handle_, kUser, ""));
    EXPECT_NE(0u, zt().ZT_changePIN(handle_, kUser, nullptr));
    EXPECT_NE(0u, zt().ZT_initPIN(handle_, nullptr));
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(handle_, kUser, "0000"));
}

TEST_F(ZtLibrary, ChangePinNeedsThatPinVerified) {
    EXPECT_ZT(kNotVerified, zt().ZT_changePIN(handle_, kUser, "2222"));
    EXPECT_ZT(0, zt().ZT_verifyPIN(handle_, kSo, "12345678"));
    EXPECT_ZT(kNotVerified, zt().ZT_changePIN(handle_, kUser, "2222"));
    EXPECT_ZT(0, zt().ZT_changePIN(handle_, kSo, "87654321"));
    verifyUser(handle_);
    EXPECT_ZT(0, zt().ZT_changePIN(handle_, kUser, "2222"));
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(handle_, kUser, "1234"));
    EXPECT_ZT(0, zt().ZT_verifyPIN(handle_, kUser, "2222"));
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(handle_, kSo, "12345678"));
    EXPECT_ZT(0, zt().ZT_verifyPIN(handle_, kSo, "87654321"));
}

TEST_F(ZtLibrary, InitPinNeedsTheSoAndUnblocksTheUserPin) {
    for (int i = 0; i < 3; ++i) zt().ZT_verifyPIN(handle_, kUser, "0000");
    EXPECT_ZT(kBlocked, zt().ZT_verifyPIN(handle_, kUser, "1234"));
    EXPECT_ZT(kNotVerified, zt().ZT_initPIN(handle_, "7777"));
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(handle_, kSo, "wrong"));
    EXPECT_ZT(kNotVerified, zt().ZT_initPIN(handle_, "7777"));
    ASSERT_ZT(0, zt().ZT_verifyPIN(handle_, kSo, "12345678"));
    EXPECT_ZT(0, zt().ZT_initPIN(handle_, "7777"));
    EXPECT_ZT(0, zt().ZT_verifyPIN(handle_, kUser, "7777"));
    // The SO verified on another connection does not count here.
    ZT_HANDLE other = connect();
    EXPECT_ZT(kNotVerified, zt().ZT_initPIN(other, "8888"));
    zt().ZT_disconnect(other);
}

TEST_F(ZtLibrary, VerificationBelongsToTheConnection) {
    verifyUser(handle_);
    OrlByteArray empty;
    char path[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_addObj(handle_, empty, kAccessPrivateData, path));
    OrlByteArray secret = bytes("private bytes");
    ASSERT_ZT(0, zt().ZT_addObj(handle_, secret, kAccessPrivateData, path));
    ZT_HANDLE other = connect();
    OrlByteArray out;
    EXPECT_ZT(kNotVerified, zt().ZT_readObj(other, path, kAccessPrivateData, out));
    EXPECT_EQ(0u, out.getLength());
    EXPECT_ZT(0, zt().ZT_readObj(handle_, path, kAccessPrivateData, out));
    EXPECT_EQ("private bytes", text(out));
    // A wrong PIN ends the verification of the connection.
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(handle_, kUser, "0000"));
    out.removeAll();
    EXPECT_ZT(kNotVerified, zt().ZT_readObj(handle_, path, kAccessPrivateData, out));
    zt().ZT_disconnect(other);
}

TEST_F(ZtLibrary, PrivateValuesAndKeysNeedTheUserPin) {
    OrlByteArray empty;
    char path[kCardPathSize];
    EXPECT_ZT(kNotVerified, zt().ZT_addObj(handle_, empty, kAccessPrivateData, path));
    EXPECT_ZT(kNotVerified, zt().ZT_addObj(handle_, empty, kAccessSecretKey, path));
    // Public values, certificates, the directory and public keys need no PIN.
    char pub[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_addObj(handle_, empty, kAccessPublicData, pub));
    OrlByteArray value = bytes("public");
    ASSERT_ZT(0, zt().ZT_addObj(handle_, value, kAccessPublicData, pub));
    char cert[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_addObj(handle_, empty, kAccessCertificate, cert));
    OrlByteArray dir = bytes("directory");
    ASSERT_ZT(0, zt().ZT_putObjectTbl(handle_, dir));
    char key[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_genKeyPair(handle_, 1024, nullptr, key));

    ZT_HANDLE fresh = connect();
    OrlByteArray out;
    EXPECT_ZT(0, zt().ZT_readObj(fresh, pub, kAccessPublicData, out));
    EXPECT_ZT(0, zt().ZT_getObjectTbl(fresh, out));
    EXPECT_ZT(0, zt().ZT_getPublicKey(fresh, key, out));
    OrlByteArray block(128), sig;
    block.getContent()[1] = 1;
    EXPECT_ZT(kNotVerified, zt().ZT_applyPrivateKey(fresh, key, kPrivateKeyRaw, block, sig));
    EXPECT_ZT(kNotVerified, zt().ZT_deleteObj(fresh, key));
    // Reading a public value as private data, or writing it as a secret key, needs the PIN.
    EXPECT_ZT(kNotVerified, zt().ZT_readObj(fresh, pub, kAccessPrivateData, out));
    EXPECT_ZT(kNotVerified, zt().ZT_writeObj(fresh, pub, kAccessSecretKey, value));

    verifyUser(fresh);
    char secret[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_addObj(fresh, empty, kAccessSecretKey, secret));
    OrlByteArray keyBytes = bytes("0123456789abcdef");
    ASSERT_ZT(0, zt().ZT_addObj(fresh, keyBytes, kAccessSecretKey, secret));
    EXPECT_ZT(0, zt().ZT_applyPrivateKey(fresh, key, kPrivateKeyRaw, block, sig));
    // Without the PIN the secret key can be neither read, replaced nor deleted.
    out.removeAll();
    EXPECT_ZT(kNotVerified, zt().ZT_readObj(handle_, secret, kAccessSecretKey, out));
    EXPECT_ZT(kNotVerified, zt().ZT_writeObj(handle_, secret, kAccessSecretKey, value));
    EXPECT_ZT(kNotVerified, zt().ZT_deleteObj(handle_, secret));
    EXPECT_ZT(0, zt().ZT_readObj(fresh, secret, kAccessSecretKey, out));
    EXPECT_EQ("0123456789abcdef", text(out));
    zt().ZT_disconnect(fresh);
}

TEST_F(ZtLibrary, NoDirectoryAnswersNineThenTheStoredBlob) {
    OrlByteArray out;
    uint32_t st = zt().ZT_getObjectTbl(handle_, out);
    EXPECT_EQ(9u, st & 0xFFFFu) << hex(st);
    EXPECT_EQ(0u, out.getLength());
    OrlByteArray dir = bytes(std::string("\x00\x05 directory \x00 bytes", 20));
    ASSERT_ZT(0, zt().ZT_putObjectTbl(handle_, dir));
    // The library appends to the caller's array.
    OrlByteArray appended = bytes(">");
    ASSERT_ZT(0, zt().ZT_getObjectTbl(handle_, appended));
    EXPECT_EQ(">" + text(dir), text(appended));
    OrlByteArray empty;
    ASSERT_ZT(0, zt().ZT_putObjectTbl(handle_, empty));
    OrlByteArray none;
    EXPECT_ZT(0, zt().ZT_getObjectTbl(handle_, none));
    EXPECT_EQ(0u, none.getLength());
}

TEST_F(ZtLibrary, AllocatedValueIsEmptyUntilWritten) {
    OrlByteArray empty;
    char first[kCardPathSize], second[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_addObj(handle_, empty, kAccessPublicData, first));
    ASSERT_ZT(0, zt().ZT_addObj(handle_, empty, kAccessCertificate, second));
    EXPECT_STRNE(first, second);
    OrlByteArray out;
    uint32_t st = zt().ZT_readObj(handle_, first, kAccessPublicData, out);
    EXPECT_EQ(7u, st & 0xFFFFu) << hex(st);
    OrlByteArray data = bytes(std::string("value\0with zero", 15));
    ASSERT_ZT(0, zt().ZT_addObj(handle_, data, kAccessPublicData, first));
    ASSERT_ZT(0, zt().ZT_readObj(handle_, first, kAccessPublicData, out));
    EXPECT_EQ(text(data), text(out));
    OrlByteArray replaced = bytes("replaced");
    ASSERT_ZT(0, zt().ZT_writeObj(handle_, first, kAccessPublicData, replaced));
    out.removeAll();
    ASSERT_ZT(0, zt().ZT_readObj(handle_, first, kAccessPublicData, out));
    EXPECT_EQ("replaced", text(out));
    ASSERT_ZT(0, zt().ZT_deleteObj(handle_, first));
    out.removeAll();
    st = zt().ZT_readObj(handle_, first, kAccessPublicData, out);
    EXPECT_NE(0u, st);
    EXPECT_NE(7u, st & 0xFFFFu);
    EXPECT_NE(0u, zt().ZT_writeObj(handle_, first, kAccessPublicData, replaced));
    EXPECT_NE(0u, zt().ZT_deleteObj(handle_, first));
    // The other value is untouched.
    st = zt().ZT_readObj(handle_, second, kAccessCertificate, out);
    EXPECT_EQ(7u, st & 0xFFFFu) << hex(st);
}

TEST_F(ZtLibrary, GeneratedKeySignsAndDecrypts) {
    verifyUser(handle_);
    char path[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_genKeyPair(handle_, 1024, nullptr, path));
    EXPECT_STREQ("1", path);
    CryptoPP::RSAFunction pub = publicKeyOf(handle_, path);
    EXPECT_EQ(1024u, pub.GetModulus().BitCount());
    EXPECT_EQ(CryptoPP::Integer(65537), pub.GetPublicExponent());
    size_t k = pub.GetModulus().ByteCount();

    // Raw private-key operation on a signature block, checked with the public key.
    std::string em = type1Block("digest info bytes", k);
    OrlByteArray in = bytes(em), sig;
    ASSERT_ZT(0, zt().ZT_applyPrivateKey(handle_, path, kPrivateKeyRaw, in, sig));
    ASSERT_EQ(k, sig.getLength());
    CryptoPP::Integer s(sig.getContent(), sig.getLength());
    EXPECT_EQ(em, encode(pub.ApplyFunction(s), k));

    // PKCS#1 v1.5 decryption of what Crypto++ encrypted.
    CryptoPP::AutoSeededRandomPool rng;
    CryptoPP::RSAES_PKCS1v15_Encryptor enc(pub);
    std::string message = "the message", cipher;
    CryptoPP::StringSource(message, true, new CryptoPP::PK_EncryptorFilter(
                                              rng, enc, new CryptoPP::StringSink(cipher)));
    OrlByteArray c = bytes(cipher), plain;
    ASSERT_ZT(0, zt().ZT_applyPrivateKey(handle_, path, kPrivateKeyDecryptPkcs1, c, plain));
    EXPECT_EQ(message, text(plain));

    // A second pair takes the next number and the given exponent.
    OrlByteArray three = bytes("\x03");
    char second[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_genKeyPair(handle_, 1032, &three, second));
    EXPECT_STREQ("2", second);
    CryptoPP::RSAFunction pub2 = publicKeyOf(handle_, second);
    EXPECT_EQ(CryptoPP::Integer(3), pub2.GetPublicExponent());
    EXPECT_EQ(1032u, pub2.GetModulus().BitCount());
}

TEST_F(ZtLibrary, ImportedKeyGivesTheSameResultsAsCryptopp) {
    CryptoPP::AutoSeededRandomPool rng;
    CryptoPP::InvertibleRSAFunction priv;
    priv.Initialize(rng, 1024);
    auto arrayOf = [](const CryptoPP::Integer& v) {
        std::string s = encode(v, v.MinEncodedSize());
        return bytes(s);
    };
    OrlByteArray n = arrayOf(priv.GetModulus()), d = arrayOf(priv.GetPrivateExponent()),
                 e = arrayOf(priv.GetPublicExponent());
    char path[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_putKeyPair(handle_, n, d, e, path));
    EXPECT_STREQ("1", path);
    CryptoPP::RSAFunction pub = publicKeyOf(handle_, path);
    EXPECT_EQ(priv.GetModulus(), pub.GetModulus());
    EXPECT_EQ(priv.GetPublicExponent(), pub.GetPublicExponent());

    verifyUser(handle_);
    size_t k = priv.GetModulus().ByteCount();
    CryptoPP::Integer x(rng, CryptoPP::Integer::One(), priv.GetModulus() - 1);
    OrlByteArray in = bytes(encode(x, k)), out;
    ASSERT_ZT(0, zt().ZT_applyPrivateKey(handle_, path, kPrivateKeyRaw, in, out));
    EXPECT_EQ(encode(priv.CalculateInverse(rng, x), k), text(out));
    // A shorter input is the same number.
    std::string shortInput = encode(CryptoPP::Integer(12345), 2);
    OrlByteArray small = bytes(shortInput), smallOut;
    ASSERT_ZT(0, zt().ZT_applyPrivateKey(handle_, path, kPrivateKeyRaw, small, smallOut));
    EXPECT_EQ(encode(priv.CalculateInverse(rng, CryptoPP::Integer(12345)), k), text(smallOut));

    // A private exponent that does not belong to the modulus is refused.
    OrlByteArray wrongD = arrayOf(priv.GetPrivateExponent() + 2);
    char other[kCardPathSize];
    EXPECT_ZT(kWrongData, zt().ZT_putKeyPair(handle_, n, wrongD, e, other));
}

TEST_F(ZtLibrary, MalformedBlocksAreRefused) {
    verifyUser(handle_);
    char path[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_genKeyPair(handle_, 1024, nullptr, path));
    CryptoPP::RSAFunction pub = publicKeyOf(handle_, path);
    size_t k = pub.GetModulus().ByteCount();
    auto decrypt = [&](const std::string& block) {
        std::string cipher = encode(pub.ApplyFunction(CryptoPP::Integer(
                                        reinterpret_cast<const CryptoPP::byte*>(block.data()),
                                        block.size())),
                                    k);
        OrlByteArray in = bytes(cipher), out;
        return zt().ZT_applyPrivateKey(handle_, path, kPrivateKeyDecryptPkcs1, in, out);
    };
    std::string good = std::string("\x00\x02", 2) + std::string(k - 8, '\x5a') + '\0' + "hello";
    EXPECT_ZT(0, decrypt(good));
    EXPECT_ZT(kWrongData, decrypt(type1Block("hello", k)));
    std::string shortPadding = std::string("\x00\x02", 2) + std::string(5, '\x5a') + '\0' +
                               std::string(k - 8, 'm');
    EXPECT_ZT(kWrongData, decrypt(shortPadding));
    std::string noSeparator = std::string("\x00\x02", 2) + std::string(k - 2, '\x5a');
    EXPECT_ZT(kWrongData, decrypt(noSeparator));

    OrlByteArray out;
    OrlByteArray tooBig(static_cast<unsigned long>(k));
    std::memset(tooBig.getContent(), 0xff, k);
    EXPECT_ZT(kWrongData, zt().ZT_applyPrivateKey(handle_, path, kPrivateKeyRaw, tooBig, out));
    OrlByteArray tooLong(static_cast<unsigned long>(k + 1));
    EXPECT_ZT(kWrongData, zt().ZT_applyPrivateKey(handle_, path, kPrivateKeyRaw, tooLong, out));
    OrlByteArray empty;
    EXPECT_ZT(kWrongData, zt().ZT_applyPrivateKey(handle_, path, kPrivateKeyRaw, empty, out));
    OrlByteArray block(static_cast<unsigned long>(k));
    EXPECT_NE(0u, zt().ZT_applyPrivateKey(handle_, path, 2, block, out));
    EXPECT_NE(0u, zt().ZT_applyPrivateKey(handle_, "99", kPrivateKeyRaw, block, out));
    EXPECT_EQ(0u, out.getLength());
}

TEST_F(ZtLibrary, KeySizesAndExponentsOutsideTheRangeAreRefused) {
    char path[kCardPathSize];
    EXPECT_NE(0u, zt().ZT_genKeyPair(handle_, 512, nullptr, path));
    EXPECT_NE(0u, zt().ZT_genKeyPair(handle_, 1023, nullptr, path));
    EXPECT_NE(0u, zt().ZT_genKeyPair(handle_, 4097, nullptr, path));
    EXPECT_NE(0u, zt().ZT_genKeyPair(handle_, 0xFFFFFFFFu, nullptr, path));
    OrlByteArray even = bytes(std::string("\x01\x00\x00", 3));  // 65536
    EXPECT_NE(0u, zt().ZT_genKeyPair(handle_, 1024, &even, path));
    OrlByteArray one = bytes("\x01");
    EXPECT_NE(0u, zt().ZT_genKeyPair(handle_, 1024, &one, path));
    EXPECT_NE(0u, zt().ZT_genKeyPair(handle_, 1024, nullptr, nullptr));
    // An empty exponent means 65537.
    OrlByteArray empty;
    ASSERT_ZT(0, zt().ZT_genKeyPair(handle_, 2048, &empty, path));
    CryptoPP::RSAFunction pub = publicKeyOf(handle_, path);
    EXPECT_EQ(CryptoPP::Integer(65537), pub.GetPublicExponent());
    EXPECT_EQ(2048u, pub.GetModulus().BitCount());
}

TEST_F(ZtLibrary, LargestKeySizeSigns) {
    verifyUser(handle_);
    char path[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_genKeyPair(handle_, 4096, nullptr, path));
    CryptoPP::RSAFunction pub = publicKeyOf(handle_, path);
    ASSERT_EQ(4096u, pub.GetModulus().BitCount());
    std::string em = type1Block("digest", 512);
    OrlByteArray in = bytes(em), sig;
    ASSERT_ZT(0, zt().ZT_applyPrivateKey(handle_, path, kPrivateKeyRaw, in, sig));
    EXPECT_EQ(em, encode(pub.ApplyFunction(CryptoPP::Integer(sig.getContent(), sig.getLength())), 512));
}

TEST_F(ZtLibrary, KeyPairDeletionNeedsThePinAndFreesThePath) {
    verifyUser(handle_);
    char path[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_genKeyPair(handle_, 1024, nullptr, path));
    ASSERT_ZT(0, zt().ZT_deleteObj(handle_, path));
    OrlByteArray out;
    EXPECT_NE(0u, zt().ZT_getPublicKey(handle_, path, out));
    EXPECT_NE(0u, zt().ZT_deleteObj(handle_, path));
    // Numbers are not reused.
    char next[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_genKeyPair(handle_, 1024, nullptr, next));
    EXPECT_STREQ("2", next);
}

TEST_F(ZtLibrary, BadArgumentsAnswerAStatus) {
    OrlByteArray out, data = bytes("x"), empty;
    std::string longPath(256, '1');  // no terminator within the 256-byte buffer
    std::string longerPath(257, 'v');
    char path[kCardPathSize];
    ZT_HANDLE h = 0;
    struct Case {
        const char* what;
        uint32_t status;
    };
    const Case cases[] = {
        {"connect null reader", zt().ZT_connect(nullptr, &h)},
        {"connect null handle", zt().ZT_connect(kReader, nullptr)},
        {"connect unknown reader", zt().ZT_connect("Nobody", &h)},
        {"connect over-long name", zt().ZT_connect(longerPath.c_str(), &h)},
        {"disconnect unknown", zt().ZT_disconnect(handle_ + 1000)},
        {"verify unknown handle", zt().ZT_verifyPIN(handle_ + 1000, 1, "1234")},
        {"verify over-long PIN", zt().ZT_verifyPIN(handle_, 1, longerPath.c_str())},
        {"read 256-byte path", zt().ZT_readObj(handle_, longPath.c_str(), 0, out)},
        {"read 257-byte path", zt().ZT_readObj(handle_, longerPath.c_str(), 0, out)},
        {"read null path", zt().ZT_readObj(handle_, nullptr, 0, out)},
        {"read unknown path", zt().ZT_readObj(handle_, "v99", 0, out)},
        {"read traversal", zt().ZT_readObj(handle_, "../card/pins", 0, out)},
        {"read bad access class", zt().ZT_readObj(handle_, "v1", 4, out)},
        {"write unknown path", zt().ZT_writeObj(handle_, "v99", 0, data)},
        {"write null path", zt().ZT_writeObj(handle_, nullptr, 0, data)},
        {"add null path", zt().ZT_addObj(handle_, empty, 0, nullptr)},
        {"add bad access class", zt().ZT_addObj(handle_, empty, 7, path)},
        {"delete unknown", zt().ZT_deleteObj(handle_, "v42")},
        {"delete key-looking text", zt().ZT_deleteObj(handle_, "01")},
        {"delete null", zt().ZT_deleteObj(handle_, nullptr)},
        {"public key unknown", zt().ZT_getPublicKey(handle_, "5", out)},
        {"public key of a value path", zt().ZT_getPublicKey(handle_, "v1", out)},
        {"public key null", zt().ZT_getPublicKey(handle_, nullptr, out)},
        {"directory bad handle", zt().ZT_getObjectTbl(0, out)},
        {"put directory bad handle", zt().ZT_putObjectTbl(0, data)},
        {"gen null path", zt().ZT_genKeyPair(handle_, 1024, nullptr, nullptr)},
        {"put key null path", zt().ZT_putKeyPair(handle_, data, data, data, nullptr)},
        {"put key tiny modulus", zt().ZT_putKeyPair(handle_, data, data, data, path)},
        {"token info null reader", zt().ZT_getTokenInfo(nullptr, path, path, path, path)},
        {"is inserted over-long", zt().ZT_isInserted(longerPath.c_str())},
    };
    for (const Case& c : cases) EXPECT_NE(0u, c.status) << c.what;
    EXPECT_EQ(0u, out.getLength());
}

TEST(ZtTable, RefusesANullTable) {
    void* lib = dlopen(ZT_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, lib);
    auto get = reinterpret_cast<ZT_GetFunctionList_t>(dlsym(lib, ZT_GET_FUNCTION_LIST_NAME));
    ASSERT_NE(nullptr, get);
    EXPECT_NE(0u, get(nullptr));
    // Nothing else leaves the library.
    EXPECT_EQ(nullptr, dlsym(lib, "_ZN2zt12_GLOBAL__N_19ztConnectEPKcPm"));
    dlclose(lib);
}

// Path buffers are 256 bytes: the library writes the path and its terminator
// inside them and nothing after.
TEST_F(ZtLibrary, PathBuffersAreNotOverrun) {
    verifyUser(handle_);
    struct Guarded {
        char buffer[kCardPathSize];
        char guard[64];
    };
    auto check = [](const Guarded& g) {
        for (char c : g.guard) ASSERT_EQ('\x5a', c);
        EXPECT_LT(strnlen(g.buffer, kCardPathSize), static_cast<size_t>(kCardPathSize));
    };
    Guarded g;
    std::memset(&g, 0x5a, sizeof(g));
    OrlByteArray empty;
    ASSERT_ZT(0, zt().ZT_addObj(handle_, empty, kAccessPublicData, g.buffer));
    check(g);
    // ZT_addObj with data reads the buffer as a path: an unterminated one is refused.
    std::memset(&g, 0x5a, sizeof(g));
    OrlByteArray data = bytes("x");
    EXPECT_NE(0u, zt().ZT_addObj(handle_, data, kAccessPublicData, g.buffer));
    for (char c : g.guard) ASSERT_EQ('\x5a', c);
    std::memset(&g, 0x5a, sizeof(g));
    ASSERT_ZT(0, zt().ZT_genKeyPair(handle_, 1024, nullptr, g.buffer));
    check(g);
    char serial[256], label[256], manufacturer[256], model[256];
    ASSERT_ZT(0, zt().ZT_getTokenInfo(kReader, serial, label, manufacturer, model));
}

TEST_F(ZtLibrary, PulledCardInvalidatesTheConnection) {
    verifyUser(handle_);
    OrlByteArray dir = bytes("kept");
    ASSERT_ZT(0, zt().ZT_putObjectTbl(handle_, dir));
    ASSERT_EQ(0, admin(home_, {"card", "remove", kReader}));
    EXPECT_NE(0u, zt().ZT_isInserted(kReader));
    OrlByteArray out;
    EXPECT_NE(0u, zt().ZT_getObjectTbl(handle_, out));
    EXPECT_NE(0u, zt().ZT_verifyPIN(handle_, 1, "1234"));
    ZT_HANDLE h = 0;
    EXPECT_NE(0u, zt().ZT_connect(kReader, &h));
    ASSERT_EQ(0, admin(home_, {"card", "insert", kReader}));
    // The old connection stays dead; a new one sees the kept data.
    EXPECT_NE(0u, zt().ZT_getObjectTbl(handle_, out));
    ZT_HANDLE again = connect();
    ASSERT_ZT(0, zt().ZT_getObjectTbl(again, out));
    EXPECT_EQ("kept", text(out));
    // ... and must verify the PIN again.
    OrlByteArray empty;
    char path[kCardPathSize];
    EXPECT_ZT(kNotVerified, zt().ZT_addObj(again, empty, kAccessPrivateData, path));
    zt().ZT_disconnect(again);
    EXPECT_NE(0u, zt().ZT_disconnect(again));
    // A deleted reader leaves handles that fail cleanly.
    ZT_HANDLE last = connect();
    ASSERT_EQ(0, admin(home_, {"reader", "delete", kReader}));
    EXPECT_NE(0u, zt().ZT_getObjectTbl(last, out));
    EXPECT_NE(0u, zt().ZT_isInserted(kReader));
}

TEST_F(ZtLibrary, EverythingSurvivesCloseAndOpen) {
    verifyUser(handle_);
    OrlByteArray dir = bytes("directory v1"), empty, value = bytes("secret value");
    ASSERT_ZT(0, zt().ZT_putObjectTbl(handle_, dir));
    char valuePath[kCardPathSize], keyPath[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_addObj(handle_, empty, kAccessSecretKey, valuePath));
    ASSERT_ZT(0, zt().ZT_addObj(handle_, value, kAccessSecretKey, valuePath));
    ASSERT_ZT(0, zt().ZT_genKeyPair(handle_, 1024, nullptr, keyPath));
    OrlByteArray pubBefore;
    ASSERT_ZT(0, zt().ZT_getPublicKey(handle_, keyPath, pubBefore));
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(handle_, kSo, "bad"));

    ASSERT_ZT(0, zt().ZT_close());
    EXPECT_NE(0u, zt().ZT_getObjectTbl(handle_, dir));  // connections end with ZT_close
    handle_ = 0;
    ASSERT_ZT(0, zt().ZT_open());
    handle_ = connect();
    OrlByteArray out;
    ASSERT_ZT(0, zt().ZT_getObjectTbl(handle_, out));
    EXPECT_EQ("directory v1", text(out));
    verifyUser(handle_);
    out.removeAll();
    ASSERT_ZT(0, zt().ZT_readObj(handle_, valuePath, kAccessSecretKey, out));
    EXPECT_EQ("secret value", text(out));
    out.removeAll();
    ASSERT_ZT(0, zt().ZT_getPublicKey(handle_, keyPath, out));
    EXPECT_EQ(text(pubBefore), text(out));
    EXPECT_ZT(0x63C1, zt().ZT_verifyPIN(handle_, kSo, "bad"));
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A damaged store answers statuses; it never crashes the caller or passes
// for a wrong PIN.
TEST_F(ZtLibrary, DamagedFilesAnswerAStatus) {
    std::string card = home_ + "/readers/Reader A/card/";
    verifyUser(handle_);
    OrlByteArray empty, out;
    char value[kCardPathSize], key[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_addObj(handle_, empty, kAccessPublicData, value));
    ASSERT_ZT(0, zt().ZT_genKeyPair(handle_, 1024, nullptr, key));

    writeFile(card + "values/" + value, "");
    uint32_t st = zt().ZT_readObj(handle_, value, kAccessPublicData, out);
    EXPECT_NE(0u, st);
    EXPECT_NE(7u, st & 0xFFFFu);
    writeFile(card + "values/" + value, std::string("\x09\x01", 2) + "data");  // access class 9
    EXPECT_NE(0u, zt().ZT_readObj(handle_, value, kAccessPublicData, out));
    EXPECT_EQ(0u, out.getLength());

    writeFile(card + "keys/" + key, "not DER at all");
    EXPECT_NE(0u, zt().ZT_getPublicKey(handle_, key, out));
    OrlByteArray block(128), sig;
    EXPECT_NE(0u, zt().ZT_applyPrivateKey(handle_, key, kPrivateKeyRaw, block, sig));

    std::string pins = readFile(card + "pins");
    writeFile(card + "pins", pins.substr(0, pins.size() / 2));
    st = zt().ZT_verifyPIN(handle_, 1, "1234");
    EXPECT_NE(0u, st);
    EXPECT_NE(0x63C0u, st & 0xFFF0u);
    writeFile(card + "pins", pins);
    EXPECT_ZT(0, zt().ZT_verifyPIN(handle_, 1, "1234"));

    writeFile(card + "counters", "value=x\n");
    EXPECT_NE(0u, zt().ZT_addObj(handle_, empty, kAccessPublicData, value));
    EXPECT_NE(0u, zt().ZT_genKeyPair(handle_, 1024, nullptr, key));
}

// Parsed keys are cached, but a key file changed or removed behind the
// library's back (by another process) is noticed.
TEST_F(ZtLibrary, KeyCacheFollowsTheStore) {
    verifyUser(handle_);
    char first[kCardPathSize], second[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_genKeyPair(handle_, 1024, nullptr, first));
    ASSERT_ZT(0, zt().ZT_genKeyPair(handle_, 1040, nullptr, second));
    EXPECT_EQ(1024u, publicKeyOf(handle_, first).GetModulus().BitCount());
    OrlByteArray block(128), sig;
    ASSERT_ZT(0, zt().ZT_applyPrivateKey(handle_, first, kPrivateKeyRaw, block, sig));

    std::string keys = home_ + "/readers/Reader A/card/keys/";
    std::filesystem::copy_file(keys + second, keys + "tmp-copy");
    std::filesystem::rename(keys + "tmp-copy", keys + first);
    EXPECT_EQ(1040u, publicKeyOf(handle_, first).GetModulus().BitCount());
    std::filesystem::remove(keys + first);
    OrlByteArray out;
    EXPECT_NE(0u, zt().ZT_getPublicKey(handle_, first, out));
    EXPECT_NE(0u, zt().ZT_applyPrivateKey(handle_, first, kPrivateKeyRaw, block, sig));
}

// Leftovers of a crash beside the files are never taken for values.
TEST_F(ZtLibrary, LeftoverTemporaryFilesAreIgnored) {
    OrlByteArray empty, out;
    char value[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_addObj(handle_, empty, kAccessPublicData, value));
    std::string values = home_ + "/readers/Reader A/card/values/";
    std::string leftover = std::string(value) + ".tmp.123.0";
    writeFile(values + leftover, std::string("\x00\x01", 2) + "torn");
    EXPECT_NE(0u, zt().ZT_readObj(handle_, leftover.c_str(), kAccessPublicData, out));
    uint32_t st = zt().ZT_readObj(handle_, value, kAccessPublicData, out);
    EXPECT_EQ(7u, st & 0xFFFFu) << hex(st);
    writeFile(home_ + "/readers/Reader A/card/directory.tmp.1.1", "torn");
    st = zt().ZT_getObjectTbl(handle_, out);
    EXPECT_EQ(9u, st & 0xFFFFu) << hex(st);
}

}  // namespace
}  // namespace zttest
