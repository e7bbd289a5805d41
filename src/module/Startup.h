// Loading and unloading of the provider: configuration, log and the binding
// to the card-access library.
#ifndef QUILLON_MODULE_STARTUP_H
#define QUILLON_MODULE_STARTUP_H

// Runs when the library is loaded; false when it must not be used.
bool moduleAttach();
// The process is ending (exit(), or Windows' detach during process
// termination): other libraries, the card library among them, may already have
// destroyed their statics, so the unload that follows must not call them.
// Stops the reader monitor first, while the card library still works.
void moduleProcessExit(bool stopMonitor);
// Runs when the library is unloaded: finalises, frees the card library, and
// destroys the provider's own process-wide state.
void moduleDetach();

// False after a failed start-up. Where the loader cannot refuse a library
// (shared objects), the module stays loaded but answers CKR_GENERAL_ERROR.
bool moduleUsable();
// Why start-up failed, for the log; empty when it did not.
const char* startupFailure();

#endif
