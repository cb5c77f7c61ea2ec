// The path, file name and file version of the module that carries this library.
#pragma once

#include <windows.h>

#include <string>

namespace Strata {

struct ModuleVersion {
  std::wstring path;      // full path, at most MAX_PATH characters
  std::wstring fileName;  // the part of the path after the last "\"
  std::wstring version;   // "8.0.1.42" for a "8,0,1,42" file version; empty when it cannot be read
};

// The record of the DLL or program this foundation is linked into, read on first use and kept for
// the life of the process. Safe to call from any thread.
const ModuleVersion& GetModuleVersion();

// Reads the record of any loaded module (not one loaded as a data file).
ModuleVersion ReadModuleVersion(HMODULE module);

// Turns a comma-separated four-part version into the dotted form; any other text is kept as it is.
std::wstring DottedVersion(const std::wstring& fileVersion);

}  // namespace Strata
