// The program's registration: its AppID (run as the interactive user), the Alert class and the
// type library, written and removed through the system's registrar from the scripts embedded in
// the program, for the machine or for the current user only.
#pragma once

#include <windows.h>

namespace ServerRegistration {

enum class Switch { None, RegServer, UnregServer, RegServerPerUser, UnregServerPerUser };

// The first argument that starts with "-" or "/", compared without regard to case.
Switch ParseSwitch(const wchar_t* commandLine);
// The registration work of a switch; S_OK for Switch::None.
HRESULT Apply(Switch what);

}  // namespace ServerRegistration
