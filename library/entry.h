// The library's exported entry points.
#pragma once

#include <cstdint>

#include "com/types.h"

#define CARTOVANE_EXPORT extern "C" __attribute__((visibility("default")))

CARTOVANE_EXPORT BOOL DllMain(void* module, DWORD reason, void* reserved);
CARTOVANE_EXPORT HRESULT DllCanUnloadNow();
CARTOVANE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out);
CARTOVANE_EXPORT HRESULT DllRegisterServer();
CARTOVANE_EXPORT HRESULT DllUnregisterServer();
// The text of a message identifier, or null; never throws.
CARTOVANE_EXPORT const char* ID2MessageString(std::int32_t id);

inline constexpr DWORD DLL_PROCESS_DETACH = 0;
inline constexpr DWORD DLL_PROCESS_ATTACH = 1;
inline constexpr DWORD DLL_THREAD_ATTACH = 2;
inline constexpr DWORD DLL_THREAD_DETACH = 3;
