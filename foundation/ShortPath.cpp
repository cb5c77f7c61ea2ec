#include "ShortPath.h"

#include <windows.h>

#include <vector>

namespace Strata {

std::wstring ShortPath(const std::wstring& path) {
  DWORD chars = ::GetShortPathNameW(path.c_str(), nullptr, 0);
  if (chars == 0) return path;
  std::vector<wchar_t> buffer(chars);
  chars = ::GetShortPathNameW(path.c_str(), buffer.data(), chars);
  return (chars == 0 || chars >= buffer.size()) ? path : std::wstring(buffer.data(), chars);
}

}  // namespace Strata
