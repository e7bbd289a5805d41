// What a secret key reveals: CKA_VALUE in clear only for a key neither
// sensitive nor unextractable, no search by value that finds a hidden key,
// wrapping governed by CKA_EXTRACTABLE alone; and dates of length 0.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ObjectTestSupport.h"

namespace {

using Bytes = std::vector<unsigned char>;

class SecretKeys : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        startWithCard();
        session = openSession();
        login(session);
    }

    static Tmpl aesKey(const Bytes& value) {
        Tmpl t;
        t.ulong(CKA_CLASS, CKO_SECRET_KEY)
            .ulong(CKA_KEY_TYPE, CKK_AES)
            .flag(CKA_TOKEN, false)
            .bytes(CKA_VALUE, value.data(), value.size());
        return t;
    }

    CK_OBJECT_HANDLE create(Tmpl t) {
        CK_OBJECT_HANDLE h = 0;
        EXPECT_RV(CKR_OK, p11->C_CreateObject(session, t.get(), t.count(), &h));
        return h;
    }

    struct Answer {
        CK_RV rv;
        CK_ULONG length;
        Bytes value;
    };
    Answer ask(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type, bool withBuffer = true) {
        Bytes buffer(64, 0xEE);
        CK_ATTRIBUTE a = {type, withBuffer ? buffer.data() : nullptr,
                          static_cast<CK_ULONG>(buffer.size())};
        CK_RV rv = p11->C_GetAttributeValue(session, h, &a, 1);
        if (rv == CKR_OK && withBuffer) buffer.resize(a.ulValueLen);
        return {rv, a.ulValueLen, buffer};
    }

    CK_BBOOL flag(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type) {
        CK_BBOOL b = 0xEE;
        CK_ATTRIBUTE a = {type, &b, 1};
        EXPECT_RV(CKR_OK, p11->C_GetAttributeValue(session, h, &a, 1));
        return b;
    }

    CK_RV setFlag(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type, bool value) {
        Tmpl t;
        t.flag(type, value);
        return p11->C_SetAttributeValue(session, h, t.get(), t.count());
    }

    std::vector<CK_OBJECT_HANDLE> find(Tmpl t) {
        std::vector<CK_OBJECT_HANDLE> found(16);
        CK_ULONG n = 0;
        EXPECT_RV(CKR_OK, p11->C_FindObjectsInit(session, t.get(), t.count()));
        EXPECT_RV(CKR_OK, p11->C_FindObjects(session, found.data(), found.size(), &n));
        EXPECT_RV(CKR_OK, p11->C_FindObjectsFinal(session));
        found.resize(n);
        return found;
    }

    CK_SESSION_HANDLE session = 0;
    const Bytes value = Bytes(16, 0x5C);
};

TEST_F(SecretKeys, SensitiveOrUnextractableKeyNeverAnswersItsValue) {
    Tmpl readable = aesKey(value), unextractable = aesKey(value);
    readable.flag(CKA_SENSITIVE, false);
    unextractable.flag(CKA_SENSITIVE, false).flag(CKA_EXTRACTABLE, false);
    CK_OBJECT_HANDLE byDefault = create(aesKey(value)), open = create(readable),
                     kept = create(unextractable);
    CK_OBJECT_HANDLE generated = 0;
    CK_MECHANISM gen = {CKM_AES_KEY_GEN, nullptr, 0};
    Tmpl t;
    t.ulong(CKA_KEY_TYPE, CKK_AES).flag(CKA_TOKEN, false);
    ASSERT_RV(CKR_OK, p11->C_GenerateKey(session, &gen, t.get(), t.count(), &generated));

    for (CK_OBJECT_HANDLE h : {byDefault, kept, generated}) {
        for (bool withBuffer : {true, false}) {
            Answer a = ask(h, CKA_VALUE, withBuffer);
            EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, a.rv);
            EXPECT_EQ(a.length, static_cast<CK_ULONG>(-1));
            if (withBuffer) {
                EXPECT_EQ(a.value, Bytes(64, 0xEE));
            }
        }
        // Its length is no secret, and the other entries of the call are answered.
        CK_ULONG length = 0;
        CK_KEY_TYPE type = 0;
        Bytes buffer(16);
        CK_ATTRIBUTE both[] = {{CKA_VALUE, buffer.data(), 16},
                               {CKA_VALUE_LEN, &length, sizeof length},
                               {CKA_KEY_TYPE, &type, sizeof type}};
        EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, p11->C_GetAttributeValue(session, h, both, 3));
        EXPECT_EQ(length, 16u);
        EXPECT_EQ(type, CKK_AES);
    }
    EXPECT_EQ(flag(byDefault, CKA_SENSITIVE), CK_TRUE);
    EXPECT_EQ(flag(generated, CKA_SENSITIVE), CK_TRUE);
    Answer a = ask(open, CKA_VALUE);
    EXPECT_RV(CKR_OK, a.rv);
    EXPECT_EQ(a.value, value);
    EXPECT_EQ(flag(open, CKA_SENSITIVE), CK_FALSE);
    EXPECT_EQ(flag(open, CKA_ALWAYS_SENSITIVE), CK_FALSE);
}

TEST_F(SecretKeys, AReadableKeyCanBecomeSensitiveButNeverGoBack) {
    Tmpl readable = aesKey(value);
    readable.flag(CKA_SENSITIVE, false);
    CK_OBJECT_HANDLE h = create(readable);
    EXPECT_RV(CKR_OK, ask(h, CKA_VALUE).rv);
    ASSERT_RV(CKR_OK, setFlag(h, CKA_SENSITIVE, true));
    EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, ask(h, CKA_VALUE).rv);
    EXPECT_RV(CKR_TEMPLATE_INCONSISTENT, setFlag(h, CKA_SENSITIVE, false));
    EXPECT_EQ(flag(h, CKA_SENSITIVE), CK_TRUE);
    EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, ask(h, CKA_VALUE).rv);
    // Made sensitive later, it was not always sensitive.
    EXPECT_EQ(flag(h, CKA_ALWAYS_SENSITIVE), CK_FALSE);

    CK_OBJECT_HANDLE sensitive = create(aesKey(value));
    EXPECT_RV(CKR_TEMPLATE_INCONSISTENT, setFlag(sensitive, CKA_SENSITIVE, false));
    EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, ask(sensitive, CKA_VALUE).rv);
}

TEST_F(SecretKeys, SearchByValueNeverFindsAHiddenKey) {
    Tmpl readable = aesKey(value), unextractable = aesKey(value);
    readable.flag(CKA_SENSITIVE, false);
    unextractable.flag(CKA_SENSITIVE, false).flag(CKA_EXTRACTABLE, false);
    create(aesKey(value));
    CK_OBJECT_HANDLE open = create(readable);
    create(unextractable);
    Tmpl byValue;
    byValue.ulong(CKA_CLASS, CKO_SECRET_KEY).bytes(CKA_VALUE, value.data(), value.size());
    EXPECT_EQ(find(byValue), std::vector<CK_OBJECT_HANDLE>{open});
    ASSERT_RV(CKR_OK, setFlag(open, CKA_SENSITIVE, true));
    EXPECT_TRUE(find(byValue).empty());
}

TEST_F(SecretKeys, ASensitiveExtractableKeyStillWrapsAndUnwrapsReadableOrNot) {
    Tmpl wrapping = aesKey(Bytes(16, 0x11));
    CK_OBJECT_HANDLE wrapper = create(wrapping), key = create(aesKey(value));
    CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
    Bytes wrapped(64);
    CK_ULONG length = wrapped.size();
    ASSERT_RV(CKR_OK, p11->C_WrapKey(session, &ecb, wrapper, key, wrapped.data(), &length));
    ASSERT_EQ(length, 16u);
    wrapped.resize(length);

    Tmpl readable, hidden;
    readable.ulong(CKA_KEY_TYPE, CKK_AES).flag(CKA_TOKEN, false).flag(CKA_SENSITIVE, false);
    hidden.ulong(CKA_KEY_TYPE, CKK_AES).flag(CKA_TOKEN, false);
    CK_OBJECT_HANDLE back = 0, hiddenBack = 0;
    ASSERT_RV(CKR_OK, p11->C_UnwrapKey(session, &ecb, wrapper, wrapped.data(), wrapped.size(),
                                       readable.get(), readable.count(), &back));
    Answer a = ask(back, CKA_VALUE);
    EXPECT_RV(CKR_OK, a.rv);
    EXPECT_EQ(a.value, value);
    ASSERT_RV(CKR_OK, p11->C_UnwrapKey(session, &ecb, wrapper, wrapped.data(), wrapped.size(),
                                       hidden.get(), hidden.count(), &hiddenBack));
    EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, ask(hiddenBack, CKA_VALUE).rv);
}

TEST_F(SecretKeys, EmptyDatesMeanNoDate) {
    // A key without dates answers them with length 0 ...
    CK_OBJECT_HANDLE plain = create(aesKey(value));
    CK_DATE start, end;
    CK_ATTRIBUTE dates[] = {{CKA_START_DATE, &start, sizeof start},
                            {CKA_END_DATE, &end, sizeof end}};
    ASSERT_RV(CKR_OK, p11->C_GetAttributeValue(session, plain, dates, 2));
    EXPECT_EQ(dates[0].ulValueLen, 0u);
    EXPECT_EQ(dates[1].ulValueLen, 0u);
    // ... and what it answered goes into another key's template as it is.
    Tmpl copied = aesKey(value);
    copied.bytes(CKA_START_DATE, nullptr, 0).bytes(CKA_END_DATE, &end, 0).text(CKA_LABEL, "copy");
    CK_OBJECT_HANDLE copy = create(copied);
    ASSERT_NE(copy, 0u);
    ASSERT_RV(CKR_OK, p11->C_GetAttributeValue(session, copy, dates, 2));
    EXPECT_EQ(dates[0].ulValueLen, 0u);

    Tmpl dated = aesKey(value);
    dated.text(CKA_START_DATE, "20250101");
    CK_OBJECT_HANDLE withDate = create(dated);
    Tmpl noDate;
    noDate.ulong(CKA_CLASS, CKO_SECRET_KEY).bytes(CKA_START_DATE, nullptr, 0);
    std::vector<CK_OBJECT_HANDLE> undated = find(noDate), expected = {plain, copy};
    std::sort(undated.begin(), undated.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(undated, expected);
    // Setting length 0 removes a date; a date of 1 to 7 bytes is still refused.
    Tmpl clear;
    clear.bytes(CKA_START_DATE, nullptr, 0);
    ASSERT_RV(CKR_OK, p11->C_SetAttributeValue(session, withDate, clear.get(), clear.count()));
    CK_ATTRIBUTE one = {CKA_START_DATE, &start, sizeof start};
    ASSERT_RV(CKR_OK, p11->C_GetAttributeValue(session, withDate, &one, 1));
    EXPECT_EQ(one.ulValueLen, 0u);
    Tmpl shortDate = aesKey(value);
    shortDate.text(CKA_END_DATE, "2025");
    CK_OBJECT_HANDLE refused = 0;
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID,
              p11->C_CreateObject(session, shortDate.get(), shortDate.count(), &refused));
}

}  // namespace
