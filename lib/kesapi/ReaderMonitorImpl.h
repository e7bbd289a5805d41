// Between the listener base class and the monitor; not for hosts.
#ifndef KESAPI_READERMONITORIMPL_H
#define KESAPI_READERMONITORIMPL_H

#include <string>

namespace KESAPI {
class CSmartCardReaderListener;
namespace detail {
void registerListener(CSmartCardReaderListener* listener, const std::string& reader,
                      bool cardPresent);
void unregisterListener(CSmartCardReaderListener* listener);
bool isRegistered(const CSmartCardReaderListener* listener);
}  // namespace detail
}  // namespace KESAPI

#endif
