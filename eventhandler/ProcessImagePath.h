// The full path of a process's program, as the own-client filter of the visited-URL handler needs it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

// Nothing when the process cannot be opened (it has exited, or access is refused) or its path
// cannot be read. At most MAX_PATH characters.
std::optional<std::wstring> ProcessImagePath(DWORD processId);
