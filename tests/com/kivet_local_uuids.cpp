// Every interface of kivet_local.h is known to __uuidof under its IID_
// constant, so that IID_PPV_ARGS finds it. Checked while this file compiles:
// as part of the COM client by MinGW, which reads __CRT_UUID_DECL, and by
// scripts/test-windows.sh with clang in Microsoft's mode
// (KIVET_MICROSOFT_UUIDS), which reads the identifiers of MIDL_INTERFACE as
// MSVC does.

#include <windows.h>
#include <objbase.h>

#ifdef KIVET_MICROSOFT_UUIDS
// As Microsoft's headers define it, and the compiler's own __uuidof.
#undef MIDL_INTERFACE
#define MIDL_INTERFACE(id) struct __declspec(uuid(id))
#undef __uuidof
#endif

#include "com/kivet_local.h"

namespace {

constexpr bool sameBytes(const unsigned char* a, const unsigned char* b, int count) {
  return count == 0 || (a[0] == b[0] && sameBytes(a + 1, b + 1, count - 1));
}

constexpr bool sameGuid(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 && sameBytes(a.Data4, b.Data4, 8);
}

#define KIVET_EXPECT_UUID(Interface) \
  static_assert(sameGuid(__uuidof(Interface), IID_##Interface), "__uuidof(" #Interface ") is not IID_" #Interface)

KIVET_EXPECT_UUID(ICallback);
KIVET_EXPECT_UUID(ISong);
KIVET_EXPECT_UUID(ISignature);
KIVET_EXPECT_UUID(IIDList);
KIVET_EXPECT_UUID(IResultList);
KIVET_EXPECT_UUID(ISession);
KIVET_EXPECT_UUID(IKivetLocal);

}  // namespace
