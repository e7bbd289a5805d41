#include "Startup.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "CardLibrary.h"
#include "GlobalLock.h"
#include "Log.h"
#include "MechanismSet.h"
#include "OrlLoggerAdv.h"
#include "OrlProperties.h"
#include "Platform.h"
#include "ProcessGlobal.h"
#include "ReaderEvents.h"
#include "cryptoki.h"

namespace {

constexpr const char* kRegistrySubKey = "SOFTWARE\\Velmora\\Quillon";
constexpr const char* kConfigFile = "ravenell.conf";
constexpr unsigned kStopIcon = 0x10;

platform::LibraryHandle g_hCardLibrary = nullptr;
bool s_usable = false;
bool s_processExiting = false;
bool s_detached = false;
// Plain storage: the load hook may run before this file's dynamic initialisers.
char s_failure[512];

// Leading decimal digits; text that is no number gives 0.
uint32_t parseLogLevel(const char* text) {
    uint32_t value = 0;
    for (const char* p = text; p && *p >= '0' && *p <= '9'; ++p) value = value * 10 + (*p - '0');
    return value;
}

bool fail(const std::string& why, const char* text, const char* caption) {
    std::snprintf(s_failure, sizeof(s_failure), "%s", why.c_str());
    platform::messageBox(text, caption, kStopIcon);
    return false;
}

}  // namespace

bool moduleAttach() {
    g_hCardLibrary = nullptr;
    s_usable = false;
    s_processExiting = false;
    s_detached = false;
    s_failure[0] = 0;

    // The configuration file is read only when the registry cannot be: never both.
    OrlProperties properties;
    if (properties.load(HKEY_LOCAL_MACHINE, kRegistrySubKey) != 0) properties.load(kConfigFile);

    g_logLevel = parseLogLevel(properties.getProperty("loglevel", nullptr));
    if (const char* file = properties.getProperty("ckilogfile", nullptr)) logger().setLogFile(file);
    setMechanismSet(parseMechanismSet(properties.getProperty("mechanisms", nullptr)));

    logMessage(" ************* START LIBRARY ****************");
    logMessage("-> DLL_PROCESS_ATTACH");

    const char* zt = properties.getProperty("zt", nullptr);
    if (!zt) {
        return fail("no \"zt\" entry in the configuration",
                    "Impossibile trovare la voce del registry relativa alla libreria zt.dll",
                    "Brisel");
    }

    logMessage("ZT: %s", zt);
    g_hCardLibrary = platform::loadLibrary(zt);
    if (!g_hCardLibrary) {
        logMessage("ZT load error: %lx", platform::getLastError());
        return fail(
            std::string("cannot load the card library ") + zt + ": " + platform::lastLoadError(),
            "Impossibile trovare la dll ZT", "Errore");
    }

    auto getFunctionList = reinterpret_cast<ZT_GetFunctionList_t>(
        platform::findSymbol(g_hCardLibrary, ZT_GET_FUNCTION_LIST_NAME));
    if (!getFunctionList) {
        logMessage("ZT load error: %lx", platform::getLastError());
        return fail(std::string("the card library ") + zt + " has no \"GetFunctionList\"",
                    "Impossibile trovare la dll ZT", "Errore");
    }

    getFunctionList(&g_cardFunctions);
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
