#pragma once
// The exported entry points of the in-process server KivetLocal.dll. On
// Windows they leave the library undecorated through kivet_local.def.

#include "platform/com_platform.h"

// Does nothing.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

// S_FALSE while a server lock is held or an object of the server lives, else
// S_OK.
STDAPI DllCanUnloadNow();

// A new class factory of CLSID_KivetLocal, asked for `iid`.
// CLASS_E_CLASSNOTAVAILABLE for another class (the out pointer untouched),
// E_POINTER for an out pointer that cannot be written, E_OUTOFMEMORY.
STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* object);

// Writes HKEY_CLASSES_ROOT\CLSID\{class id}\InprocServer32 with the default
// value "KivetLocal.dll". A failing registry call ends it; its error code is
// returned as a failure HRESULT (HRESULT_FROM_WIN32).
STDAPI DllRegisterServer();

// Deletes the two keys that DllRegisterServer writes, reporting as it does.
STDAPI DllUnregisterServer();
