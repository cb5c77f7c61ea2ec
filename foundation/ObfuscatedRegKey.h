// A registry key whose values are kept in scrambled form (see Scrambler.h), so that registry
// editors do not show them in clear. A value not written through this class reads as
// ERROR_INVALID_DATA (13).
#pragma once

#include "RegKey.h"

namespace Strata {

// Reads and writes every value through the scrambler; the rest is the plain implementation.
class CObfuscatedRegKeyImpl : public internal::CRegKeyImpl {
 protected:
  LONG ReadRaw(const wchar_t* name, DWORD* type, void* data, DWORD* bytes) override;
  LONG WriteRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes) override;
};

class CObfuscatedRegKey : public CRegKey {
 public:
  CObfuscatedRegKey();
};

}  // namespace Strata
