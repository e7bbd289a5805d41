#include "ProviderFixture.h"

#include <dlfcn.h>
#include <stdlib.h>
#ifdef _WIN32
#include "WindowsTestSupport.h"
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <fstream>
#include <sstream>

std::string rvName(CK_RV rv) {
    char text[32];
    std::snprintf(text, sizeof(text), "CKR 0x%08lX", rv);
    return text;
}

CK_SLOT_ID slotIdOf(const std::string& name) {
    uint32_t h = 0;
    size_t n = name.size();
    if (n < 16) {
        for (char c : name) h = h * 37u + static_cast<uint32_t>(static_cast<signed char>(c));
    } else {
        for (size_t i = 0; i < n; i += n / 8)
            h = h * 39u + static_cast<uint32_t>(static_cast<signed char>(name[i]));
    }
    return h;
}

void ProviderFixture::SetUp() {
#ifdef _WIN32
    m_dir = wintest::makeScratchDir("quillon-it");
    ASSERT_FALSE(m_dir.empty());
    m_configPath = m_dir + "/quillon.conf";
    wintest::setEnv("QUILLON_REGISTRY", m_configPath.c_str());
    // Each test's own token locks: no test sees another's generation counter.
    wintest::setEnv("QUILLON_LOCK_DIR", m_dir.c_str());
#else
    char pattern[] = "/tmp/quillon-it-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_dir = pattern;
    m_configPath = m_dir + "/quillon.conf";
    setenv("QUILLON_REGISTRY", m_configPath.c_str(), 1);
    // Each test's own token locks: no test sees another's generation counter.
    setenv("QUILLON_LOCK_DIR", m_dir.c_str(), 1);
#endif
    cardsim_reset();
    writeConfig({});
}

void ProviderFixture::TearDown() {
    unloadProvider();
    cardsim_reset();
#ifdef _WIN32
    wintest::unsetEnv("QUILLON_REGISTRY");
    wintest::unsetEnv("QUILLON_LOCK_DIR");
    wintest::mirrorRegistryStandIn();  // removes the key
    if (!wintest::removeTree(m_dir)) ADD_FAILURE() << "cannot remove " << m_dir;
#else
    unsetenv("QUILLON_REGISTRY");
    unsetenv("QUILLON_LOCK_DIR");
    std::string cmd = "rm -rf '" + m_dir + "'";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << m_dir;
#endif
}

void ProviderFixture::writeConfig(const std::vector<std::string>& lines) {
    std::ofstream out(m_configPath);
    bool hasZt = false, hasLevel = false, hasFile = false;
    for (const auto& l : lines) {
        hasZt |= l.rfind("zt=", 0) == 0 || l == "#nozt";
        hasLevel |= l.rfind("loglevel=", 0) == 0;
        hasFile |= l.rfind("ckilogfile=", 0) == 0;
        out << l << "\n";
    }
    if (!hasZt) out << "zt=" << CARDSIM_LIBRARY << "\n";
    if (!hasLevel) out << "loglevel=1\n";
    if (!hasFile) out << "ckilogfile=" << m_dir << "/quilltok.log\n";
}

void ProviderFixture::loadProvider() {
    if (m_library) return;
#ifdef _WIN32
    // The provider reads the registry key there: mirror the stand-in file into it.
    wintest::mirrorRegistryStandIn();
#endif
    m_library = dlopen(QUILLON_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(m_library, nullptr) << dlerror();
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(m_library, "C_GetFunctionList"));
    ASSERT_NE(getList, nullptr);
    CK_RV rv = getList(&p11);
    if (rv != CKR_OK) p11 = nullptr;
}

void ProviderFixture::unloadProvider() {
    if (!m_library) return;
    if (p11) p11->C_Finalize(nullptr);
    dlclose(m_library);
    m_library = nullptr;
    p11 = nullptr;
}

void ProviderFixture::startWithCard() {
    cardsim_addReader(kReader, true);
    loadProvider();
    ASSERT_NE(p11, nullptr);
    ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
    m_slot = slotIdOf(kReader);
}

std::string ProviderFixture::logText() const {
    std::ifstream in(m_dir + "/quilltok.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

CK_SESSION_HANDLE ProviderFixture::openSession(CK_FLAGS flags) {
    CK_SESSION_HANDLE session = 0;
    CK_RV rv = p11->C_OpenSession(m_slot, flags, nullptr, nullptr, &session);
    EXPECT_RV(CKR_OK, rv);
    return session;
}

void ProviderFixture::login(CK_SESSION_HANDLE session, CK_USER_TYPE user) {
    const char* pin = user == CKU_SO ? kSoPin : kUserPin;
    EXPECT_RV(CKR_OK,
              p11->C_Login(session, user, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)),
                           std::char_traits<char>::length(pin)));
}
