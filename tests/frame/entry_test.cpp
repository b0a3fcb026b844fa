// The exports of the real shared library, each case in a fresh process: the enable flag is set
// once per process.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include "cfx/ccfx.h"
#include "com/registry.h"

namespace {

struct Library {
    void* handle = nullptr;
    BOOL (*dllMain)(void*, DWORD, void*) = nullptr;
    HRESULT (*canUnloadNow)() = nullptr;
    HRESULT (*getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT (*registerServer)() = nullptr;
    HRESULT (*unregisterServer)() = nullptr;
};

Library Open() {
    Library lib;
    lib.handle = dlopen(CARTOVANE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!lib.handle) throw std::runtime_error(dlerror());
    auto sym = [&](const char* name) {
        void* p = dlsym(lib.handle, name);
        if (!p) throw std::runtime_error(std::string("missing ") + name);
        return p;
    };
    lib.dllMain = reinterpret_cast<BOOL (*)(void*, DWORD, void*)>(sym("DllMain"));
    lib.canUnloadNow = reinterpret_cast<HRESULT (*)()>(sym("DllCanUnloadNow"));
    lib.getClassObject = reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(sym("DllGetClassObject"));
    lib.registerServer = reinterpret_cast<HRESULT (*)()>(sym("DllRegisterServer"));
    lib.unregisterServer = reinterpret_cast<HRESULT (*)()>(sym("DllUnregisterServer"));
    return lib;
}

// Runs body in a forked child; body reports problems into the stream. Empty result = passed.
std::string InFreshProcess(const std::function<void(std::ostream&)>& body) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::ostringstream problems;
        try {
            body(problems);
        } catch (const std::exception& e) {
            problems << "exception: " << e.what();
        }
        std::string text = problems.str();
        ssize_t ignored = write(fds[1], text.data(), text.size());
        (void)ignored;
        _exit(text.empty() ? 0 : 1);
    }
    close(fds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status)) return "child crashed: " + text;
    if (WEXITSTATUS(status) != 0 && text.empty()) return "child failed";
    return text;
}

#define CHECK(out, condition) \
    do {                      \
        if (!(condition)) (out) << __LINE__ << ": " #condition "\n"; \
    } while (0)

const CLSID kXsd = com::MakeGuid("{9245E38D-3F5E-67B0-7741-95B15E6E14E4}");

TEST(Exports, FirstGetClassObjectEnablesWithANullHandleThenServes) {
    EXPECT_EQ(InFreshProcess([](std::ostream& out) {
                  Library lib = Open();
                  CHECK(out, CCfxFactoryData::EnableCalls().empty());
                  IClassFactory* factory = nullptr;
                  CHECK(out, lib.getClassObject(kXsd, IID_IClassFactory, reinterpret_cast<void**>(&factory)) == S_OK);
                  CHECK(out, CCfxFactoryData::EnableCalls().size() == 1);
                  CHECK(out, CCfxFactoryData::EnableCalls()[0].module == nullptr);
                  CHECK(out, CCfxFactoryData::EnableCalls()[0].count == 31);
                  if (factory) {
                      IUnknown* object = nullptr;
                      CHECK(out, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)) == S_OK);
                      CHECK(out, object != nullptr);
                      if (object) object->Release();
                      CHECK(out, factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown,
                                                         reinterpret_cast<void**>(&object)) == CLASS_E_NOAGGREGATION);
                      factory->Release();
                  }
                  lib.canUnloadNow();
                  CHECK(out, CCfxFactoryData::EnableCalls().size() == 1);
              }),
              "");
}

TEST(Exports, RegisteringTwiceEnablesOnceAndFillsTheRegistry) {
    EXPECT_EQ(InFreshProcess([](std::ostream& out) {
                  Library lib = Open();
                  CHECK(out, lib.registerServer() == S_OK);
                  CHECK(out, lib.registerServer() == S_OK);
                  CHECK(out, CCfxFactoryData::EnableCalls().size() == 1);
                  CHECK(out, com::RegisteredClasses().size() == 31);
                  CLSID id{};
                  CHECK(out, CLSIDFromProgID(u"SDCartovane.XSDImportExport", &id) == S_OK && id == kXsd);
                  CHECK(out, CLSIDFromProgID(u"SDCartovane.XSDImportExport.1", &id) == S_OK && id == kXsd);
                  LPOLESTR progId = nullptr;
                  CHECK(out, ProgIDFromCLSID(kXsd, &progId) == S_OK);
                  CHECK(out, com::BstrToUtf8(progId) == "SDCartovane.XSDImportExport");
                  CoTaskMemFree(progId);
                  IUnknown* object = nullptr;
                  CHECK(out, CoCreateInstance(kXsd, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                              reinterpret_cast<void**>(&object)) == S_OK);
                  if (object) object->Release();
                  CHECK(out, lib.unregisterServer() == S_OK);
                  CHECK(out, com::RegisteredClasses().empty());
                  CHECK(out, FAILED(CLSIDFromProgID(u"SDCartovane.XSDImportExport", &id)));
              }),
              "");
}

TEST(Exports, OnlyProcessAttachEnablesAndDllMainAlwaysAnswersTrue) {
    EXPECT_EQ(InFreshProcess([](std::ostream& out) {
                  Library lib = Open();
                  for (DWORD reason : {0u, 2u, 3u}) CHECK(out, lib.dllMain(lib.handle, reason, nullptr) == TRUE);
                  CHECK(out, CCfxFactoryData::EnableCalls().empty());
                  CHECK(out, lib.dllMain(lib.handle, 1, nullptr) == TRUE);
                  CHECK(out, CCfxFactoryData::EnableCalls().size() == 1);
                  CHECK(out, CCfxFactoryData::EnableCalls()[0].module == lib.handle);
                  lib.registerServer();  // the flag is set: no second enabling
                  CHECK(out, CCfxFactoryData::EnableCalls().size() == 1);
              }),
              "");
}

TEST(Exports, UnknownClassGetsTheFrameworksAnswer) {
    EXPECT_EQ(InFreshProcess([](std::ostream& out) {
                  Library lib = Open();
                  const CLSID unknown = com::MakeGuid("{00000000-1111-2222-3333-444444444444}");
                  void* object = reinterpret_cast<void*>(0x1);
                  HRESULT hr = lib.getClassObject(unknown, IID_IClassFactory, &object);
                  void* direct = nullptr;
                  CHECK(out, hr == CCfxFactoryData::GetClassObject(unknown, IID_IClassFactory, &direct));
                  CHECK(out, hr == CLASS_E_CLASSNOTAVAILABLE);
                  CHECK(out, object == nullptr);
              }),
              "");
}

TEST(Exports, UnloadIsRefusedWhileTheServerIsLocked) {
    EXPECT_EQ(InFreshProcess([](std::ostream& out) {
                  Library lib = Open();
                  CHECK(out, lib.canUnloadNow() == S_OK);
                  IClassFactory* factory = nullptr;
                  lib.getClassObject(kXsd, IID_IClassFactory, reinterpret_cast<void**>(&factory));
                  if (!factory) {
                      out << "no factory";
                      return;
                  }
                  factory->LockServer(TRUE);
                  CHECK(out, lib.canUnloadNow() == S_FALSE);
                  factory->LockServer(FALSE);
                  CHECK(out, lib.canUnloadNow() == S_OK);
                  factory->Release();
              }),
              "");
}

TEST(Exports, DynamicSymbolTableHoldsExactlyTheEntryPoints) {
    std::string command = std::string("nm -D --defined-only ") + CARTOVANE_LIBRARY_PATH;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    std::array<char, 1024> line{};
    while (fgets(line.data(), static_cast<int>(line.size()), pipe)) {
        std::istringstream fields(line.data());
        std::string address, type, name;
        if (fields >> address >> type >> name) names.insert(name);
    }
    ASSERT_EQ(pclose(pipe), 0);
    EXPECT_EQ(names, (std::set<std::string>{"DllMain", "DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                            "DllUnregisterServer", "ID2MessageString"}));
}

}  // namespace
