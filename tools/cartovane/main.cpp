// cartovane: a command-line host for libCartovane.so.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "com/registry.h"
#include "tools/cartovane/host.h"

namespace {

constexpr const char* kUsage =
    "usage: cartovane [--library PATH] COMMAND [ARGS]\n"
    "\n"
    "Loads libCartovane.so as the host application does (process attach, registration)\n"
    "and runs one command.\n"
    "\n"
    "commands:\n"
    "  components   list the registered components: CLSID, ProgID, description and\n"
    "               whether the component can be created yet\n"
    "  --help       this text\n"
    "\n"
    "The library is found through --library, CARTOVANE_LIBRARY, or beside the tool.\n";

int ListComponents() {
    std::vector<com::ClassRegistration> classes = com::RegisteredClasses();
    std::printf("%-38s  %-40s  %-9s  %s\n", "CLSID", "ProgID", "creatable", "description");
    for (const com::ClassRegistration& entry : classes) {
        IUnknown* object = nullptr;
        HRESULT hr = CoCreateInstance(entry.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                      reinterpret_cast<void**>(&object));
        if (object) object->Release();
        const char* creatable = SUCCEEDED(hr) ? "yes" : hr == E_NOTIMPL ? "not yet" : "no";
        std::printf("%-38s  %-40s  %-9s  %s\n", com::FormatGuid(entry.clsid).c_str(), entry.progId.c_str(),
                    creatable, entry.description.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string library;
    if (args.size() >= 2 && args[0] == "--library") {
        library = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    try {
        cartovane::tool::LoadedLibrary lib(library.empty() ? cartovane::tool::DefaultLibraryPath(argv[0]) : library);
        if (args[0] == "components") return ListComponents();
        std::fprintf(stderr, "cartovane: unknown command '%s'\n\n%s", args[0].c_str(), kUsage);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cartovane: %s\n", e.what());
        return 1;
    }
}
