// Attribute templates from the fuzz input through C_CreateObject,
// C_GetAttributeValue, C_SetAttributeValue and C_FindObjectsInit, on the
// scriptable test card. Every template must be answered with a CKR_ code and
// never crash, leak or touch memory outside the caller's buffers. A token
// object must read back the same after the provider reloads it from the card.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "CardSim.h"
#include "FuzzCalls.h"
#include "FuzzProvider.h"

namespace {

using fuzz::Bytes;
constexpr const char* kReader = "Fuzz Reader";

// A template and the storage its values point into. A value pointer always
// has ulValueLen bytes behind it, as a correct caller's does; a null pointer
// may come with any length.
struct Template {
    std::vector<CK_ATTRIBUTE> attributes;
    std::deque<std::unique_ptr<unsigned char[]>> storage;
    CK_ATTRIBUTE* data() { return attributes.empty() ? nullptr : attributes.data(); }
    CK_ULONG count() const { return attributes.size(); }
};

CK_ATTRIBUTE_TYPE attributeType(FuzzedDataProvider& in) {
    uint8_t pick = in.ConsumeIntegral<uint8_t>();
    const auto& types = fuzz::attributeTypes();
    if (pick < 240) return types[pick % types.size()];
    return in.ConsumeIntegral<uint32_t>();
}

Template decodeTemplate(FuzzedDataProvider& in) {
    Template t;
    size_t n = in.ConsumeIntegralInRange<size_t>(0, 10);
    for (size_t i = 0; i < n; ++i) {
        CK_ATTRIBUTE a = {attributeType(in), nullptr, 0};
        uint8_t kind = in.ConsumeIntegral<uint8_t>() % 8;
        Bytes value;
        switch (kind) {
            case 0:  // no buffer; any length
                a.ulValueLen = in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>()
                                                : in.ConsumeIntegralInRange<CK_ULONG>(0, 16);
                break;
            case 1:  // a boolean
                value.assign(1, in.ConsumeIntegralInRange<uint8_t>(0, 2));
                break;
            case 2: {  // a small number: classes, key types, lengths
                CK_ULONG number = in.ConsumeIntegralInRange<CK_ULONG>(0, 0x20);
                if (in.ConsumeBool()) number = in.ConsumeIntegral<uint32_t>();
                value.resize(sizeof number);
                std::memcpy(value.data(), &number, sizeof number);
                break;
            }
            case 3:  // a date
                value = in.ConsumeBytes<unsigned char>(8);
                value.resize(8, '0');
                break;
            case 4:  // an empty value with a buffer
                break;
            default:
                value = in.ConsumeBytes<unsigned char>(in.ConsumeIntegralInRange<size_t>(0, 300));
                break;
        }
        if (kind != 0) {
            // Exactly as long as the value: the sanitizer sees any byte beyond.
            t.storage.emplace_back(new unsigned char[value.size()]);
            if (!value.empty()) std::memcpy(t.storage.back().get(), value.data(), value.size());
            a.pValue = t.storage.back().get();
            a.ulValueLen = value.size();
        }
        t.attributes.push_back(a);
    }
    return t;
}

// QUILLON_FUZZ_VERBOSE=1 prints each template, to read a finding.
void show(const char* what, const Template& t) {
    static const bool verbose = std::getenv("QUILLON_FUZZ_VERBOSE") != nullptr;
    if (!verbose) return;
    std::fprintf(stderr, "%s:", what);
    for (const CK_ATTRIBUTE& a : t.attributes) {
        std::fprintf(stderr, " %lx[%lu]", static_cast<unsigned long>(a.type),
                     static_cast<unsigned long>(a.ulValueLen));
        if (!a.pValue) std::fprintf(stderr, "(null)");
        for (CK_ULONG i = 0; a.pValue && i < a.ulValueLen && i < 16; ++i)
            std::fprintf(stderr, "%s%02x", i ? "" : "=", static_cast<unsigned char*>(a.pValue)[i]);
    }
    std::fprintf(stderr, "\n");
}

struct Answer {
    CK_RV rv;
    Bytes value;
    bool operator==(const Answer& o) const { return rv == o.rv && value == o.value; }
};

// Every attribute of the object, each asked alone the two-call way.
std::map<CK_ATTRIBUTE_TYPE, Answer> answersOf(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE h) {
    std::map<CK_ATTRIBUTE_TYPE, Answer> out;
    for (CK_ATTRIBUTE_TYPE type : fuzz::attributeTypes()) {
        CK_ATTRIBUTE a = {type, nullptr, 0};
        Answer answer{C_GetAttributeValue(session, h, &a, 1), {}};
        if (answer.rv == CKR_OK && a.ulValueLen < (1u << 20)) {
            answer.value.resize(a.ulValueLen + 1);
            a.pValue = answer.value.data();
            answer.rv = C_GetAttributeValue(session, h, &a, 1);
            answer.value.resize(a.ulValueLen <= answer.value.size() ? a.ulValueLen : 0);
        }
        out[type] = answer;
    }
    return out;
}

// The directory keeps a short text as a length byte and its bytes: an empty
// label, application or container name cannot be told from none, and reads
// back as none. The byte format must not change, so that much is expected.
bool emptyTextReadBackAbsent(CK_ATTRIBUTE_TYPE type, const Answer& before, const Answer& after) {
    bool shortText = type == CKA_LABEL || type == CKA_APPLICATION || type == 0x80000001ul;
    return shortText && before.rv == CKR_OK && before.value.empty() &&
           after.rv == CKR_ATTRIBUTE_TYPE_INVALID;
}

bool isToken(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE h) {
    CK_BBOOL token = CK_FALSE;
    CK_ATTRIBUTE a = {CKA_TOKEN, &token, sizeof token};
    return C_GetAttributeValue(session, h, &a, 1) == CKR_OK && token == CK_TRUE;
}

CK_SESSION_HANDLE start(bool login) {
    CK_C_INITIALIZE_ARGS args = {};
    args.flags = CKF_OS_LOCKING_OK | CKF_LIBRARY_CANT_CREATE_OS_THREADS;
    if (C_Initialize(&args) != CKR_OK) std::abort();
    CK_SLOT_ID slot = 0;
    CK_ULONG count = 1;
    if (C_GetSlotList(CK_TRUE, &slot, &count) != CKR_OK || count != 1) std::abort();
    CK_SESSION_HANDLE session = 0;
    if (C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) !=
        CKR_OK)
        std::abort();
    unsigned char pin[] = "1234";
    if (login && C_Login(session, CKU_USER, pin, 4) != CKR_OK) std::abort();
    return session;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    cardsim_reset();
    fuzz::startProvider(CARDSIM_LIBRARY);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    cardsim_reset();
    cardsim_addReader(kReader, true);
    const bool login = in.ConsumeBool();
    CK_SESSION_HANDLE session = start(login);

    Template create = decodeTemplate(in);
    CK_OBJECT_HANDLE h = 0;
    show("create", create);
    CK_RV created = C_CreateObject(session, create.data(), create.count(), &h);
    CK_RV changed = CKR_OK;
    if (created == CKR_OK) {
        Template query = decodeTemplate(in);
        show("query", query);
        C_GetAttributeValue(session, h, query.data(), query.count());
        Template change = decodeTemplate(in);
        show("change", change);
        changed = C_SetAttributeValue(session, h, change.data(), change.count());
    }
    Template search = decodeTemplate(in);
    fuzz::findObjects(session, search.data(), search.count());
    fuzz::findObjects(session, create.data(), create.count());

    // A token object is on the card now: after a reload it must answer the same.
    std::map<CK_ATTRIBUTE_TYPE, Answer> before;
    // A change refused halfway keeps in memory what it took before the refusal
    // and writes nothing: memory and card differ until the next reload.
    bool token = created == CKR_OK && changed == CKR_OK && isToken(session, h);
    if (token) before = answersOf(session, h);
    C_Finalize(nullptr);
    if (std::getenv("QUILLON_FUZZ_VERBOSE")) {
        std::vector<uint8_t> directory;
        cardsim_directory(kReader, &directory);
        std::fprintf(stderr, "directory:");
        for (uint8_t b : directory) std::fprintf(stderr, " %02x", b);
        std::fprintf(stderr, "\n");
    }
    session = start(login);
    // Handles come from a search: it reads the directory again.
    std::vector<CK_OBJECT_HANDLE> all = fuzz::findObjects(session, nullptr, 0);
    if (token) {
        std::map<CK_ATTRIBUTE_TYPE, Answer> after = answersOf(session, h);
        for (const auto& entry : before) {
            const Answer& now = after[entry.first];
            if (!(now == entry.second) &&
                !emptyTextReadBackAbsent(entry.first, entry.second, now)) {
                std::fprintf(stderr,
                             "attribute %lx of a token object changed on reload: "
                             "%lx/%zu bytes before, %lx/%zu after\n",
                             static_cast<unsigned long>(entry.first),
                             static_cast<unsigned long>(entry.second.rv), entry.second.value.size(),
                             static_cast<unsigned long>(now.rv), now.value.size());
                std::abort();
            }
        }
    }
    for (CK_OBJECT_HANDLE object : all) C_DestroyObject(session, object);
    C_Finalize(nullptr);
    return 0;
}
