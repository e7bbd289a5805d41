// Several processes on one virtual token at the same time: no token object
// is lost, none is orphaned, and a long-lived session sees what others did.
// QUILLON_TOKEN_SOAK_ROUNDS (scripts/token-soak.sh) makes the run longer.
#if defined(ZT_LIBRARY_PATH) && defined(ZT_ADMIN_PATH)

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "ObjectTestSupport.h"

namespace {

const char* kZtReader = "Shared Reader";
const unsigned char kDesKey[8] = {0x10, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

// label, class, value (values of data objects and certificates only)
typedef std::tuple<std::string, CK_ULONG, std::string> Expected;

int soakRounds(int fallback) {
    const char* rounds = std::getenv("QUILLON_TOKEN_SOAK_ROUNDS");
    return rounds && std::atoi(rounds) > 0 ? std::atoi(rounds) : fallback;
}

class TokenProcesses : public ProviderFixture {
public:
    void SetUp() override {
        ProviderFixture::SetUp();
        m_home = scratch("zt-home");
        setenv("ZT_HOME", m_home.c_str(), 1);
        admin("reader add '" + std::string(kZtReader) + "'");
        admin("card new '" + std::string(kZtReader) +
              "' --label Shared --serial SN-42 --user-pin 1234 --so-pin 87654321");
        writeConfig({std::string("zt=") + ZT_LIBRARY_PATH});
        testRsaKey();  // made before any fork: every process imports the same key
    }
    void TearDown() override {
        ProviderFixture::TearDown();
        unsetenv("ZT_HOME");
    }
    void admin(const std::string& args) {
        std::string cmd =
            std::string(ZT_ADMIN_PATH) + " --home '" + m_home + "' " + args + " >/dev/null";
        ASSERT_EQ(0, std::system(cmd.c_str())) << cmd;
    }
    // In a child: the provider, one logged-in read-write session.
    CK_SESSION_HANDLE startChild() {
        loadProvider();
        if (!p11 || p11->C_Initialize(nullptr) != CKR_OK) _exit(90);
        m_slot = slotIdOf(kZtReader);
        CK_SESSION_HANDLE s = 0;
        if (p11->C_OpenSession(m_slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s) !=
            CKR_OK)
            _exit(91);
        if (p11->C_Login(s, CKU_USER, (CK_UTF8CHAR_PTR) "1234", 4) != CKR_OK) _exit(92);
        return s;
    }
    void start() {
        loadProvider();
        ASSERT_NE(p11, nullptr);
        ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
        m_slot = slotIdOf(kZtReader);
    }
    std::vector<CK_OBJECT_HANDLE> find(CK_SESSION_HANDLE s, Tmpl t) {
        std::vector<CK_OBJECT_HANDLE> found(4096);
        CK_ULONG n = 0;
        if (p11->C_FindObjectsInit(s, t.get(), t.count()) != CKR_OK) return {~0UL};
        if (p11->C_FindObjects(s, found.data(), found.size(), &n) != CKR_OK) n = 0;
        p11->C_FindObjectsFinal(s);
        found.resize(n);
        return found;
    }
    CK_RV text(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type, std::string* out) {
        std::vector<char> buffer(2048);
        CK_ATTRIBUTE a = {type, buffer.data(), static_cast<CK_ULONG>(buffer.size())};
        CK_RV rv = p11->C_GetAttributeValue(s, h, &a, 1);
        if (rv == CKR_OK) out->assign(buffer.data(), a.ulValueLen);
        return rv;
    }
    // What a fresh process finds on the token.
    std::multiset<Expected> everything(CK_SESSION_HANDLE s) {
        std::multiset<Expected> seen;
        for (CK_OBJECT_HANDLE h : find(s, Tmpl())) {
            std::string label, value;
            CK_ULONG cls = 0;
            CK_ATTRIBUTE a = {CKA_CLASS, &cls, sizeof(cls)};
            EXPECT_RV(CKR_OK, p11->C_GetAttributeValue(s, h, &a, 1));
            EXPECT_RV(CKR_OK, text(s, h, CKA_LABEL, &label));
            if (cls == CKO_DATA || cls == CKO_CERTIFICATE) {
                EXPECT_RV(CKR_OK, text(s, h, CKA_VALUE, &value)) << label;
            }
            if (cls == CKO_PRIVATE_KEY || cls == CKO_PUBLIC_KEY) {
                std::string modulus;
                EXPECT_RV(CKR_OK, text(s, h, CKA_MODULUS, &modulus)) << label;
            }
            seen.insert(Expected(label, cls, value));
        }
        return seen;
    }
    size_t filesIn(const std::string& folder) {
        size_t n = 0;
        DIR* d = opendir(folder.c_str());
        if (!d) return 0;
        while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
        return n;
    }
    std::string cardFolder() { return m_home + "/readers/" + kZtReader + "/card"; }
    // Every stored value and key pair on the card is named by an object.
    void expectNoOrphans(const std::multiset<Expected>& objects) {
        size_t values = 0, pairs = 0;
        for (const Expected& e : objects) {
            CK_ULONG cls = std::get<1>(e);
            values += cls == CKO_DATA || cls == CKO_CERTIFICATE || cls == CKO_SECRET_KEY;
            pairs += cls == CKO_PRIVATE_KEY;
        }
        EXPECT_EQ(filesIn(cardFolder() + "/values"), values);
        EXPECT_EQ(filesIn(cardFolder() + "/keys"), pairs);
    }
    std::string m_home;
};

// What one worker does: objects of every class made, changed and destroyed,
// with searches of its own objects between its writes. Writes the objects it
// left to `expected`; exits non-zero (the step) on the first wrong answer.
void work(TokenProcesses& t, CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE s, int worker, int rounds,
          const std::string& expected, const std::string& errors) {
    std::ofstream err(errors);
    std::map<std::string, std::pair<CK_ULONG, std::string>> mine;
    std::map<std::string, CK_OBJECT_HANDLE> handles;
    std::string app = "w" + std::to_string(worker);
    auto fail = [&](int step, const std::string& what, CK_RV rv) {
        err << "worker " << worker << " step " << step << ": " << what << " rv 0x" << std::hex << rv
            << "\n";
        err.close();
        _exit(10 + step);
    };
    auto create = [&](Tmpl tmpl, const std::string& label, CK_ULONG cls, const std::string& value) {
        CK_OBJECT_HANDLE h = 0;
        CK_RV rv = p11->C_CreateObject(s, tmpl.get(), tmpl.count(), &h);
        if (rv != CKR_OK) fail(1, "create " + label, rv);
        mine[label] = {cls, value};
        handles[label] = h;
    };
    auto destroy = [&](const std::string& label) {
        CK_RV rv = p11->C_DestroyObject(s, handles[label]);
        if (rv != CKR_OK) fail(2, "destroy " + label, rv);
        mine.erase(label);
        handles.erase(label);
    };
    auto countData = [&]() {
        size_t n = 0;
        for (auto& m : mine) n += m.second.first == CKO_DATA;
        return n;
    };
    for (int j = 0; j < rounds; ++j) {
        std::string tag = app + "-" + std::to_string(j);
        Tmpl data = dataTemplate(true, tag + "-d", "value " + tag);
        data.text(CKA_APPLICATION, app);
        create(data, tag + "-d", CKO_DATA, "value " + tag);
        Tmpl hidden = dataTemplate(true, tag + "-p", "secret " + tag, true);
        hidden.text(CKA_APPLICATION, app);
        create(hidden, tag + "-p", CKO_DATA, "secret " + tag);
        Tmpl cert;
        cert.ulong(CKA_CLASS, CKO_CERTIFICATE)
            .ulong(CKA_CERTIFICATE_TYPE, CKC_X_509)
            .flag(CKA_TOKEN, true)
            .text(CKA_LABEL, tag + "-c")
            .text(CKA_VALUE, "certificate " + tag);
        create(cert, tag + "-c", CKO_CERTIFICATE, "certificate " + tag);
        Tmpl secret;
        secret.ulong(CKA_CLASS, CKO_SECRET_KEY)
            .ulong(CKA_KEY_TYPE, CKK_DES)
            .flag(CKA_TOKEN, true)
            .text(CKA_LABEL, tag + "-k")
            .bytes(CKA_VALUE, kDesKey, sizeof(kDesKey));
        create(secret, tag + "-k", CKO_SECRET_KEY, "");
        if (j % 4 == worker % 4) {
            Tmpl pair = privateKeyTemplate(true);
            pair.text(CKA_LABEL, tag + "-r");
            create(pair, tag + "-r", CKO_PRIVATE_KEY, "");
            mine[tag + "-r public"] = {CKO_PUBLIC_KEY, ""};
        }

        // The long-lived session sees exactly its own data objects, whatever
        // the others wrote meanwhile.
        Tmpl own;
        own.ulong(CKA_CLASS, CKO_DATA).text(CKA_APPLICATION, app);
        if (t.find(s, own).size() != countData()) fail(3, "search " + tag, 0);

        // Changes: a label, and a certificate's value.
        Tmpl rename;
        rename.text(CKA_LABEL, tag + "-D");
        CK_RV rv = p11->C_SetAttributeValue(s, handles[tag + "-d"], rename.get(), rename.count());
        if (rv != CKR_OK) fail(4, "rename " + tag, rv);
        mine[tag + "-D"] = mine[tag + "-d"];
        mine.erase(tag + "-d");
        handles[tag + "-D"] = handles[tag + "-d"];
        handles.erase(tag + "-d");
        Tmpl revalue;
        revalue.text(CKA_VALUE, "CERTIFICATE " + tag);
        rv = p11->C_SetAttributeValue(s, handles[tag + "-c"], revalue.get(), revalue.count());
        if (rv != CKR_OK) fail(5, "revalue " + tag, rv);
        mine[tag + "-c"].second = "CERTIFICATE " + tag;

        // Destructions of what the previous round made.
        if (j > 0) {
            std::string before = app + "-" + std::to_string(j - 1);
            destroy(before + "-p");
            if (j % 2) destroy(before + "-k");
        }
        std::string value;
        rv = t.text(s, handles[tag + "-c"], CKA_VALUE, &value);
        if (rv != CKR_OK || value != "CERTIFICATE " + tag) fail(6, "read back " + tag, rv);
    }
    std::ofstream out(expected);
    for (auto& m : mine) {
        std::string label = m.first;
        if (m.second.first == CKO_PUBLIC_KEY) label = label.substr(0, label.size() - 7);
        out << label << "\t" << m.second.first << "\t" << m.second.second << "\n";
    }
}

// Reproduction: process A holds a session with the directory read; B creates
// an object and exits; A then creates one. A's object used to take B's number
// and A's write dropped B's record, orphaning B's value.
TEST_F(TokenProcesses, TwoProcessesNeverLoseEachOthersObjects) {
    // A holds its session throughout; B runs while A waits. (No process here
    // forks with the provider loaded: its reader monitor thread would not
    // come along.)
    int toA[2], fromA[2];
    ASSERT_EQ(pipe(toA), 0);
    ASSERT_EQ(pipe(fromA), 0);
    pid_t a = fork();
    ASSERT_GE(a, 0);
    if (a == 0) {
        close(toA[1]);
        close(fromA[0]);
        CK_SESSION_HANDLE s = startChild();
        if (!find(s, Tmpl()).empty()) _exit(20);  // the directory is read now
        char go = 0;
        if (write(fromA[1], &go, 1) != 1 || read(toA[0], &go, 1) != 1) _exit(21);
        // The long-lived session sees B's object without reopening anything.
        Tmpl fromB;
        fromB.text(CKA_LABEL, "from B");
        std::vector<CK_OBJECT_HANDLE> b = find(s, fromB);
        if (b.size() != 1) _exit(22);
        CK_OBJECT_HANDLE h = 0;
        Tmpl t = dataTemplate(true, "from A", "a");
        if (p11->C_CreateObject(s, t.get(), t.count(), &h) != CKR_OK) _exit(23);
        if (h == b[0]) _exit(24);
        _exit(p11->C_Finalize(nullptr) == CKR_OK ? 0 : 25);
    }
    close(toA[0]);
    close(fromA[1]);
    char ready = 0;
    ASSERT_EQ(read(fromA[0], &ready, 1), 1);
    pid_t b = fork();
    ASSERT_GE(b, 0);
    if (b == 0) {
        CK_SESSION_HANDLE c = startChild();
        Tmpl t = dataTemplate(true, "from B", "b");
        CK_OBJECT_HANDLE h = 0;
        _exit(p11->C_CreateObject(c, t.get(), t.count(), &h) == CKR_OK ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(b, waitpid(b, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_EQ(write(toA[1], &ready, 1), 1);
    ASSERT_EQ(a, waitpid(a, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "20: first search, 22: B's object unseen, 24: same handle";

    start();
    CK_SESSION_HANDLE s = openSession();
    std::multiset<Expected> seen = everything(s);
    std::multiset<Expected> want = {Expected("from A", CKO_DATA, "a"),
                                    Expected("from B", CKO_DATA, "b")};
    EXPECT_EQ(seen, want);
    expectNoOrphans(seen);
}

// Four processes started together, each holding one session for its whole
// run, create, change and destroy objects of every class; a fresh process
// then finds exactly what they left, and the card holds no orphaned value.
TEST_F(TokenProcesses, FourWritersTogetherLoseNothing) {
    const int kWorkers = 4;
    const int rounds = soakRounds(6);
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (int w = 0; w < kWorkers; ++w) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(gate[1]);
            CK_SESSION_HANDLE s = startChild();
            char go;
            if (read(gate[0], &go, 1) != 0) _exit(93);  // everyone starts at once
            work(*this, p11, s, w, rounds, scratch("expected-" + std::to_string(w)),
                 scratch("errors-" + std::to_string(w)));
            _exit(p11->C_Finalize(nullptr) == CKR_OK ? 0 : 94);
        }
        children.push_back(child);
    }
    close(gate[0]);
    sleep(1);  // every worker has its session open
    close(gate[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "worker exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status));
    }
    std::multiset<Expected> want;
    for (int w = 0; w < kWorkers; ++w) {
        std::ifstream errors(scratch("errors-" + std::to_string(w)));
        std::string line;
        while (std::getline(errors, line)) ADD_FAILURE() << line;
        std::ifstream in(scratch("expected-" + std::to_string(w)));
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string label, cls, value;
            std::getline(fields, label, '\t');
            std::getline(fields, cls, '\t');
            std::getline(fields, value);
            want.insert(Expected(label, std::stoul(cls), value));
        }
    }
    ASSERT_FALSE(want.empty());

    start();
    CK_SESSION_HANDLE s = openSession();
    login(s);
    std::multiset<Expected> seen = everything(s);
    EXPECT_EQ(seen.size(), want.size());
    EXPECT_TRUE(seen == want);
    expectNoOrphans(seen);
}

// A writer killed at random moments of create, import and destroy while
// another keeps writing: the lock is released with the killed process, the
// directory always parses and every record's value reads.
TEST_F(TokenProcesses, WriterKilledAtRandomMomentsLeavesAReadableToken) {
    const int kills = soakRounds(6);
    std::string journal = scratch("steady-journal");
    pid_t steady = fork();
    ASSERT_GE(steady, 0);
    if (steady == 0) {
        CK_SESSION_HANDLE s = startChild();
        FILE* log = std::fopen(journal.c_str(), "w");
        // Writes until killed; every call must succeed. Each object that is
        // made ("+") or destroyed ("-") goes to the journal at once.
        for (int j = 0;; ++j) {
            CK_OBJECT_HANDLE h = 0;
            std::string label = "steady-" + std::to_string(j);
            Tmpl t = dataTemplate(true, label, "steady value");
            if (p11->C_CreateObject(s, t.get(), t.count(), &h) != CKR_OK) _exit(1);
            std::fprintf(log, "+%s\n", label.c_str());
            std::fflush(log);
            if (j % 2 == 0) continue;
            if (p11->C_DestroyObject(s, h) != CKR_OK) _exit(2);
            std::fprintf(log, "-%s\n", label.c_str());
            std::fflush(log);
        }
    }
    std::mt19937 random(std::random_device{}());
    for (int k = 0; k < kills; ++k) {
        pid_t victim = fork();
        ASSERT_GE(victim, 0);
        if (victim == 0) {
            CK_SESSION_HANDLE s = startChild();
            FILE* log = std::fopen(scratch("victim-journal-" + std::to_string(k)).c_str(), "w");
            for (int j = 0;; ++j) {
                CK_OBJECT_HANDLE h = 0;
                std::string label = "victim-" + std::to_string(k) + "-" + std::to_string(j);
                Tmpl t = dataTemplate(true, label, "victim value", j % 3 == 1);
                if (j % 3 == 2) {
                    t = privateKeyTemplate(true);
                    t.text(CKA_LABEL, label);
                }
                if (p11->C_CreateObject(s, t.get(), t.count(), &h) != CKR_OK) _exit(1);
                std::fprintf(log, "+%s\n", label.c_str());
                std::fflush(log);
                if (j % 3 != 0) continue;
                if (p11->C_DestroyObject(s, h) != CKR_OK) _exit(2);
                std::fprintf(log, "-%s\n", label.c_str());
                std::fflush(log);
            }
        }
        usleep(150000 + random() % 400000);
        kill(victim, SIGKILL);
        int status = 0;
        ASSERT_EQ(victim, waitpid(victim, &status, 0));
        EXPECT_TRUE(WIFSIGNALED(status)) << "victim ended by itself: " << WEXITSTATUS(status);
    }
    kill(steady, SIGKILL);
    int status = 0;
    ASSERT_EQ(steady, waitpid(steady, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status)) << "the steady writer failed: " << WEXITSTATUS(status);

    start();
    CK_SESSION_HANDLE s = openSession();
    login(s);
    std::multiset<Expected> seen = everything(s);  // every value read
    std::set<std::string> found;
    for (const Expected& e : seen) found.insert(std::get<0>(e));
    // Everything a writer was told is stored is there; only the call each was
    // killed in may have gone either way.
    std::vector<std::string> journals = {journal};
    for (int k = 0; k < kills; ++k)
        journals.push_back(scratch("victim-journal-" + std::to_string(k)));
    std::set<std::string> live, inFlight;
    for (const std::string& name : journals) {
        std::ifstream in(name);
        std::string line, last;
        while (std::getline(in, line)) {
            if (line[0] == '+') live.insert(line.substr(1));
            if (line[0] == '-') live.erase(line.substr(1));
            last = line.substr(1);
        }
        inFlight.insert(last);
    }
    EXPECT_GT(live.size(), 0u);
    for (const std::string& label : live) {
        EXPECT_TRUE(found.count(label) || inFlight.count(label)) << label << " lost";
    }
    size_t extra = 0;
    for (const std::string& label : found) extra += live.count(label) == 0;
    EXPECT_LE(extra, journals.size());
}

}  // namespace

#endif
