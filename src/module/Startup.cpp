#include "Startup.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "CardLibrary.h"
#include "Configuration.h"
#include "GlobalLock.h"
#include "Log.h"
#include "MechanismSet.h"
#include "OrlLoggerAdv.h"
#include "Platform.h"
#include "ProcessGlobal.h"
#include "ReaderEvents.h"
#include "RequiredEntries.h"
#include "cryptoki.h"

namespace {

constexpr unsigned kStopIcon = 0x10;

platform::LibraryHandle g_hCardLibrary = nullptr;
bool s_usable = false;
bool s_processExiting = false;
bool s_detached = false;
// Plain storage: the load hook may run before this file's dynamic initialisers.
char s_failure[512];

// The message the system has always shown, then one line in English that
// says what to fix: which library, from which configuration, and why.
bool fail(const std::string& why, const char* text, const char* caption) {
    std::snprintf(s_failure, sizeof(s_failure), "%s", why.c_str());
    platform::messageBox(text, caption, kStopIcon);
    platform::printErrorLine(("Quillon: start-up failed: " + why).c_str());
    return false;
}

bool refuseLibrary(const std::string& why) {
    return fail(why, "Impossibile trovare la dll ZT", "Errore");
}

}  // namespace

bool moduleAttach() {
    g_hCardLibrary = nullptr;
    s_usable = false;
    s_processExiting = false;
    s_detached = false;
    s_failure[0] = 0;

    Configuration config = readConfiguration();
    if (!config.ignoredFile.empty())
        platform::printErrorLine(("Quillon: configuration " + config.ignoredFile).c_str());

    g_logLevel = parseLogLevel(config.value(kKeyLogLevel));
    if (const char* file = config.value(kKeyLogFile)) logger().setLogFile(file);
    setMechanismSet(parseMechanismSet(config.value(kKeyMechanisms)));

    logMessage(" ************* START LIBRARY ****************");
    logMessage("-> DLL_PROCESS_ATTACH");
    if (!config.ignoredFile.empty()) logMessage("configuration %s", config.ignoredFile.c_str());

    const char* zt = config.value(kKeyCardLibrary);
    if (!zt) {
        return fail(
            "no card-access library: no \"zt\" entry in the configuration; "
            "configuration read: " +
                config.source,
            "Impossibile trovare la voce del registry relativa alla libreria zt.dll", "Brisel");
    }

    std::string library =
        std::string("card-access library \"") + zt + "\" (from " + config.source + ")";
    logMessage("ZT: %s", zt);
    g_hCardLibrary = platform::loadLibrary(zt);
    if (!g_hCardLibrary) {
        logMessage("ZT load error: %lx", platform::getLastError());
        return refuseLibrary("cannot load the " + library + ": " + platform::lastLoadError());
    }

    auto getFunctionList = reinterpret_cast<ZT_GetFunctionList_t>(
        platform::findSymbol(g_hCardLibrary, ZT_GET_FUNCTION_LIST_NAME));
    if (!getFunctionList) {
        logMessage("ZT load error: %lx", platform::getLastError());
        return refuseLibrary("the " + library +
                             " has no export \"GetFunctionList\": " + platform::lastLoadError());
    }

    // Filled into a scratch table first: a table with holes is never published.
    CardFunctions table = {};
    getFunctionList(&table);
    std::string missing = missingRequiredEntries(table);
    if (!missing.empty()) {
        logError("<e> ZT function table: required entries are NULL: %s", missing.c_str());
        return refuseLibrary("the " + library + " leaves required entries of its function " +
                             "table null: " + missing);
    }
    g_cardFunctions = table;
    publishCardFunctions(&g_cardFunctions);
    s_usable = true;
    return true;
}

void moduleProcessExit(bool stopMonitor) {
    if (s_detached || s_processExiting) return;
    s_processExiting = true;
    if (stopMonitor && s_usable) stopReaderMonitor();
}

void moduleDetach() {
    s_detached = true;
    if (s_processExiting) {
        logMessage(" ************* STOP LIBRARY (process exit) ****************");
        return;
    }
    C_Finalize(nullptr);
    publishCardFunctions(nullptr);
    if (g_hCardLibrary) {
        if (!platform::freeLibrary(g_hCardLibrary))
            logError("<e> FreeLibrary returns: %lX", platform::getLastError());
        g_hCardLibrary = nullptr;
    }
    logMessage(" ************* STOP LIBRARY ****************");
    s_usable = false;
    closeLog();
    destroyGlobalLock();
    destroyProcessGlobals();
}

bool moduleUsable() {
    return s_usable;
}

const char* startupFailure() {
    return s_failure;
}
