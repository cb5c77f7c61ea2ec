// The product's installation directory, which locates the libraries this one loads by path.
#pragma once

#include <optional>
#include <string>

namespace ProductFolder {

// HKEY_LOCAL_MACHINE "Software\Varant\ZEL" value "Install Dir". Nothing when the value is missing,
// is not REG_SZ or REG_EXPAND_SZ, or is stored without its terminating zero; an empty value is an
// empty directory.
std::optional<std::wstring> ReadInstallDir();

// "<dir>\ZelTARN.DLL", or nothing without a directory.
std::optional<std::wstring> BridgeLibraryPath();
// "<short form of dir>\ZelRes2.DLL", or nothing without a usable directory (at most 260 characters).
std::optional<std::wstring> ResourceLibraryPath();
// "<dir>\zel.dll", or nothing without a usable directory (non-empty, at most 260 characters): the
// service's library is loaded by full path only, never found through the search order.
std::optional<std::wstring> ServiceLibraryPath();

}  // namespace ProductFolder
