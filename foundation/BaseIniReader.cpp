#include "BaseIniReader.h"

#include "FormatText.h"

namespace Strata {
namespace {

constexpr DWORD kDwordTextChars = 16;  // ten digits and room to notice a longer text

// A whole decimal DWORD: digits only, no sign or blanks, no overflow.
bool ParseDword(const wchar_t* text, DWORD* value) {
  ULONGLONG parsed = 0;
  const wchar_t* p = text;
  for (; *p; ++p) {
    if (*p < L'0' || *p > L'9') return false;
    parsed = parsed * 10 + static_cast<ULONGLONG>(*p - L'0');
    if (parsed > MAXDWORD) return false;
  }
  if (p == text) return false;
  *value = static_cast<DWORD>(parsed);
  return true;
}

}  // namespace

bool CBaseIniReader::Load(const wchar_t* path) {
  path_ = path ? path : L"";
  if (path_.empty()) return false;
  DWORD attributes = ::GetFileAttributesW(path_.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CBaseIniReader::ReadDword(const wchar_t* section, const wchar_t* key, DWORD* value) {
  if (path_.empty() || !section || !key || !value) return false;
  wchar_t text[kDwordTextChars];
  DWORD chars = ::GetPrivateProfileStringW(section, key, L"", text, kDwordTextChars, path_.c_str());
  return chars > 0 && chars < kDwordTextChars - 1 && ParseDword(text, value);
}

bool CBaseIniReader::WriteDword(const wchar_t* section, const wchar_t* key, DWORD value) {
  // Without a path the profile functions would write into the Windows folder's win.ini.
  if (path_.empty() || !section || !key) return false;
  wchar_t text[kDwordTextChars];
  FormatInto(text, kDwordTextChars, L"%lu", value);
  return ::WritePrivateProfileStringW(section, key, text, path_.c_str()) != FALSE;
}

}  // namespace Strata
