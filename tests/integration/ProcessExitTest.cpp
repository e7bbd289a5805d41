// An application that ends with exit() while a session is open and without
// C_Finalize: the card library's statics may already be gone when the
// provider's unload hook runs, so the hook must not call into it.
#if defined(ZT_LIBRARY_PATH) && defined(ZT_ADMIN_PATH)

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "ProviderFixture.h"

namespace {

class ProcessExit : public ProviderFixture {};

TEST_F(ProcessExit, ExitWithAnOpenSessionOnTheVirtualTokenEndsCleanly) {
    std::string home = scratch("zt-home");
    std::string admin = std::string(ZT_ADMIN_PATH) + " --home '" + home + "' ";
    ASSERT_EQ(0, std::system((admin + "reader add Exit >/dev/null").c_str()));
    ASSERT_EQ(0, std::system((admin + "card new Exit >/dev/null").c_str()));
    setenv("ZT_HOME", home.c_str(), 1);
    writeConfig({std::string("zt=") + ZT_LIBRARY_PATH});

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        loadProvider();
        if (!p11 || p11->C_Initialize(nullptr) != CKR_OK) _exit(3);
        CK_SESSION_HANDLE session = 0;
        if (p11->C_OpenSession(slotIdOf("Exit"), CKF_SERIAL_SESSION, nullptr, nullptr, &session) !=
            CKR_OK)
            _exit(4);
        std::exit(0);  // runs the exit handlers and the libraries' destructors
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    unsetenv("ZT_HOME");
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(logText().find("STOP LIBRARY (process exit)"), std::string::npos);
}

}  // namespace

#endif
