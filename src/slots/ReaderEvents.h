// The provider's side of the reader monitor: how it polls readers and that
// its callbacks run under the global lock.
#ifndef QUILLON_SLOTS_READEREVENTS_H
#define QUILLON_SLOTS_READEREVENTS_H

// Installs the monitor's hooks (idempotent). Called before a slot state starts
// listening.
void configureReaderMonitor();
// Ends the monitor thread and waits for it. Never under the global lock: the
// thread may be waiting for it (C_Finalize calls this after releasing it).
void stopReaderMonitor();

#endif
