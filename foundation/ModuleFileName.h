// The full path of a loaded module, however long.
#pragma once

#include <windows.h>

#include <string>

namespace Strata {

// The path of `module` (null: the process's program); empty when the system gives none.
std::wstring ModuleFileName(HMODULE module);

}  // namespace Strata
