// Reader listener: a base class whose instances learn of card insertion and
// removal in one reader.
//
// A listener is quiet until startListening(); from then on the reader monitor
// (ReaderMonitor.h) polls its reader and calls smartCardRemoved or
// smartCardInserted when the card state differs from the one the listener last
// learned. A derived class must call stopListening() first thing in its own
// destructor: the base destructor runs too late to keep the monitor from
// calling into a half-destroyed object.
#ifndef KESAPI_CSMARTCARDREADERLISTENER_H
#define KESAPI_CSMARTCARDREADERLISTENER_H

#include <atomic>

namespace KESAPI {

class CSmartCardReaderListener {
public:
    CSmartCardReaderListener();
    // The virtual operations, in this order.
    virtual ~CSmartCardReaderListener();
    virtual void noReadersAvailable() {}
    virtual void readerRemoved(const char* /*reader*/) {}
    virtual void cancelled(const char* /*reader*/) {}
    virtual void unableToOpenContext(const char* reader);
    virtual void smartCardRemoved(const char* /*reader*/) {}
    // `context` is the monitor's round number; listeners may ignore it.
    virtual void smartCardInserted(const char* /*reader*/, unsigned long /*context*/) {}

    CSmartCardReaderListener(const CSmartCardReaderListener&) = delete;
    CSmartCardReaderListener& operator=(const CSmartCardReaderListener&) = delete;

    // Watches `reader`; `cardPresent` is the state the caller last saw, so a
    // change after this call is reported even before the monitor's first poll.
    // Starts the monitor thread if it is not running and threads are allowed.
    void startListening(const char* reader, bool cardPresent);
    // Stops watching. On return no callback runs or will run on this listener,
    // except one in progress on the calling thread itself.
    void stopListening();
    bool isListening() const;

    // How many times unableToOpenContext was called on this listener.
    unsigned long contextFailures() const { return m_ulContextFailures.load(); }

private:
    std::atomic<unsigned long> m_ulContextFailures{0};
};

}  // namespace KESAPI

#endif
