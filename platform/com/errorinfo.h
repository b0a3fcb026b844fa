// The process's current error information (one slot: the host is single-threaded).
#pragma once

#include <string>

#include "com/unknown.h"

HRESULT SetErrorInfo(DWORD reserved, IErrorInfo* info);  // takes a reference; null clears
HRESULT GetErrorInfo(DWORD reserved, IErrorInfo** info); // hands over the slot; S_FALSE if empty

namespace com {
// A new error-info object (one reference, owned by the caller).
IErrorInfo* CreateErrorInfo(REFIID iid, std::string source, std::string description);
}  // namespace com
