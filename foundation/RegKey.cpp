#include "RegKey.h"

#include <objbase.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <new>

#include "StrataLogger.h"

namespace Strata {
namespace internal {
namespace {

constexpr REGSAM kViewBits = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
constexpr DWORD kKeyNameChars = 256;  // the longest key name, 255 characters, and its terminator
constexpr ULONG kMaxGuidTextChars = 64;
// A value that another writer keeps growing between the size query and the read is given up on.
constexpr int kReadAttempts = 4;
constexpr wchar_t kSource[] = L"RegKey";

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// The access-control list that SecureKey applies: the system and administrators may do anything,
// users may read. Protected, so nothing is inherited from above; subkeys created later inherit it.
const wchar_t* GeneratedKeySecurity() { return L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)"; }

// Opens `subkey` of `parent` for a change of its access-control list and applies `descriptor`,
// then does the same for every key below when `includeSubkeys` is set.
LONG ApplyKeySecurity(HKEY parent, const wchar_t* subkey, PSECURITY_DESCRIPTOR descriptor, REGSAM view,
                      bool includeSubkeys) {
  UniqueHkey key;
  LONG result = ::RegOpenKeyExW(parent, subkey, 0, READ_CONTROL | WRITE_DAC | KEY_ENUMERATE_SUB_KEYS | view,
                                key.put());
  if (result == ERROR_SUCCESS) result = ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor);
  for (DWORD index = 0; result == ERROR_SUCCESS && includeSubkeys; ++index) {
    wchar_t name[kKeyNameChars];
    DWORD chars = kKeyNameChars;
    result = ::RegEnumKeyExW(key.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (result == ERROR_SUCCESS) result = ApplyKeySecurity(key.get(), name, descriptor, view, true);
  }
  return result;
}

// Deletes `subkey` of `parent` and everything below it, depth first, all in one registry view.
LONG DeleteKeyAndSubtree(HKEY parent, const wchar_t* subkey, REGSAM view) {
  UniqueHkey key;
  LONG result = ::RegOpenKeyExW(parent, subkey, 0, KEY_READ | KEY_WRITE | view, key.put());
  while (result == ERROR_SUCCESS) {
    // Each pass removes the first child, so index 0 always names one that is still there.
    wchar_t name[kKeyNameChars];
    DWORD chars = kKeyNameChars;
    result = ::RegEnumKeyExW(key.get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) {
      key.reset();
      return ::RegDeleteKeyExW(parent, subkey, view, 0);
    }
    if (result == ERROR_SUCCESS) result = DeleteKeyAndSubtree(key.get(), name, view);
  }
  return result;
}

// Reads a whole value through `read` (RegQueryValueExW's contract): asks its size, then reads it.
template <typename Read>
LONG ReadWholeWith(Read read, DWORD* type, std::vector<BYTE>& data) {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    DWORD bytes = 0;
    LONG result = read(type, nullptr, &bytes);
    if (result != ERROR_SUCCESS) return result;
    data.resize(bytes);
    result = read(type, data.data(), &bytes);
    if (result == ERROR_MORE_DATA) continue;
    if (result == ERROR_SUCCESS) data.resize(bytes);
    return result;
  }
  return ERROR_MORE_DATA;
}

// Checks a text value read into `buffer` (`bytes` long): a whole number of characters ending in
// `terminators` zero characters. Returns the length in characters, terminators included, or 0.
ULONG CheckedTextLength(const wchar_t* buffer, DWORD bytes, ULONG terminators) {
  if (bytes % sizeof(wchar_t) != 0) return 0;
  ULONG chars = bytes / sizeof(wchar_t);
  if (chars < terminators) return 0;
  for (ULONG i = chars - terminators; i < chars; ++i)
    if (buffer[i] != L'\0') return 0;
  return chars;
}

}  // namespace

CRegKeyImpl::~CRegKeyImpl() { Close(); }

LONG CRegKeyImpl::QueryValue(const wchar_t* name, DWORD* type, void* data, DWORD* bytes) {
  if (data && !bytes) return ERROR_INVALID_PARAMETER;
  return ReadRaw(name, type, data, bytes);
}

LONG CRegKeyImpl::SetValue(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  if (!data || bytes == 0) return ERROR_INVALID_PARAMETER;
  return WriteRaw(name, type, data, bytes);
}

LONG CRegKeyImpl::SetGUIDValue(const wchar_t* name, REFGUID value) {
  wchar_t text[39];
  ::StringFromGUID2(value, text, 39);
  return SetStringValue(name, text, REG_SZ);
}

LONG CRegKeyImpl::SetBinaryValue(const wchar_t* name, const void* data, DWORD bytes) {
  return SetValue(name, REG_BINARY, data, bytes);
}

LONG CRegKeyImpl::SetDWORDValue(const wchar_t* name, DWORD value) {
  return SetValue(name, REG_DWORD, &value, sizeof(value));
}

LONG CRegKeyImpl::SetQWORDValue(const wchar_t* name, ULONGLONG value) {
  return SetValue(name, REG_QWORD, &value, sizeof(value));
}

LONG CRegKeyImpl::SetStringValue(const wchar_t* name, const wchar_t* text, DWORD type) {
  if (!text) return ERROR_INVALID_DATA;
  if (!IsStringType(type)) return ERROR_INVALID_PARAMETER;
  size_t chars = std::wcslen(text) + 1;
  if (chars > MAXDWORD / sizeof(wchar_t)) return ERROR_INVALID_PARAMETER;
  return SetValue(name, type, text, static_cast<DWORD>(chars * sizeof(wchar_t)));
}

LONG CRegKeyImpl::SetMultiStringValue(const wchar_t* name, const wchar_t* texts) {
  if (!texts) return ERROR_INVALID_DATA;
  const wchar_t* end = texts;
  while (*end) end += std::wcslen(end) + 1;
  size_t chars = static_cast<size_t>(end - texts) + 1;
  // An empty list still gets its two terminators, or it would not read back as a list.
  static const wchar_t kEmptyList[2] = {L'\0', L'\0'};
  if (chars == 1) return SetValue(name, REG_MULTI_SZ, kEmptyList, sizeof(kEmptyList));
  if (chars > MAXDWORD / sizeof(wchar_t)) return ERROR_INVALID_PARAMETER;
  return SetValue(name, REG_MULTI_SZ, texts, static_cast<DWORD>(chars * sizeof(wchar_t)));
}

LONG CRegKeyImpl::QueryGUIDValue(const wchar_t* name, GUID& value) {
  value = GUID_NULL;
  wchar_t text[kMaxGuidTextChars + 1];
  ULONG chars = kMaxGuidTextChars + 1;
  LONG result = QueryStringValue(name, text, &chars);
  if (result == ERROR_MORE_DATA) return ERROR_INVALID_DATA;
  if (result != ERROR_SUCCESS) return result;
  // IIDFromString reads only the braced form; anything else could be taken for a ProgID.
  if (text[0] != L'{' || FAILED(::IIDFromString(text, &value))) {
    value = GUID_NULL;
    return ERROR_INVALID_DATA;
  }
  return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryBinaryValue(const wchar_t* name, void* data, DWORD* bytes) {
  if (!bytes) return ERROR_INVALID_PARAMETER;
  DWORD type = REG_NONE;
  LONG result = ReadRaw(name, &type, data, bytes);
  if ((result == ERROR_SUCCESS || result == ERROR_MORE_DATA) && type != REG_BINARY) return ERROR_INVALID_DATA;
  return result;
}

LONG CRegKeyImpl::QueryDWORDValue(const wchar_t* name, DWORD& value) {
  return QueryFixed(name, REG_DWORD, &value, sizeof(value));
}

LONG CRegKeyImpl::QueryQWORDValue(const wchar_t* name, ULONGLONG& value) {
  return QueryFixed(name, REG_QWORD, &value, sizeof(value));
}

LONG CRegKeyImpl::QueryFixed(const wchar_t* name, DWORD expectedType, void* value, DWORD size) {
  BYTE buffer[sizeof(ULONGLONG)];
  DWORD type = REG_NONE;
  DWORD bytes = size;
  LONG result = ReadRaw(name, &type, buffer, &bytes);
  if (result == ERROR_MORE_DATA) return ERROR_INVALID_DATA;
  if (result != ERROR_SUCCESS) return result;
  if (type != expectedType || bytes != size) return ERROR_INVALID_DATA;
  std::memcpy(value, buffer, size);
  return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryStringValue(const wchar_t* name, std::wstring& value) {
  try {
    std::vector<BYTE> data;
    DWORD type = REG_NONE;
    LONG result = ReadWhole(name, &type, data);
    if (result != ERROR_SUCCESS) return result;
    if (!IsStringType(type)) return ERROR_INVALID_DATA;
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(&text[0], data.data(), text.size() * sizeof(wchar_t));
    ULONG chars = CheckedTextLength(text.c_str(), static_cast<DWORD>(data.size()), 1);
    if (chars == 0) return ERROR_INVALID_DATA;
    text.resize(chars - 1);
    value.swap(text);
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}

LONG CRegKeyImpl::QueryStringValue(const wchar_t* name, wchar_t* buffer, ULONG* chars) {
  return QueryText(name, false, buffer, chars);
}

LONG CRegKeyImpl::QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, ULONG* chars) {
  if (chars && buffer && *chars < 2) return ERROR_INSUFFICIENT_BUFFER;
  return QueryText(name, true, buffer, chars);
}

LONG CRegKeyImpl::QueryText(const wchar_t* name, bool multi, wchar_t* buffer, ULONG* chars) {
  if (!chars) return ERROR_INVALID_PARAMETER;
  ULONG capacity = buffer ? *chars : 0;
  DWORD bytes = static_cast<DWORD>(std::min<ULONGLONG>(ULONGLONG{capacity} * sizeof(wchar_t), MAXDWORD - 1));
  DWORD type = REG_NONE;
  LONG result = ReadRaw(name, &type, buffer, &bytes);
  bool typeFits = multi ? type == REG_MULTI_SZ : IsStringType(type);
  if ((result == ERROR_SUCCESS || result == ERROR_MORE_DATA) && !typeFits) result = ERROR_INVALID_DATA;
  if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) *chars = (bytes + 1) / sizeof(wchar_t);
  if (result == ERROR_SUCCESS && buffer) {
    ULONG length = CheckedTextLength(buffer, bytes, multi ? 2 : 1);
    if (length == 0) result = ERROR_INVALID_DATA;
  }
  // A caller that ignores the code still never meets an unterminated text.
  if (result != ERROR_SUCCESS && capacity > 0) buffer[0] = L'\0';
  return result;
}

LONG CRegKeyImpl::GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor,
                                 DWORD* bytes) {
  if (!bytes) return ERROR_INVALID_PARAMETER;
  std::shared_lock<SlimLock> lock(guard_);
  if (!key_) return ERROR_INVALID_PARAMETER;
  return ::RegGetKeySecurity(key_.get(), information, descriptor, bytes);
}

LONG CRegKeyImpl::SetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor) {
  if (!descriptor) return ERROR_INVALID_PARAMETER;
  std::shared_lock<SlimLock> lock(guard_);
  if (!key_) return ERROR_INVALID_PARAMETER;
  return ::RegSetKeySecurity(key_.get(), information, descriptor);
}

LONG CRegKeyImpl::Create(HKEY parent, const wchar_t* subkey, wchar_t* cls, DWORD options, REGSAM access,
                         SECURITY_ATTRIBUTES* sa, DWORD* disposition) {
  if (!parent || !subkey) return ERROR_INVALID_PARAMETER;
  // The key held before goes whatever the outcome: reads after a failed create never reach it.
  Close();
  UniqueHkey key;
  LONG result = ::RegCreateKeyExW(parent, subkey, 0, cls, options, access, sa, key.put(), disposition);
  if (result == ERROR_SUCCESS) TakeKey(std::move(key), access);
  return result;
}

LONG CRegKeyImpl::Open(HKEY parent, const wchar_t* subkey, REGSAM access) {
  if (!parent || !subkey) return ERROR_INVALID_PARAMETER;
  Close();  // as for Create
  UniqueHkey key;
  LONG result = ::RegOpenKeyExW(parent, subkey, 0, access, key.put());
  if (result == ERROR_SUCCESS) TakeKey(std::move(key), access);
  return result;
}

LONG CRegKeyImpl::Flush() {
  std::shared_lock<SlimLock> lock(guard_);
  if (!key_) return ERROR_INVALID_PARAMETER;
  return ::RegFlushKey(key_.get());
}

LONG CRegKeyImpl::EnumKey(DWORD index, wchar_t* name, DWORD* chars, FILETIME* lastWrite) {
  if (!name || !chars) return ERROR_INVALID_PARAMETER;
  std::shared_lock<SlimLock> lock(guard_);
  if (!key_) return ERROR_INVALID_PARAMETER;
  return ::RegEnumKeyExW(key_.get(), index, name, chars, nullptr, nullptr, nullptr, lastWrite);
}

LONG CRegKeyImpl::NotifyChangeKeyValue(bool watchSubtree, DWORD filter, HANDLE event, bool async) {
  if (async && !event) return ERROR_INVALID_PARAMETER;
  std::shared_lock<SlimLock> lock(guard_);
  HKEY key = key_.get();
  if (!key) return ERROR_INVALID_PARAMETER;
  // A synchronous watch waits without the guard, so that closing the key (which ends the wait)
  // is not held up by it.
  if (!async) lock.unlock();
  return ::RegNotifyChangeKeyValue(key, watchSubtree, filter, event, async);
}

LONG CRegKeyImpl::DeleteSubKey(const wchar_t* subkey) {
  if (!subkey || !*subkey) return ERROR_INVALID_PARAMETER;
  std::shared_lock<SlimLock> lock(guard_);
  if (!key_) return ERROR_INVALID_PARAMETER;
  return ::RegDeleteKeyExW(key_.get(), subkey, view_, 0);
}

LONG CRegKeyImpl::RecurseDeleteKey(const wchar_t* subkey) {
  if (!subkey || !*subkey) return ERROR_INVALID_PARAMETER;
  std::shared_lock<SlimLock> lock(guard_);
  if (!key_) return ERROR_INVALID_PARAMETER;
  return DeleteKeyAndSubtree(key_.get(), subkey, view_);
}

LONG CRegKeyImpl::DeleteValue(const wchar_t* name) {
  std::shared_lock<SlimLock> lock(guard_);
  if (!key_) return ERROR_INVALID_PARAMETER;
  return ::RegDeleteValueW(key_.get(), name);
}

LONG CRegKeyImpl::SecureKey(bool includeSubkeys) {
  UniqueLocalMem descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          GeneratedKeySecurity(), SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()),
          nullptr))
    return static_cast<LONG>(::GetLastError());
  std::shared_lock<SlimLock> lock(guard_);
  if (!key_) return ERROR_INVALID_PARAMETER;
  LONG result = ApplyKeySecurity(key_.get(), L"", descriptor.get(), view_, includeSubkeys);
  if (result != ERROR_SUCCESS)
    LogStrata(kStrataError, kSource, L"Strata::internal::CRegKeyImpl::SecureKey", __LINE__,
              L"Securing the key failed (%ld)\r\n", result);
  return result;
}

LONG CRegKeyImpl::Close() {
  std::unique_lock<SlimLock> lock(guard_);
  return CloseLocked();
}

HKEY CRegKeyImpl::Handle() const {
  std::shared_lock<SlimLock> lock(guard_);
  return key_.get();
}

void CRegKeyImpl::SetDeleteOnClose(bool deleteOnClose) {
  std::unique_lock<SlimLock> lock(guard_);
  deleteOnClose_ = deleteOnClose;
}

LONG CRegKeyImpl::ReadRaw(const wchar_t* name, DWORD* type, void* data, DWORD* bytes) {
  std::shared_lock<SlimLock> lock(guard_);
  if (!key_) return ERROR_INVALID_PARAMETER;
  return ::RegQueryValueExW(key_.get(), name, nullptr, type, static_cast<BYTE*>(data), bytes);
}

LONG CRegKeyImpl::WriteRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  std::shared_lock<SlimLock> lock(guard_);
  if (!key_) return ERROR_INVALID_PARAMETER;
  return ::RegSetValueExW(key_.get(), name, 0, type, static_cast<const BYTE*>(data), bytes);
}

LONG CRegKeyImpl::ReadStored(const wchar_t* name, DWORD* type, std::vector<BYTE>& data) {
  auto read = [this, name](DWORD* t, void* d, DWORD* b) { return CRegKeyImpl::ReadRaw(name, t, d, b); };
  return ReadWholeWith(read, type, data);
}

LONG CRegKeyImpl::ReadWhole(const wchar_t* name, DWORD* type, std::vector<BYTE>& data) {
  auto read = [this, name](DWORD* t, void* d, DWORD* b) { return ReadRaw(name, t, d, b); };
  return ReadWholeWith(read, type, data);
}

void CRegKeyImpl::TakeKey(UniqueHkey key, REGSAM access) {
  std::unique_lock<SlimLock> lock(guard_);
  CloseLocked();
  key_ = std::move(key);
  view_ = access & kViewBits;
}

LONG CRegKeyImpl::CloseLocked() {
  LONG result = ERROR_SUCCESS;
  if (key_ && deleteOnClose_) {
    result = ::RegDeleteTreeW(key_.get(), nullptr);
    if (result != ERROR_SUCCESS)
      LogStrata(kStrataError, kSource, L"Strata::internal::CRegKeyImpl::Close", __LINE__,
                L"Deleting the contents of a delete-on-close key failed (%ld)\r\n", result);
  }
  deleteOnClose_ = false;
  view_ = 0;
  HKEY key = key_.release();
  LONG closed = key ? ::RegCloseKey(key) : ERROR_SUCCESS;
  return result != ERROR_SUCCESS ? result : closed;
}

}  // namespace internal

CRegKey::CRegKey() : impl_(std::make_shared<internal::CRegKeyImpl>()) {}
CRegKey::CRegKey(std::shared_ptr<internal::CRegKeyImpl> impl) : impl_(std::move(impl)) {}
CRegKey::~CRegKey() = default;

LONG CRegKey::QueryValue(const wchar_t* name, DWORD* type, void* data, DWORD* bytes) {
  return impl_->QueryValue(name, type, data, bytes);
}
LONG CRegKey::SetValue(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  return impl_->SetValue(name, type, data, bytes);
}
LONG CRegKey::SetGUIDValue(const wchar_t* name, REFGUID value) { return impl_->SetGUIDValue(name, value); }
LONG CRegKey::SetBinaryValue(const wchar_t* name, const void* data, DWORD bytes) {
  return impl_->SetBinaryValue(name, data, bytes);
}
LONG CRegKey::SetDWORDValue(const wchar_t* name, DWORD value) { return impl_->SetDWORDValue(name, value); }
LONG CRegKey::SetQWORDValue(const wchar_t* name, ULONGLONG value) { return impl_->SetQWORDValue(name, value); }
LONG CRegKey::SetStringValue(const wchar_t* name, const wchar_t* text, DWORD type) {
  return impl_->SetStringValue(name, text, type);
}
LONG CRegKey::SetMultiStringValue(const wchar_t* name, const wchar_t* texts) {
  return impl_->SetMultiStringValue(name, texts);
}
LONG CRegKey::QueryGUIDValue(const wchar_t* name, GUID& value) { return impl_->QueryGUIDValue(name, value); }
LONG CRegKey::QueryBinaryValue(const wchar_t* name, void* data, DWORD* bytes) {
  return impl_->QueryBinaryValue(name, data, bytes);
}
LONG CRegKey::QueryDWORDValue(const wchar_t* name, DWORD& value) { return impl_->QueryDWORDValue(name, value); }
LONG CRegKey::QueryQWORDValue(const wchar_t* name, ULONGLONG& value) {
  return impl_->QueryQWORDValue(name, value);
}
LONG CRegKey::QueryStringValue(const wchar_t* name, std::wstring& value) {
  return impl_->QueryStringValue(name, value);
}
LONG CRegKey::QueryStringValue(const wchar_t* name, wchar_t* buffer, ULONG* chars) {
  return impl_->QueryStringValue(name, buffer, chars);
}
LONG CRegKey::QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, ULONG* chars) {
  return impl_->QueryMultiStringValue(name, buffer, chars);
}
LONG CRegKey::GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor, DWORD* bytes) {
  return impl_->GetKeySecurity(information, descriptor, bytes);
}
LONG CRegKey::SetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor) {
  return impl_->SetKeySecurity(information, descriptor);
}
LONG CRegKey::Create(HKEY parent, const wchar_t* subkey, wchar_t* cls, DWORD options, REGSAM access,
                     SECURITY_ATTRIBUTES* sa, DWORD* disposition) {
  return impl_->Create(parent, subkey, cls, options, access, sa, disposition);
}
LONG CRegKey::Open(HKEY parent, const wchar_t* subkey, REGSAM access) { return impl_->Open(parent, subkey, access); }
LONG CRegKey::Flush() { return impl_->Flush(); }
LONG CRegKey::EnumKey(DWORD index, wchar_t* name, DWORD* chars, FILETIME* lastWrite) {
  return impl_->EnumKey(index, name, chars, lastWrite);
}
LONG CRegKey::NotifyChangeKeyValue(bool watchSubtree, DWORD filter, HANDLE event, bool async) {
  return impl_->NotifyChangeKeyValue(watchSubtree, filter, event, async);
}
LONG CRegKey::DeleteSubKey(const wchar_t* subkey) { return impl_->DeleteSubKey(subkey); }
LONG CRegKey::RecurseDeleteKey(const wchar_t* subkey) { return impl_->RecurseDeleteKey(subkey); }
LONG CRegKey::DeleteValue(const wchar_t* name) { return impl_->DeleteValue(name); }
LONG CRegKey::SecureKey(bool includeSubkeys) { return impl_->SecureKey(includeSubkeys); }

LONG CRegKey::Close() { return impl_->Close(); }
HKEY CRegKey::Handle() const { return impl_->Handle(); }
void CRegKey::SetDeleteOnClose(bool deleteOnClose) { impl_->SetDeleteOnClose(deleteOnClose); }

}  // namespace Strata
