// The process's class registry: ProgID <-> CLSID, class objects, type-library records.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "com/types.h"
#include "com/unknown.h"

namespace com {

// Gives the class object for (clsid, iid).
using ClassObjectProvider = std::function<HRESULT(REFCLSID clsid, REFIID iid, void** out)>;

struct ClassRegistration {
    CLSID clsid;
    std::string progId;           // version-independent, "Library.Name"
    std::string versionedProgId;  // "Library.Name.1"; may be empty
    std::string description;
    GUID typeLib;
    ClassObjectProvider provider;  // empty: registered but cannot be created
};

// Adds or replaces the entry for registration.clsid.
void RegisterClass(ClassRegistration registration);
// Removes the entry; false when none existed.
bool UnregisterClass(REFCLSID clsid);
const ClassRegistration* FindRegisteredClass(REFCLSID clsid);
std::vector<ClassRegistration> RegisteredClasses();  // in registration order

struct TypeLibInterfaceRecord {
    GUID typeLib;
    IID iid;
    std::string name;
};
const std::vector<TypeLibInterfaceRecord>& TypeLibInterfaceRegistrations();

}  // namespace com

// Accepts the version-independent or the versioned ProgID.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
// Gives the version-independent ProgID as task memory; free with CoTaskMemFree.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);
HRESULT CoGetClassObject(REFCLSID clsid, DWORD classContext, void* reserved, REFIID iid, void** out);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD classContext, REFIID iid, void** out);
// Records that the type library declares the interface.
HRESULT RegisterTypeLibInterface(REFGUID typeLib, REFIID iid, const char* name);

inline constexpr DWORD CLSCTX_INPROC_SERVER = 1;
inline constexpr DWORD CLSCTX_ALL = 23;
