// The product's user interface stand-in: the program the alerter starts for a chosen alert
// button. It shows nothing; it records how it was started under
// HKEY_LOCAL_MACHINE\Software\ZelStandIns\ProductUi: "CommandLine" (its arguments, the button's
// action) and "Starts" (how often it ran).
//   ZelUi.exe [ACTION...]
#include <windows.h>

#include <string>

#include "StandInKnobs.h"

namespace {

// The command line after the program's own name, quoted or not.
std::wstring Arguments(const wchar_t* commandLine) {
  const wchar_t* at = commandLine;
  const bool quoted = *at == L'"';
  for (at += quoted ? 1 : 0; *at && *at != (quoted ? L'"' : L' '); ++at) {
  }
  if (*at == L'"') ++at;
  while (*at == L' ') ++at;
  return at;
}

}  // namespace

int wmain() {
  const std::wstring key = ZelStandIns::StandInKnobs::KeyPath(L"ProductUi");
  const std::wstring arguments = Arguments(::GetCommandLineW());
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"CommandLine", REG_SZ, arguments.c_str(),
                    static_cast<DWORD>((arguments.size() + 1) * sizeof(wchar_t)));
  DWORD starts = ZelStandIns::StandInKnobs(L"ProductUi").ReadDword(L"Starts").value_or(0) + 1;
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Starts", REG_DWORD, &starts, sizeof(starts));
  return 0;
}
