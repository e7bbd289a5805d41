// What the virtual token leaves behind: no copy of a key, a secret value or a
// PIN in memory after use, no stale temporary file that blocks or outlives a
// write, and reader names stored safely whatever text they hold.
#include <cryptopp/misc.h>
#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "OrlStringVector.h"
#include "ZtMemoryScan.h"
#include "ZtTestSupport.h"

namespace zttest {
namespace {

namespace fs = std::filesystem;
constexpr uint32_t kSo = 0;
constexpr uint32_t kUser = 1;

using ZtHygiene = ZtStoreTest;

void wipeArray(OrlByteArray& a) {
    if (a.getLength()) CryptoPP::SecureWipeBuffer(a.getContent(), a.getLength());
}

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

// A PIN, a secret key value and an imported private key pass through the
// library; once the session is over no copy of them is left in memory. The
// test's own copies are wiped, and the secrets are searched for masked.
TEST_F(ZtHygiene, NoKeyValueOrPinLeftInMemoryAfterTheSession) {
    CryptoPP::AutoSeededRandomPool rng;
    const char alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
    char pin[25];
    for (size_t i = 0; i + 1 < sizeof(pin); ++i)
        pin[i] = alphabet[rng.GenerateWord32(0, sizeof(alphabet) - 2)];
    pin[sizeof(pin) - 1] = 0;
    unsigned char secret[48];
    rng.GenerateBlock(secret, sizeof(secret));

    // The tails only: a freed block's first bytes may be reused for bookkeeping.
    auto pinNeedle = masked(reinterpret_cast<unsigned char*>(pin) + 8, 16);
    auto secretNeedle = masked(secret + 16, 32);
    std::vector<unsigned char> keyNeedle;
    {
        OrlByteArray modulus, publicExponent, privateExponent;
        {
            CryptoPP::InvertibleRSAFunction key;
            key.Initialize(rng, 1024);
            CryptoPP::SecByteBlock d(key.GetPrivateExponent().MinEncodedSize());
            key.GetPrivateExponent().Encode(d, d.size());
            keyNeedle = masked(d + 8, 32);
            privateExponent.append(d, static_cast<unsigned>(d.size()));
            CryptoPP::SecByteBlock n(key.GetModulus().MinEncodedSize());
            key.GetModulus().Encode(n, n.size());
            modulus.append(n, static_cast<unsigned>(n.size()));
            CryptoPP::SecByteBlock e(key.GetPublicExponent().MinEncodedSize());
            key.GetPublicExponent().Encode(e, e.size());
            publicExponent.append(e, static_cast<unsigned>(e.size()));
        }
        // The scan sees the one copy the test holds (and so can see others).
        ASSERT_EQ(1u, countInMemory(keyNeedle));

        ASSERT_ZT(0, zt().ZT_verifyPIN(handle_, kSo, "12345678"));
        ASSERT_ZT(0, zt().ZT_initPIN(handle_, pin));
        ASSERT_ZT(0, zt().ZT_verifyPIN(handle_, kUser, pin));

        char keyPath[kCardPathSize] = {0};
        ASSERT_ZT(0,
                  zt().ZT_putKeyPair(handle_, modulus, privateExponent, publicExponent, keyPath));
        wipeArray(privateExponent);
        zt().ZT_close();  // forget the cached key: the next use reads the key file
        ASSERT_ZT(0, zt().ZT_open());
        zt().ZT_disconnect(handle_);
        handle_ = connect();
        ASSERT_ZT(0, zt().ZT_verifyPIN(handle_, kUser, pin));
        OrlByteArray block(modulus.getLength() - 1), signature;
        block.getContent()[0] = 1;
        ASSERT_ZT(0, zt().ZT_applyPrivateKey(handle_, keyPath, kPrivateKeyRaw, block, signature));

        OrlByteArray value(secret, sizeof(secret)), empty, readBack;
        char valuePath[kCardPathSize] = {0};
        ASSERT_ZT(0, zt().ZT_addObj(handle_, empty, kAccessSecretKey, valuePath));
        ASSERT_ZT(0, zt().ZT_writeObj(handle_, valuePath, kAccessSecretKey, value));
        ASSERT_ZT(0, zt().ZT_readObj(handle_, valuePath, kAccessSecretKey, readBack));
        ASSERT_EQ(readBack.getLength(), sizeof(secret));
        wipeArray(value);
        wipeArray(readBack);
        // Overwritten by a new value: the old one must not linger either.
        OrlByteArray other(16);
        ASSERT_ZT(0, zt().ZT_writeObj(handle_, valuePath, kAccessSecretKey, other));
    }
    CryptoPP::SecureWipeBuffer(reinterpret_cast<unsigned char*>(pin), sizeof(pin));
    CryptoPP::SecureWipeBuffer(secret, sizeof(secret));
    zt().ZT_disconnect(handle_);
    handle_ = 0;
    zt().ZT_close();

    EXPECT_EQ(0u, countInMemory(pinNeedle)) << "copies of the PIN";
    EXPECT_EQ(0u, countInMemory(secretNeedle)) << "copies of the secret value";
    EXPECT_EQ(0u, countInMemory(keyNeedle)) << "copies of the private exponent";
}

// A killed writer with this process's ID left temporary files under the
// names this process would choose: the writes still succeed, and a wrong
// PIN still costs its try.
TEST_F(ZtHygiene, RegressionStaleTemporaryFileWithOurPidBlockedAWrite) {
    std::string card = home_ + "/readers/Reader A/card/";
    std::string pid = std::to_string(getpid());
    for (int n = 0; n < 300; ++n) {
        writeFile(card + "pins.tmp." + pid + "." + std::to_string(n), "stale");
        writeFile(card + "directory.tmp." + pid + "." + std::to_string(n), "stale");
    }
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(handle_, kUser, "9999"));
    EXPECT_ZT(0x63C1, zt().ZT_verifyPIN(handle_, kUser, "9999"));
    OrlByteArray directory = bytes("directory"), out;
    EXPECT_ZT(0, zt().ZT_putObjectTbl(handle_, directory));
    EXPECT_ZT(0, zt().ZT_getObjectTbl(handle_, out));
    EXPECT_EQ("directory", text(out));
}

TEST_F(ZtHygiene, LeftoverTemporaryFilesAreRemovedWhenTheReaderIsNextOpened) {
    std::string reader = home_ + "/readers/Reader A/";
    std::vector<std::string> stale = {reader + "inserted.tmp.77.1", reader + "card/pins.tmp.5.0",
                                      reader + "card/directory.tmp.9.3.1",
                                      reader + "card/values/v1.tmp.123.0",
                                      reader + "card/keys/1.tmp.4.4"};
    for (const auto& f : stale) writeFile(f, "torn");
    writeFile(reader + "card/values/v1", std::string("\x00\x01", 2) + "kept");
    ZT_HANDLE second = connect();
    for (const auto& f : stale) EXPECT_FALSE(fs::exists(f)) << f;
    EXPECT_TRUE(fs::exists(reader + "card/values/v1"));
    EXPECT_TRUE(fs::exists(reader + "card/pins"));
    OrlByteArray out;
    EXPECT_ZT(0, zt().ZT_readObj(second, "v1", kAccessPublicData, out));
    EXPECT_EQ("kept", text(out));
    zt().ZT_disconnect(second);
}

// Names a PC/SC reader could report, and names that look like paths.
TEST_F(ZtHygiene, ReaderNamesOfAnyPrintableUtf8AreStoredSafelyAndShownBackExactly) {
    std::string longAccents;
    while (longAccents.size() + 2 <= 255) longAccents += "\xc3\xa9";  // é
    longAccents += "x";
    ASSERT_EQ(255u, longAccents.size());
    const std::vector<std::string> names = {
        "Lecteur \xc3\xa9",
        "Generic Smart Card Reader Interface [Smart Card Reader Interface] (20070818000000) 00",
        longAccents,
        "../escape",
        "..",
        ".hidden",
        "-dash",
        " leading space",
        "a/b\\c",
        "%41 looks encoded",
        "A looks encoded",
        "~tilde",
        "colon: star* \"quote\" <lt> |pipe| ?",
        "\xe8\xaa\xad\xe5\x8f\x96\xe6\xa9\x9f \xf0\x9f\x94\x91",  // CJK and an emoji
    };
    for (const auto& name : names) {
        std::string out;
        ASSERT_EQ(0, admin(home_, {"reader", "add", name}, &out)) << name << ": " << out;
        ASSERT_EQ(0, admin(home_, {"card", "new", name, "--label", "L"}, &out)) << out;
    }
    // Every reader is one folder right inside readers/; nothing escaped.
    size_t folders = 0;
    for (const auto& entry : fs::directory_iterator(home_ + "/readers")) {
        EXPECT_TRUE(entry.is_directory()) << entry.path();
        EXPECT_LE(entry.path().filename().string().size(), 255u);
        ++folders;
    }
    EXPECT_EQ(names.size() + 1, folders);
    size_t inHome = 0;
    for (const auto& entry : fs::directory_iterator(home_)) {
        EXPECT_EQ("readers", entry.path().filename().string());
        ++inHome;
    }
    EXPECT_EQ(1u, inHome);
    EXPECT_FALSE(fs::exists(fs::path(home_).parent_path() / "escape"));

    std::string listing;
    ASSERT_EQ(0, admin(home_, {"list"}, &listing));
    listing = "\n" + listing;
    OrlStringVector readers;
    ASSERT_ZT(0, zt().ZT_getSlotList(readers));
    std::vector<std::string> listed;
    for (unsigned i = 0; i < readers.size(); ++i) listed.push_back(readers[i]);
    for (const auto& name : names) {
        EXPECT_NE(std::string::npos, listing.find("\n" + name + ": card in, label \"L\"")) << name;
        EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), name)) << name;
        ZT_HANDLE h = 0;
        EXPECT_ZT(0, zt().ZT_connect(name.c_str(), &h)) << name;
        EXPECT_ZT(0, zt().ZT_isInserted(name.c_str())) << name;
        if (h) zt().ZT_disconnect(h);
    }
    EXPECT_EQ(names.size() + 1, listed.size());
    // The escaped look-alike is a reader of its own, not an alias.
    std::string out;
    ASSERT_EQ(0, admin(home_, {"card", "remove", "A looks encoded"}, &out)) << out;
    EXPECT_ZT(0, zt().ZT_isInserted("%41 looks encoded"));
    EXPECT_NE(0u, zt().ZT_isInserted("A looks encoded"));
    ASSERT_EQ(0, admin(home_, {"reader", "delete", longAccents}, &out)) << out;
    EXPECT_NE(0u, zt().ZT_isInserted(longAccents.c_str()));
}

}  // namespace
}  // namespace zttest
