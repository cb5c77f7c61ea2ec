// An INI file bound to a path, read and written a DWORD at a time through the Windows
// profile-string functions.
#pragma once

#include <windows.h>

#include <string>

namespace Strata {

class CBaseIniReader {
 public:
  CBaseIniReader() = default;
  virtual ~CBaseIniReader() = default;
  CBaseIniReader(const CBaseIniReader&) = delete;
  CBaseIniReader& operator=(const CBaseIniReader&) = delete;

  // Binds the reader to `path` (a full path); returns whether the file exists.
  virtual bool Load(const wchar_t* path);
  // Whether the key is present and holds a decimal DWORD; *value is set only then.
  virtual bool ReadDword(const wchar_t* section, const wchar_t* key, DWORD* value);
  // Creates the file when it is missing (its folder must exist); other sections and keys stay.
  virtual bool WriteDword(const wchar_t* section, const wchar_t* key, DWORD value);

  const std::wstring& Path() const { return path_; }

 private:
  // Set by Load, which the owner calls before it shares the reader between threads.
  std::wstring path_;
};

}  // namespace Strata
