// zt-admin: creates and manages the readers and cards of the virtual token's
// store. Exit status 0 on success, 1 when the store refuses or fails the
// operation, 2 on a usage error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ZtOs.h"
#include "ZtStore.h"
#include "ZtWipe.h"

namespace {

const char kUsage[] =
    "Usage: zt-admin [--home DIR] COMMAND ...\n"
    "\n"
    "Manages the readers and cards of the Quillon virtual token. The store is\n"
    "DIR, else $ZT_HOME, else $XDG_DATA_HOME/quillon/zt, else ~/.local/share/quillon/zt.\n"
    "\n"
    "Commands:\n"
    "  reader add NAME          add an empty reader\n"
    "  reader delete NAME       delete a reader and the card it holds\n"
    "  card new READER [--label L] [--serial S] [--user-pin P] [--so-pin P] [--tries N]\n"
    "                           put a new blank card into an empty reader\n"
    "                           (defaults: label \"Quillon ZT\", a random serial,\n"
    "                           user PIN 1234, SO PIN 12345678, 3 tries)\n"
    "  card remove READER       pull the card out (its data stays with the reader)\n"
    "  card insert READER       put the pulled-out card back in\n"
    "  card delete READER       destroy the reader's card and all its data\n"
    "  pin reset READER --user-pin P [--so-pin P]\n"
    "                           set the user PIN (and the SO PIN) and unblock it\n"
    "  list                     readers, cards, labels, serials, PIN tries left\n"
    "  help                     this text\n";

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int usageError(const std::string& message) {
    std::fprintf(stderr, "zt-admin: %s\nTry 'zt-admin --help'.\n", message.c_str());
    return kExitUsage;
}

int failure(const std::string& message) {
    std::fprintf(stderr, "zt-admin: %s\n", message.c_str());
    return kExitFailed;
}

// The options of one command: "--name value" pairs from a fixed set.
// Option values may be PINs: wiped when the options go.
struct Options {
    Options() = default;
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
    ~Options() {
        for (auto& o : named) zt::wipe(o.second);
    }

    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> named;

    const std::string* get(const char* name) const {
        const std::string* found = nullptr;
        for (const auto& o : named)
            if (o.first == name) found = &o.second;
        return found;
    }
};

// Splits args into positional words and the allowed options; empty on success,
// else the error text.
std::string parseOptions(const std::vector<std::string>& args,
                         const std::vector<std::string>& allowed, Options& out) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            std::string name = a, value;
            size_t eq = a.find('=');
            bool inlineValue = eq != std::string::npos;
            if (inlineValue) {
                name = a.substr(0, eq);
                value = a.substr(eq + 1);
            }
            bool known = false;
            for (const auto& n : allowed) known = known || n == name;
            if (!known) return "unknown option " + name;
            if (!inlineValue) {
                if (i + 1 >= args.size()) return "option " + name + " needs a value";
                value = args[++i];
            }
            out.named.emplace_back(name, value);
            zt::wipe(value);
        } else {
            out.positional.push_back(a);
        }
    }
    return std::string();
}

bool validPin(const std::string& pin) {
    return !pin.empty() && pin.size() <= zt::kMaxPinLength;
}

std::string quoteName(const std::string& name) {
    return "'" + name + "'";
}

// Waits for the reader's lock: kExitOk, or the exit status of a missing reader.
int lockReader(const zt::CardFiles& files, const std::string& name, zt::os::FileLock& lock) {
    if (!zt::validReaderName(name) || !files.lock(lock))
        return failure("no reader " + quoteName(name));
    return kExitOk;
}

class Admin {
public:
    explicit Admin(std::string home) : m_home(std::move(home)) {}

    int readerAdd(const std::string& name) {
        if (!zt::validReaderName(name))
            return usageError("invalid reader name " + quoteName(name) +
                              " (printable UTF-8 text of 1 to 255 bytes)");
        if (!zt::os::makePrivateDir(m_home) || !zt::os::makePrivateDir(zt::readersDir(m_home)))
            return failure("cannot create the store " + m_home);
        zt::CardFiles files(m_home, name);
        // A hashed folder whose "name" file a crash kept from being written
        // is no reader yet: it is completed below.
        for (const auto& existing : zt::listReaders(m_home))
            if (existing == name) return failure("reader " + quoteName(name) + " exists");
        if (!files.createReader()) return failure("cannot create reader " + quoteName(name));
        std::printf("reader %s added\n", quoteName(name).c_str());
        return kExitOk;
    }

    int readerDelete(const std::string& name) {
        zt::CardFiles files(m_home, name);
        zt::os::FileLock lock;
        if (int rc = lockReader(files, name, lock)) return rc;
        // Pull the card out first, so that open connections see it gone.
        files.pullOut();
        if (!zt::os::removeTree(files.readerDir()))
            return failure("cannot delete reader " + quoteName(name));
        std::printf("reader %s deleted\n", quoteName(name).c_str());
        return kExitOk;
    }

    int cardNew(const std::string& reader, const Options& o) {
        zt::TokenInfo info;
        info.id = zt::randomHex(16);
        info.label = o.get("--label") ? *o.get("--label") : "Quillon ZT";
        info.serial = o.get("--serial") ? *o.get("--serial") : zt::randomHex(8);
        if (!zt::validInfoText(info.label, zt::kMaxLabel))
            return usageError("the label must be at most 32 printable ASCII characters");
        if (info.serial.empty() || !zt::validInfoText(info.serial, zt::kMaxSerial))
            return usageError("the serial must be 1 to 16 printable ASCII characters");
        std::string userPin = o.get("--user-pin") ? *o.get("--user-pin") : "1234";
        std::string soPin = o.get("--so-pin") ? *o.get("--so-pin") : "12345678";
        zt::WipeOnExit wipePins(userPin, soPin);
        if (!validPin(userPin) || !validPin(soPin))
            return usageError("a PIN must be 1 to 255 characters");
        unsigned tries = zt::kDefaultPinTries;
        if (const std::string* t = o.get("--tries")) {
            char* end = nullptr;
            unsigned long v = std::strtoul(t->c_str(), &end, 10);
            if (t->empty() || *end != '\0' || v < 1 || v > zt::kMaxPinTries)
                return usageError("--tries must be a number from 1 to 15");
            tries = static_cast<unsigned>(v);
        }
        zt::Pins pins;
        pins.user.maxTries = pins.so.maxTries = tries;
        pins.user.set(userPin);
        pins.so.set(soPin);

        zt::CardFiles files(m_home, reader);
        zt::os::FileLock lock;
        if (int rc = lockReader(files, reader, lock)) return rc;
        switch (files.presence()) {
            case zt::Presence::Inserted:
                return failure("reader " + quoteName(reader) + " already holds a card");
            case zt::Presence::PulledOut:
                return failure("reader " + quoteName(reader) +
                               " keeps a pulled-out card; 'card delete' it first");
            default:
                break;
        }
        if (!files.createCard(info, pins) || !files.insert())
            return failure("cannot create the card in reader " + quoteName(reader));
        std::printf("card %s (serial %s) inserted into reader %s\n", info.label.c_str(),
                    info.serial.c_str(), quoteName(reader).c_str());
        return kExitOk;
    }

    int cardMove(const std::string& reader, bool insert) {
        zt::CardFiles files(m_home, reader);
        zt::os::FileLock lock;
        if (int rc = lockReader(files, reader, lock)) return rc;
        zt::Presence p = files.presence();
        if (p == zt::Presence::NoCard)
            return failure("reader " + quoteName(reader) + " has no card");
        if (insert) {
            if (p == zt::Presence::Inserted)
                return failure("the card is already in " + quoteName(reader));
            if (!files.insert()) return failure("cannot insert the card");
            std::printf("card inserted into reader %s\n", quoteName(reader).c_str());
        } else {
            if (p != zt::Presence::Inserted)
                return failure("the card is already out of " + quoteName(reader));
            if (!files.pullOut()) return failure("cannot remove the card");
            std::printf("card removed from reader %s\n", quoteName(reader).c_str());
        }
        return kExitOk;
    }

    int cardDelete(const std::string& reader) {
        zt::CardFiles files(m_home, reader);
        zt::os::FileLock lock;
        if (int rc = lockReader(files, reader, lock)) return rc;
        if (files.presence() == zt::Presence::NoCard)
            return failure("reader " + quoteName(reader) + " has no card");
        if (!files.destroyCard()) return failure("cannot delete the card");
        std::printf("card of reader %s deleted\n", quoteName(reader).c_str());
        return kExitOk;
    }

    int pinReset(const std::string& reader, const Options& o) {
        const std::string* userPin = o.get("--user-pin");
        const std::string* soPin = o.get("--so-pin");
        if (!userPin) return usageError("pin reset needs --user-pin P");
        if (!validPin(*userPin) || (soPin && !validPin(*soPin)))
            return usageError("a PIN must be 1 to 255 characters");
        zt::CardFiles files(m_home, reader);
        zt::os::FileLock lock;
        if (int rc = lockReader(files, reader, lock)) return rc;
        zt::Pins pins;
        if (files.presence() == zt::Presence::NoCard)
            return failure("reader " + quoteName(reader) + " has no card");
        if (!files.loadPins(pins)) return failure("cannot read the card's PINs");
        pins.user.set(*userPin);
        if (soPin) pins.so.set(*soPin);
        if (!files.savePins(pins)) return failure("cannot store the PINs");
        std::printf("PIN reset on the card of reader %s\n", quoteName(reader).c_str());
        return kExitOk;
    }

    int list() {
        std::vector<std::string> readers = zt::listReaders(m_home);
        if (readers.empty()) std::printf("no readers in %s\n", m_home.c_str());
        for (const auto& name : readers) {
            zt::CardFiles files(m_home, name);
            zt::Presence p = files.presence();
            if (p == zt::Presence::NoCard || p == zt::Presence::NoReader) {
                std::printf("%s: no card\n", name.c_str());
                continue;
            }
            zt::TokenInfo info;
            zt::Pins pins;
            const char* where = p == zt::Presence::Inserted ? "card in" : "card out";
            if (!files.loadInfo(info) || !files.loadPins(pins)) {
                std::printf("%s: %s, unreadable\n", name.c_str(), where);
                continue;
            }
            std::printf(
                "%s: %s, label \"%s\", serial %s, user PIN %u/%u tries left, "
                "SO PIN %u/%u tries left\n",
                name.c_str(), where, info.label.c_str(), info.serial.c_str(), pins.user.tries,
                pins.user.maxTries, pins.so.tries, pins.so.maxTries);
        }
        return kExitOk;
    }

private:
    std::string m_home;
};

int run(const std::vector<std::string>& argv) {
    std::string home;
    size_t i = 0;
    for (; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (a == "--help" || a == "-h" || a == "help") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
        if (a == "--home") {
            if (i + 1 >= argv.size()) return usageError("--home needs a folder");
            home = argv[++i];
        } else if (a.compare(0, 7, "--home=") == 0) {
            home = a.substr(7);
        } else if (a.compare(0, 1, "-") == 0) {
            return usageError("unknown option " + a);
        } else {
            break;
        }
    }
    if (i >= argv.size()) return usageError("no command given");
    if (home.empty()) home = zt::os::storeHome();
    if (home.empty()) return failure("no store folder: set ZT_HOME or use --home");

    std::string command = argv[i++];
    std::string sub =
        (command == "reader" || command == "card" || command == "pin") && i < argv.size()
            ? argv[i++]
            : std::string();
    std::vector<std::string> rest(argv.begin() + static_cast<long>(i), argv.end());
    for (const auto& a : rest)
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
    Options o;
    std::vector<std::string> allowed;
    if (command == "card" && sub == "new")
        allowed = {"--label", "--serial", "--user-pin", "--so-pin", "--tries"};
    else if (command == "pin" && sub == "reset")
        allowed = {"--user-pin", "--so-pin"};
    std::string error = parseOptions(rest, allowed, o);
    if (!error.empty()) return usageError(error);

    Admin admin(home);
    size_t want = command == "list" ? 0 : 1;
    bool known = (command == "reader" && (sub == "add" || sub == "delete")) ||
                 (command == "card" &&
                  (sub == "new" || sub == "remove" || sub == "insert" || sub == "delete")) ||
                 (command == "pin" && sub == "reset") || command == "list";
    if (!known) {
        std::string what = sub.empty() ? command : command + " " + sub;
        return usageError("unknown command '" + what + "'");
    }
    if (o.positional.size() != want)
        return usageError(want ? "'" + command + " " + sub + "' takes one name"
                               : "'list' takes no arguments");
    if (command == "list") return admin.list();
    const std::string& name = o.positional[0];
    if (command == "reader") return sub == "add" ? admin.readerAdd(name) : admin.readerDelete(name);
    if (command == "pin") return admin.pinReset(name, o);
    if (sub == "new") return admin.cardNew(name, o);
    if (sub == "delete") return admin.cardDelete(name);
    return admin.cardMove(name, sub == "insert");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int rc;
    try {
        rc = run(args);
    } catch (const std::exception& e) {
        rc = failure(std::string("unexpected failure: ") + e.what());
    }
    for (auto& a : args) zt::wipe(a);  // PINs among them
    return rc;
}
