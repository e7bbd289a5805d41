// Process-wide objects with no static destructor.
//
// At process exit the C++ runtime destroys globals before the library's unload
// hook runs, while the host may still call in; so tables that the unload hook
// (C_Finalize) or a late caller touches are made with makeProcessGlobal and
// destroyed explicitly, last, by destroyProcessGlobals() at unload:
//
//   OrlHashtable<int, int>& g_slotTable = makeProcessGlobal<OrlHashtable<int, int>>();
#ifndef QUILLON_SUPPORT_PROCESSGLOBAL_H
#define QUILLON_SUPPORT_PROCESSGLOBAL_H

typedef void (*ProcessGlobalDeleter)(void*);
void registerProcessGlobal(void* object, ProcessGlobalDeleter deleter);
// Destroys every registered object, newest first. Only the unload hook calls it.
void destroyProcessGlobals();

template <typename T>
T& makeProcessGlobal() {
    T* object = new T();
    registerProcessGlobal(object, [](void* p) { delete static_cast<T*>(p); });
    return *object;
}

#endif
