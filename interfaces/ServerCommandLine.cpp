#include "ServerCommandLine.h"

#include <windows.h>

namespace Ky {

std::wstring ServerPathOfCommandLine(const std::wstring& commandLine) {
  if (!commandLine.empty() && commandLine[0] == L'"') {
    const size_t end = commandLine.find(L'"', 1);
    // Text glued to the closing quote would make the system read another program name.
    if (end == std::wstring::npos || (end + 1 < commandLine.size() && commandLine[end + 1] != L' '))
      return std::wstring();
    return commandLine.substr(1, end - 1);
  }
  std::wstring lower = commandLine;
  if (!lower.empty()) ::CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
  const size_t exe = lower.find(L".exe");
  return exe == std::wstring::npos ? commandLine : commandLine.substr(0, exe + 4);
}

}  // namespace Ky
