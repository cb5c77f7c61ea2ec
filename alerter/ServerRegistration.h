// The program's registration: its AppID (run as the interactive user), the Alert class and the
// type library, written and removed through the system's registrar from the scripts embedded in
// the program, for the machine or for the current user only.
#pragma once

#include <windows.h>

#include <string>

namespace ServerRegistration {

enum class Switch { None, RegServer, UnregServer, RegServerPerUser, UnregServerPerUser };

// The first argument that starts with "-" or "/", compared without regard to case.
Switch ParseSwitch(const wchar_t* commandLine);
// The program's command line as the class script writes it: quoted, since COM would otherwise try
// each blank-separated head of an unquoted path ("C:\Program.exe" first) as the program, and with
// every "'" doubled, as the script's quoted texts need.
std::wstring LocalServerScriptText(const std::wstring& programPath);
// The registration work of a switch; S_OK for Switch::None.
HRESULT Apply(Switch what);

}  // namespace ServerRegistration
