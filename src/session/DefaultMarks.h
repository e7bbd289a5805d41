// The default-container marks of a slot's key pairs, kept so that a key
// import or generation that fails after taking them can put them back.
#ifndef QUILLON_SESSION_DEFAULTMARKS_H
#define QUILLON_SESSION_DEFAULTMARKS_H

#include <utility>
#include <vector>

#include "CCSPContainer.h"
#include "CObjectTable.h"

class CSavedDefaultMarks {
public:
    explicit CSavedDefaultMarks(CObjectTable& table) : m_table(table) {
        unsigned long key = 0;
        C11Object* object = nullptr;
        for (CObjectTable::Entry* e = table.getFirstEntry(); e;) {
            e = table.getNextEntry(e, key, object);
            CCSPContainer* container = dynamic_cast<CCSPContainer*>(object);
            if (container && container->getDefaultContainer()) {
                m_marks.emplace_back(key, container->getDefaultContainer());
            }
        }
    }
    void restore() {
        for (const auto& mark : m_marks) {
            unsigned long key = mark.first;
            C11Object* object = nullptr;
            if (!m_table.get(key, object)) continue;
            if (CCSPContainer* container = dynamic_cast<CCSPContainer*>(object)) {
                container->setDefaultContainer(mark.second);
            }
        }
    }

private:
    CObjectTable& m_table;
    std::vector<std::pair<unsigned long, unsigned char>> m_marks;
};

#endif
