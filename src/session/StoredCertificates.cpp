#include "StoredCertificates.h"

#include <vector>

#include "C11Object.h"

C11Object* findStoredCertificate(CObjectTable& table, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount,
                                 bool loggedIn) {
    // What the copy would be found by: class, token, value and its ID.
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_BBOOL token = CK_TRUE;
    std::vector<CK_ATTRIBUTE> query = {{CKA_CLASS, &certificateClass, sizeof(certificateClass)},
                                       {CKA_TOKEN, &token, sizeof(token)}};
    bool hasValue = false;
    for (CK_ULONG i = 0; pTemplate && i < ulCount; ++i) {
        const CK_ATTRIBUTE& a = pTemplate[i];
        if (a.type != CKA_VALUE && a.type != CKA_ID) continue;
        if (a.ulValueLen && !a.pValue) return nullptr;  // refused by creation anyway
        query.push_back(a);
        hasValue = hasValue || a.type == CKA_VALUE;
    }
    if (!hasValue) return nullptr;

    CAttributeVector attributes;
    unsigned long key = 0;
    C11Object* object = nullptr;
    for (CObjectTable::Entry* e = table.getFirstEntry(); e;) {
        e = table.getNextEntry(e, key, object);
        if (!object || object->getClass() != CKO_CERTIFICATE || !object->isToken()) continue;
        if (object->isPrivate() && !loggedIn) continue;
        attributes.removeAll();
        for (CK_ATTRIBUTE& a : query) attributes.addElement(&a);
        if (object->match(attributes) && attributes.isEmpty()) return object;
    }
    return nullptr;
}
