#pragma once
// String-table resources. A module handle of nullptr names the main module of
// the host process.

#include <string>

namespace platform {

using ModuleHandle = void*;

// Loads string-table entry `id` of `module` into `out`, cut at its first NUL.
// True when a non-empty string was loaded; otherwise (no such entry, an empty
// one, an id above 0xFFFF) false and `out` is left unchanged.
bool loadStringResource(std::string& out, unsigned id, ModuleHandle module);

}  // namespace platform
