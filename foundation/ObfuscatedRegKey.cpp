#include "ObfuscatedRegKey.h"

#include <cstring>
#include <new>

#include "Scrambler.h"

namespace Strata {
namespace {

// A null value name is the key's default value, which has the empty name.
std::wstring_view NameOf(const wchar_t* name) { return name ? std::wstring_view(name) : std::wstring_view(); }

}  // namespace

LONG CObfuscatedRegKeyImpl::ReadRaw(const wchar_t* name, DWORD* type, void* data, DWORD* bytes) {
  if (data && !bytes) return ERROR_INVALID_PARAMETER;
  try {
    std::vector<BYTE> stored;
    DWORD storedType = REG_NONE;
    LONG result = ReadStored(name, &storedType, stored);
    if (result != ERROR_SUCCESS) return result;
    DWORD valueType = REG_NONE;
    std::vector<BYTE> value;
    if (storedType != REG_BINARY || !Scrambler::Open(NameOf(name), stored.data(), stored.size(), &valueType, &value))
      return ERROR_INVALID_DATA;
    if (type) *type = valueType;
    if (!bytes) return ERROR_SUCCESS;
    DWORD size = static_cast<DWORD>(value.size());  // shorter than the stored frame
    bool fits = data && *bytes >= size;
    if (fits && size > 0) std::memcpy(data, value.data(), size);
    *bytes = size;
    return fits || !data ? ERROR_SUCCESS : ERROR_MORE_DATA;
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}

LONG CObfuscatedRegKeyImpl::WriteRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  try {
    std::vector<BYTE> sealed = Scrambler::Seal(NameOf(name), type, data, bytes);
    if (sealed.size() > MAXDWORD) return ERROR_INVALID_PARAMETER;
    return CRegKeyImpl::WriteRaw(name, REG_BINARY, sealed.data(), static_cast<DWORD>(sealed.size()));
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}

CObfuscatedRegKey::CObfuscatedRegKey() : CRegKey(std::make_shared<CObfuscatedRegKeyImpl>()) {}

}  // namespace Strata
