// The program or library a class registration names: the value of "InprocServer32" or
// "LocalServer32" is a command line, quoted when its path holds blanks (as the product writes it)
// or, as older registrations have it, unquoted.
#pragma once

#include <string>

namespace Ky {

// The path at the head of a registered server value: inside its quotes when it starts with one,
// else up to the first ".exe" (an executable's value may carry arguments after it), else the
// whole value. Empty for a quote that is never closed or closed inside a word.
std::wstring ServerPathOfCommandLine(const std::wstring& commandLine);

}  // namespace Ky
