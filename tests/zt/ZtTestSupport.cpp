#include "ZtTestSupport.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace zttest {

const CardFunctions& zt() {
    static CardFunctions table = [] {
        CardFunctions t{};
        void* lib = dlopen(ZT_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            std::fprintf(stderr, "cannot load %s: %s\n", ZT_LIBRARY_PATH, dlerror());
            std::abort();
        }
        auto get = reinterpret_cast<ZT_GetFunctionList_t>(dlsym(lib, ZT_GET_FUNCTION_LIST_NAME));
        if (!get || get(&t) != 0) std::abort();
        return t;
    }();
    return table;
}

std::string hex(uint32_t status) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "0x%x", status);
    return buf;
}

int admin(const std::string& home, const std::vector<std::string>& args, std::string* output) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        std::vector<std::string> all{ZT_ADMIN_PATH};
        if (!home.empty()) {
            all.push_back("--home");
            all.push_back(home);
        }
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(ZT_ADMIN_PATH, argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof(buf))) > 0) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

OrlByteArray bytes(const std::string& text) {
    return OrlByteArray(reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<unsigned long>(text.size()));
}

std::string text(const OrlByteArray& a) {
    return std::string(reinterpret_cast<const char*>(a.getContent()), a.getLength());
}

void ZtStoreTest::SetUp() {
    char pattern[] = "/tmp/zt-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    home_ = pattern;
    setenv("ZT_HOME", home_.c_str(), 1);
    ASSERT_EQ(0, admin(home_, {"reader", "add", kReader}));
    ASSERT_EQ(0, admin(home_, {"card", "new", kReader, "--label", "Test card", "--serial",
                               "SN-0001", "--user-pin", "1234", "--so-pin", "12345678"}));
    ASSERT_ZT(0, zt().ZT_open());
    handle_ = connect();
}

void ZtStoreTest::TearDown() {
    if (handle_) zt().ZT_disconnect(handle_);
    zt().ZT_close();
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
}

ZT_HANDLE ZtStoreTest::connect(const char* reader) {
    ZT_HANDLE h = 0;
    EXPECT_ZT(0, zt().ZT_connect(reader, &h));
    return h;
}

void ZtStoreTest::verifyUser(ZT_HANDLE h) { ASSERT_ZT(0, zt().ZT_verifyPIN(h, 1, "1234")); }

}  // namespace zttest
