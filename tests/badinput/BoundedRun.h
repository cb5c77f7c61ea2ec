// Runs a program for at most a given time, its standard output kept in a file so that a program
// that hangs cannot hold the caller on a pipe.
#pragma once

#include <windows.h>

#include <string>

namespace BadInput {

struct RunOutcome {
  bool finished = false;  // false: ended by force after the time ran out
  DWORD exitCode = ~0u;
  std::string output;
};

RunOutcome RunBounded(const std::wstring& commandLine, DWORD timeoutMs);

// An exit code no program chooses: the system's code for an unhandled exception.
inline bool IsCrash(DWORD exitCode) { return (exitCode & 0xF0000000u) == 0xC0000000u; }

}  // namespace BadInput
