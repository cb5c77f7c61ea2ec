// Starts the product's user interface for a chosen alert button. The program is always the one
// registered for the user-interface class (machine classes only, as COM on this platform honours
// no others); the caller's action text only follows it as arguments.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

class CUiLauncher {
 public:
  // `classesKey` is the HKEY_LOCAL_MACHINE key that holds "CLSID"; tests give one of their own.
  explicit CUiLauncher(std::wstring classesKey = L"Software\\Classes") : classesKey_(std::move(classesKey)) {}

  // False (with a diagnostic line) when nothing usable is registered or the start failed.
  bool Launch(const std::wstring& action) const;
  // The registered server's path, from a quoted or an unquoted value; none when absent or too long.
  std::optional<std::wstring> RegisteredPath() const;

  static constexpr size_t kMaxPathChars = MAX_PATH;

 private:
  std::optional<std::wstring> ReadServerValue(const wchar_t* serverKind, REGSAM view) const;

  const std::wstring classesKey_;
};
