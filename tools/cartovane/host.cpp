#include "tools/cartovane/host.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "cfx/cfx.h"

namespace cartovane::tool {

namespace {
template <class F>
F Symbol(void* handle, const char* name) {
    void* p = dlsym(handle, name);
    if (!p) throw std::runtime_error(std::string("libCartovane.so does not export ") + name);
    return reinterpret_cast<F>(p);
}
}  // namespace

LoadedLibrary::LoadedLibrary(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(std::string("cannot load ") + path + ": " + dlerror());
    try {
        auto dllMain = Symbol<BOOL (*)(void*, DWORD, void*)>(handle_, "DllMain");
        auto registerServer = Symbol<HRESULT (*)()>(handle_, "DllRegisterServer");
        unregister_ = Symbol<HRESULT (*)()>(handle_, "DllUnregisterServer");
        messageText_ = Symbol<const char* (*)(std::int32_t)>(handle_, "ID2MessageString");
        dllMain(handle_, 1, nullptr);  // the loader's process-attach notification
        HRESULT hr = registerServer();
        if (FAILED(hr))
            throw std::runtime_error("DllRegisterServer failed: " + Cfx::CfxResult::StandardDescription(hr));
    } catch (...) {
        dlclose(handle_);
        throw;
    }
}

LoadedLibrary::~LoadedLibrary() {
    if (unregister_) unregister_();
    // The library stays mapped: components and registry entries may still point into it.
}

const char* LoadedLibrary::MessageText(std::int32_t id) const { return messageText_ ? messageText_(id) : nullptr; }

std::string DefaultLibraryPath(const char* argv0) {
    if (const char* env = std::getenv("CARTOVANE_LIBRARY"); env && *env) return env;
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) self = std::filesystem::absolute(argv0 ? argv0 : "cartovane", ec);
    std::filesystem::path dir = self.parent_path();
    for (const auto& candidate : {dir / "libCartovane.so", dir / ".." / "lib" / "libCartovane.so"})
        if (std::filesystem::exists(candidate, ec)) return candidate.string();
    return "libCartovane.so";
}

}  // namespace cartovane::tool
