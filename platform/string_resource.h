#pragma once
// String-table resources. A module handle of nullptr names the main module of
// the host process.

#include <string>

namespace platform {

using ModuleHandle = void*;

// Loads string-table entry `id` of `module` into `out`, cut at its first NUL.
// True when a non-empty string was loaded. When the table has a block for `id`
// but no text under it, the result is false and `out` is empty; when there is
// no such block (or the id is above 0xFFFF), false and `out` is left unchanged.
bool loadStringResource(std::string& out, unsigned id, ModuleHandle module);

}  // namespace platform
