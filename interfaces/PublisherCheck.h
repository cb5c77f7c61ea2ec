// Whether a module carries a valid code signature of the product's publisher.
#pragma once

#include <windows.h>

#include <string>

#include "ModuleFileName.h"

namespace Ky {

// What the check makes of a module that carries no signature at all. A product build refuses it;
// a development build, whose own modules are unsigned, accepts it (and says so once in the
// diagnostic log). A broken or foreign signature is refused by both.
enum class UnsignedModules { Refuse, Accept };

// The policy this build was made with.
UnsignedModules BuildUnsignedModulePolicy() noexcept;

// The signer name the check requires, fixed when the product is built.
const wchar_t* ProductPublisherName() noexcept;

// S_OK when the file's Authenticode signature is intact, its signer chains to a root trusted by
// the machine, the signer certificate is meant for code signing and names the product publisher.
// Otherwise the reason: TRUST_E_NOSIGNATURE (unsigned), TRUST_E_BAD_DIGEST (changed after signing),
// CERT_E_UNTRUSTEDROOT or CERT_E_CHAINING (no trusted root), CERT_E_WRONG_USAGE (not a code-signing
// certificate), CERT_E_CN_NO_MATCH (another signer), or the system's error for an unreadable file.
HRESULT CheckPublisher(const wchar_t* filePath,
                       UnsignedModules unsignedPolicy = BuildUnsignedModulePolicy()) noexcept;

// The same check of a file the caller holds open. Holding it open without sharing write or delete
// access keeps the verified file in place until the caller closes it. A file that passed once is
// not verified again for the life of the process, unless it is replaced or written to.
HRESULT CheckPublisherOfOpenFile(const wchar_t* filePath, HANDLE file,
                                 UnsignedModules unsignedPolicy = BuildUnsignedModulePolicy()) noexcept;

// The same check of a module loaded in this process.
HRESULT CheckModulePublisher(HMODULE module, UnsignedModules unsignedPolicy = BuildUnsignedModulePolicy()) noexcept;

// The same check of the module whose code holds `address`: a class object passes its caller's
// return address to learn whether the calling module may create its objects.
HRESULT CheckPublisherOfCode(const void* address,
                             UnsignedModules unsignedPolicy = BuildUnsignedModulePolicy()) noexcept;

// The module that holds the code at `address`, without taking a reference to it; null when no
// module does.
HMODULE ModuleOfCode(const void* address) noexcept;

// The full path of a loaded module; empty when it cannot be had.
using Strata::ModuleFileName;

// A development build writes one warning line saying that it accepts unsigned modules, so that its
// diagnostic log is never taken for a product build's. A product build writes nothing.
void NoteDevelopmentBuild(const wchar_t* sourceFile, const wchar_t* function) noexcept;

}  // namespace Ky
