#include "FileVersionInfo.h"

#include <cwchar>

#include "FormatText.h"

namespace Strata {

FileVersionInfo::~FileVersionInfo() = default;

bool FileVersionInfo::Load(const wchar_t* path) {
  if (loaded_) return true;
  if (!path) return false;
  DWORD unusedHandle = 0;
  DWORD size = ::GetFileVersionInfoSizeW(path, &unusedHandle);
  if (size == 0) return false;
  std::vector<BYTE> data(size);
  if (!::GetFileVersionInfoW(path, 0, size, data.data())) return false;
  data_ = std::move(data);
  loaded_ = true;
  return true;
}

std::wstring FileVersionInfo::GetString(const wchar_t* name) const {
  std::wstring text;
  for (const Translation& translation : Translations()) {
    if (FindString(translation, name, &text)) break;
  }
  return text;
}

std::vector<FileVersionInfo::Translation> FileVersionInfo::Translations() const {
  void* value = nullptr;
  UINT length = 0;
  if (!Query(L"\\VarFileInfo\\Translation", &value, &length)) return {};
  const Translation* first = static_cast<const Translation*>(value);
  return std::vector<Translation>(first, first + length / sizeof(Translation));
}

std::wstring FileVersionInfo::GetString(const Translation& translation, const wchar_t* name) const {
  std::wstring text;
  FindString(translation, name, &text);
  return text;
}

bool FileVersionInfo::FindString(const Translation& translation, const wchar_t* name, std::wstring* text) const {
  void* value = nullptr;
  UINT length = 0;
  if (!name ||
      !Query(Format(L"\\StringFileInfo\\%04X%04X\\%s", translation.language, translation.codePage, name), &value,
             &length))
    return false;
  const wchar_t* chars = static_cast<const wchar_t*>(value);
  text->assign(chars, ::wcsnlen(chars, length));
  return true;
}

bool FileVersionInfo::Query(const std::wstring& subBlock, void** value, UINT* length) const {
  if (!loaded_) return false;
  return ::VerQueryValueW(data_.data(), subBlock.c_str(), value, length) && *value;
}

bool SystemFileVersionInfo::Load(const wchar_t* fileName) {
  if (IsLoaded()) return true;
  if (!fileName) return false;
  wchar_t folder[MAX_PATH];
  UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  return FileVersionInfo::Load(Format(L"%s\\%s", folder, fileName).c_str());
}

}  // namespace Strata
