// Object search: findInit takes a snapshot of the matching handles, find hands
// them out in portions, findFinal ends the search.
#include "C11Object.h"
#include "CSession.h"
#include "CSessionData.h"
#include "Log.h"

namespace {
constexpr uint32_t kResultsCapacity = 50;
}  // namespace

CK_RV CSession::findInit(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount) {
    logMessage("-> findInit");
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    try {
        rv = printTemplate(pTemplate, ulCount, TemplateUse::Search);
        if (rv != CKR_OK) return rv;
        m_pFindResults.reset();
        rv = loadObjects();
        if (rv != CKR_OK) {
            logError("<e> loadObjects, %lX", rv);
            return rv;
        }
        CObjectTable& table = m_pSessionData->m_objectTable;
        // The vector grows one element at a time: room for every object up
        // front keeps a large search linear.
        std::unique_ptr<OrlVector<uint32_t>> results(new OrlVector<uint32_t>());
        results->ensureCapacity(table.size() > kResultsCapacity ? table.size() : kResultsCapacity);
        bool loggedIn = m_pSessionData->m_ulUserType != kNoUserType;
        // One vector refilled per object: match takes out what it compared.
        CAttributeVector attributes;
        unsigned long key = 0;
        C11Object* object = nullptr;
        for (CObjectTable::Entry* e = table.getFirstEntry(); e;) {
            e = table.getNextEntry(e, key, object);
            if (!object || (object->isPrivate() && !loggedIn)) continue;
            attributes.removeAll();
            fillAttributeVector(attributes, pTemplate, ulCount);
            if (object->match(attributes) && attributes.isEmpty()) {
                results->addElement(static_cast<uint32_t>(key));
            }
        }
        m_pFindResults = std::move(results);
        m_ulFindPos = 0;
    } catch (...) {
        logError("<e> Generic Exception");
        m_pFindResults.reset();
        return CKR_GENERAL_ERROR;
    }
    logMessage("<- findInit");
    return CKR_OK;
}

CK_RV CSession::find(CK_OBJECT_HANDLE* phObject, CK_ULONG ulMaxObjectCount,
                     CK_ULONG* pulObjectCount) {
    logMessage("-> find");
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    if (!m_pFindResults) {
        logError("<e> CKR_OPERATION_NOT_INITIALIZED");
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    uint32_t size = m_pFindResults->size();
    logMessage("Objects found: %d", static_cast<int>(size));
    if (m_ulFindPos >= size) {
        logMessage("--- There isn't any object found!");
        *pulObjectCount = 0;
        return CKR_OK;
    }
    CK_ULONG left = size - m_ulFindPos;
    CK_ULONG count = ulMaxObjectCount < left ? ulMaxObjectCount : left;
    *pulObjectCount = count;
    if (!phObject) return CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) phObject[i] = m_pFindResults->elementAt(m_ulFindPos++);
    logMessage("<- find");
    return CKR_OK;
}

CK_RV CSession::findFinal() {
    logMessage("-> findFinal");
    m_pFindResults.reset();
    m_ulFindPos = 0;
    logMessage("<- findFinal");
    return CKR_OK;
}
