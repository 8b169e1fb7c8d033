// The component runtime: per-thread initialisation, object creation through the
// class table, and the task allocator.
#pragma once

#include <cstddef>

#include "platform/com/unknown.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

// Joins the calling thread to the runtime (counted; the argument is unused).
// S_OK the first time on a thread, S_FALSE when already initialised.
HRESULT CoInitialize(void* reserved);
// Balances one CoInitialize of the calling thread.
void CoUninitialize();
// Creates an object of a class from the class table: the built-in classes first,
// then the classes entered in the registry with the path of their shared library.
// CO_E_NOTINITIALIZED on a thread that has not initialised; REGDB_E_CLASSNOTREG
// for an unknown class.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);

void* CoTaskMemAlloc(std::size_t size);
void CoTaskMemFree(void* p);

namespace platform {

// Creates a new object of a built-in class and asks it for riid.
using BuiltinCreator = HRESULT (*)(REFIID riid, void** ppv);

// Enters a built-in class (replacing an earlier entry of the same class).
void RegisterBuiltinClass(REFCLSID clsid, BuiltinCreator creator);
void UnregisterBuiltinClass(REFCLSID clsid);

// True when the calling thread has initialised the runtime.
bool IsComInitialized();

// Looks the class up among the in-process servers entered in the registry and
// creates the object through the server's class factory. REGDB_E_CLASSNOTREG when
// no server is entered for the class.
HRESULT CreateFromInprocServer(REFCLSID clsid, IUnknown* outer, REFIID riid, void** ppv);

}  // namespace platform
