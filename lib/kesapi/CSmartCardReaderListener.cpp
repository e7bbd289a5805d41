#include "CSmartCardReaderListener.h"

#include "ReaderMonitorImpl.h"

namespace KESAPI {

CSmartCardReaderListener::CSmartCardReaderListener() = default;

CSmartCardReaderListener::~CSmartCardReaderListener() {
    stopListening();
}

void CSmartCardReaderListener::unableToOpenContext(const char*) {
    ++m_ulContextFailures;
}

void CSmartCardReaderListener::startListening(const char* reader, bool cardPresent) {
    detail::registerListener(this, reader ? reader : "", cardPresent);
}

void CSmartCardReaderListener::stopListening() {
    detail::unregisterListener(this);
}

bool CSmartCardReaderListener::isListening() const {
    return detail::isRegistered(this);
}

}  // namespace KESAPI
