// An in-process card-access table for the object tests: records every call,
// keeps stored values and the directory in memory, and answers scripted
// statuses. Construct one per test; it publishes itself and unpublishes on
// destruction.
#ifndef QUILLON_TESTS_OBJECTTESTCARD_H
#define QUILLON_TESTS_OBJECTTESTCARD_H

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "AttributeRules.h"
#include "C11Object.h"
#include "CObjectTable.h"
#include "CardLibrary.h"

// Puts an object into a table as the session layer does: an object numbered
// by the test keeps its number; otherwise a token object gets the next free
// number and a session object a session handle.
inline CK_OBJECT_HANDLE putObject(CObjectTable& table, C11Object* object) {
    if (object->getHandle() != 0) {
        table.put(object->getHandle(), object);
        return object->getHandle();
    }
    return object->isToken() ? table.insertTokenObject(object) : table.insertSessionObject(object);
}

struct CardCall {
    std::string name;
    std::string path;
    uint32_t accessClass;
    std::vector<unsigned char> data;
};

class ObjectTestCard {
public:
    ObjectTestCard() {
        s_current = this;
        m_table.ZT_readObj = &readObj;
        m_table.ZT_addObj = &addObj;
        m_table.ZT_writeObj = &writeObj;
        m_table.ZT_getObjectTbl = &getObjectTbl;
        m_table.ZT_putObjectTbl = &putObjectTbl;
        m_table.ZT_getPublicKey = &getPublicKey;
        publishCardFunctions(&m_table);
    }
    ~ObjectTestCard() {
        publishCardFunctions(nullptr);
        s_current = nullptr;
    }
    ObjectTestCard(const ObjectTestCard&) = delete;
    ObjectTestCard& operator=(const ObjectTestCard&) = delete;

    CardFunctions m_table = {};
    std::vector<CardCall> calls;
    std::map<std::string, std::vector<unsigned char>> values;
    std::vector<unsigned char> directory;
    std::vector<unsigned char> publicKeyDer;
    int nextPath = 1;

    // Scripted statuses; 0 is success.
    ZT_STATUS readStatus = 0;
    ZT_STATUS firstAddStatus = 0;
    ZT_STATUS secondAddStatus = 0;
    ZT_STATUS writeStatus = 0;
    ZT_STATUS getTblStatus = 0;
    ZT_STATUS putTblStatus = 0;
    ZT_STATUS publicKeyStatus = 0;

    size_t count(const std::string& name) const {
        size_t n = 0;
        for (const CardCall& c : calls) n += c.name == name;
        return n;
    }

private:
    static std::vector<unsigned char> bytes(const OrlByteArray& a) {
        return std::vector<unsigned char>(a.getContent(), a.getContent() + a.getLength());
    }
    static void fill(OrlByteArray& out, const std::vector<unsigned char>& v) {
        out.removeAll();
        if (!v.empty()) out.append(v.data(), static_cast<unsigned>(v.size()));
    }

    static ZT_STATUS readObj(ZT_HANDLE, const char* path, uint32_t accessClass, OrlByteArray& out) {
        ObjectTestCard& c = *s_current;
        c.calls.push_back({"readObj", path, accessClass, {}});
        if (c.readStatus) return c.readStatus;
        auto it = c.values.find(path);
        if (it == c.values.end() || it->second.empty()) return kStatusEmptyObject;
        fill(out, it->second);
        return 0;
    }
    static ZT_STATUS addObj(ZT_HANDLE, OrlByteArray& data, uint32_t accessClass, char* path) {
        ObjectTestCard& c = *s_current;
        // The first call of a pair gets a zeroed path buffer to fill.
        bool first = path[0] == 0;
        c.calls.push_back({"addObj", first ? "" : path, accessClass, bytes(data)});
        if (first) {
            if (c.firstAddStatus) return c.firstAddStatus;
            std::string p = "obj" + std::to_string(c.nextPath++);
            std::strcpy(path, p.c_str());
            c.values[p];
            return 0;
        }
        if (c.secondAddStatus) return c.secondAddStatus;
        c.values[path] = bytes(data);
        return 0;
    }
    static ZT_STATUS writeObj(ZT_HANDLE, const char* path, uint32_t accessClass,
                              OrlByteArray& data) {
        ObjectTestCard& c = *s_current;
        c.calls.push_back({"writeObj", path, accessClass, bytes(data)});
        if (c.writeStatus) return c.writeStatus;
        c.values[path] = bytes(data);
        return 0;
    }
    static ZT_STATUS getObjectTbl(ZT_HANDLE, OrlByteArray& out) {
        ObjectTestCard& c = *s_current;
        c.calls.push_back({"getObjectTbl", "", 0, {}});
        fill(out, c.directory);
        return c.getTblStatus;
    }
    static ZT_STATUS putObjectTbl(ZT_HANDLE, OrlByteArray& directory) {
        ObjectTestCard& c = *s_current;
        c.calls.push_back({"putObjectTbl", "", 0, bytes(directory)});
        if (c.putTblStatus) return c.putTblStatus;
        c.directory = bytes(directory);
        return 0;
    }
    static ZT_STATUS getPublicKey(ZT_HANDLE, const char* path, OrlByteArray& out) {
        ObjectTestCard& c = *s_current;
        c.calls.push_back({"getPublicKey", path, 0, {}});
        if (c.publicKeyStatus) return c.publicKeyStatus;
        fill(out, c.publicKeyDer);
        return 0;
    }

    static inline ObjectTestCard* s_current = nullptr;
};

// Template-building helpers for the object tests.
struct TemplateBuilder {
    std::vector<CK_ATTRIBUTE> entries;
    std::vector<std::vector<unsigned char>> storage;

    TemplateBuilder& bytes(CK_ATTRIBUTE_TYPE type, std::vector<unsigned char> value) {
        storage.push_back(std::move(value));
        return *this << CK_ATTRIBUTE{type, nullptr, 0};
    }
    TemplateBuilder& text(CK_ATTRIBUTE_TYPE type, const std::string& value) {
        return bytes(type, std::vector<unsigned char>(value.begin(), value.end()));
    }
    TemplateBuilder& ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
        std::vector<unsigned char> v(sizeof(CK_ULONG));
        std::memcpy(v.data(), &value, sizeof(CK_ULONG));
        return bytes(type, v);
    }
    TemplateBuilder& flag(CK_ATTRIBUTE_TYPE type, bool value) {
        return bytes(type, {static_cast<unsigned char>(value ? 1 : 0)});
    }
    TemplateBuilder& operator<<(CK_ATTRIBUTE a) {
        entries.push_back(a);
        return *this;
    }
    // Points every entry at its storage; call once the template is complete.
    CK_ATTRIBUTE* get() {
        for (size_t i = 0; i < entries.size(); ++i) {
            entries[i].pValue = storage[i].empty() ? nullptr : storage[i].data();
            entries[i].ulValueLen = storage[i].size();
        }
        return entries.data();
    }
    CK_ULONG size() const { return entries.size(); }
};

// setAttributes over a whole template, as object creation does.
template <typename Object>
CK_RV applyTemplate(Object& object, TemplateBuilder& t, CK_BBOOL justCreated = CK_TRUE) {
    CAttributeVector v;
    CK_ATTRIBUTE* p = t.get();
    for (CK_ULONG i = 0; i < t.size(); ++i) v.addElement(&p[i]);
    return object.setAttributes(justCreated, v);
}

#endif
