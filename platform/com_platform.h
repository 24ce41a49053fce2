#pragma once
// What the COM server needs of the operating system: IUnknown and
// IClassFactory, GUIDs, HRESULTs, BSTRs, the ANSI code-page conversions, the
// registry under HKEY_CLASSES_ROOT and the out-pointer check. On Windows these
// are the system's own headers (and ole32, oleaut32, advapi32 and uuid behind
// them); elsewhere our stand-ins, which give the same names the same contracts
// for what the server uses of them.

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#else

#include "platform/windows_types.h"
#include "platform/bstr.h"
#include "platform/code_page.h"
#include "platform/registry.h"

#endif
