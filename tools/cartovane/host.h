// Loads libCartovane.so the way the host application does.
#pragma once

#include <string>

#include "com/types.h"

namespace cartovane::tool {

class LoadedLibrary {
public:
    // dlopen, process-attach notification, registration. Throws std::runtime_error.
    explicit LoadedLibrary(const std::string& path);
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    const char* MessageText(std::int32_t id) const;  // null when unknown
    const char* (*MessageTextFunction() const)(std::int32_t) { return messageText_; }

private:
    void* handle_ = nullptr;
    HRESULT (*unregister_)() = nullptr;
    const char* (*messageText_)(std::int32_t) = nullptr;
};

// CARTOVANE_LIBRARY, else libCartovane.so beside the tool or in ../lib.
std::string DefaultLibraryPath(const char* argv0);

}  // namespace cartovane::tool
