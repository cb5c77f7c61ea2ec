// A registry key: the Windows registry calls with value-type, terminator and GUID-text checks added.
//
// Every operation returns 0 or a Windows error code. ERROR_INVALID_PARAMETER (87) means that no
// key is open or an argument is missing; ERROR_INVALID_DATA (13) that a stored value has the wrong
// type, size or form. Value names may be null, which names the key's default value.
#pragma once

#include <windows.h>

#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "Handles.h"
#include "SlimLock.h"

namespace Strata {

namespace internal {

// The state behind a CRegKey and all of its copies. Every typed operation is built on the two
// raw operations ReadRaw and WriteRaw, so a derived implementation that changes how values are
// stored overrides only those two.
class CRegKeyImpl {
 public:
  CRegKeyImpl() = default;
  virtual ~CRegKeyImpl();
  CRegKeyImpl(const CRegKeyImpl&) = delete;
  CRegKeyImpl& operator=(const CRegKeyImpl&) = delete;

  LONG QueryValue(const wchar_t* name, DWORD* type, void* data, DWORD* bytes);
  LONG SetValue(const wchar_t* name, DWORD type, const void* data, DWORD bytes);
  LONG SetGUIDValue(const wchar_t* name, REFGUID value);
  LONG SetBinaryValue(const wchar_t* name, const void* data, DWORD bytes);
  LONG SetDWORDValue(const wchar_t* name, DWORD value);
  LONG SetQWORDValue(const wchar_t* name, ULONGLONG value);
  LONG SetStringValue(const wchar_t* name, const wchar_t* text, DWORD type);
  LONG SetMultiStringValue(const wchar_t* name, const wchar_t* texts);
  LONG QueryGUIDValue(const wchar_t* name, GUID& value);
  LONG QueryBinaryValue(const wchar_t* name, void* data, DWORD* bytes);
  LONG QueryDWORDValue(const wchar_t* name, DWORD& value);
  LONG QueryQWORDValue(const wchar_t* name, ULONGLONG& value);
  LONG QueryStringValue(const wchar_t* name, std::wstring& value);
  LONG QueryStringValue(const wchar_t* name, wchar_t* buffer, ULONG* chars);
  LONG QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, ULONG* chars);
  LONG GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor, DWORD* bytes);
  LONG SetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor);
  LONG Create(HKEY parent, const wchar_t* subkey, wchar_t* cls, DWORD options, REGSAM access,
              SECURITY_ATTRIBUTES* sa, DWORD* disposition);
  LONG Open(HKEY parent, const wchar_t* subkey, REGSAM access);
  LONG Flush();
  LONG EnumKey(DWORD index, wchar_t* name, DWORD* chars, FILETIME* lastWrite);
  LONG NotifyChangeKeyValue(bool watchSubtree, DWORD filter, HANDLE event, bool async);
  LONG DeleteSubKey(const wchar_t* subkey);
  LONG RecurseDeleteKey(const wchar_t* subkey);
  LONG DeleteValue(const wchar_t* name);
  LONG SecureKey(bool includeSubkeys);

  LONG Close();
  HKEY Handle() const;
  void SetDeleteOnClose(bool deleteOnClose);

 protected:
  // The value as the caller sees it, with RegQueryValueExW's contract (data null asks for the size).
  virtual LONG ReadRaw(const wchar_t* name, DWORD* type, void* data, DWORD* bytes);
  // Stores the value as the caller gave it.
  virtual LONG WriteRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes);
  // The value exactly as the registry holds it, whatever its length.
  LONG ReadStored(const wchar_t* name, DWORD* type, std::vector<BYTE>& data);

 private:
  LONG ReadWhole(const wchar_t* name, DWORD* type, std::vector<BYTE>& data);
  LONG QueryFixed(const wchar_t* name, DWORD expectedType, void* value, DWORD size);
  LONG QueryText(const wchar_t* name, bool multi, wchar_t* buffer, ULONG* chars);
  // Closes the current key (honouring delete-on-close) and keeps `key` with the view bits of `access`.
  void TakeKey(UniqueHkey key, REGSAM access);
  LONG CloseLocked();

  // guard_ guards key_, view_ and deleteOnClose_: shared while the handle is used, exclusive while
  // it is replaced or closed. Only the leaf operations that touch the handle take it.
  mutable SlimLock guard_;
  UniqueHkey key_;
  REGSAM view_ = 0;  // KEY_WOW64_32KEY or KEY_WOW64_64KEY from the access mask that opened key_
  bool deleteOnClose_ = false;
};

}  // namespace internal

// A handle on a shared key implementation: copies see the same open key. One CRegKey object is
// used by one thread at a time; copies of it may be used on different threads, since the shared
// implementation guards itself.
class CRegKey {
 public:
  CRegKey();
  virtual ~CRegKey();
  CRegKey(const CRegKey&) = default;
  CRegKey& operator=(const CRegKey&) = default;

  virtual LONG QueryValue(const wchar_t* name, DWORD* type, void* data, DWORD* bytes);
  // 87 when data is null or bytes is 0.
  virtual LONG SetValue(const wchar_t* name, DWORD type, const void* data, DWORD bytes);
  // Stored as the GUID's text in braces.
  virtual LONG SetGUIDValue(const wchar_t* name, REFGUID value);
  virtual LONG SetBinaryValue(const wchar_t* name, const void* data, DWORD bytes);
  virtual LONG SetDWORDValue(const wchar_t* name, DWORD value);
  virtual LONG SetQWORDValue(const wchar_t* name, ULONGLONG value);
  // 13 when text is null; type is REG_SZ or REG_EXPAND_SZ.
  virtual LONG SetStringValue(const wchar_t* name, const wchar_t* text, DWORD type = REG_SZ);
  // texts: strings one after another, the list ended by an empty string; 13 when null.
  virtual LONG SetMultiStringValue(const wchar_t* name, const wchar_t* texts);
  // Zeroes value, then reads a text of at most 64 characters in braces; 13 for anything else.
  virtual LONG QueryGUIDValue(const wchar_t* name, GUID& value);
  virtual LONG QueryBinaryValue(const wchar_t* name, void* data, DWORD* bytes);
  virtual LONG QueryDWORDValue(const wchar_t* name, DWORD& value);
  virtual LONG QueryQWORDValue(const wchar_t* name, ULONGLONG& value);
  // Any length; 14 when memory runs out.
  virtual LONG QueryStringValue(const wchar_t* name, std::wstring& value);
  // chars: capacity in, length with terminator out (or the capacity needed, with ERROR_MORE_DATA).
  virtual LONG QueryStringValue(const wchar_t* name, wchar_t* buffer, ULONG* chars);
  // As above, for a list ended by two terminators; 122 when the buffer holds fewer than 2 characters.
  virtual LONG QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, ULONG* chars);
  virtual LONG GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor, DWORD* bytes);
  virtual LONG SetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor);
  // Create and Open close the current key only once the new one is open.
  virtual LONG Create(HKEY parent, const wchar_t* subkey, wchar_t* cls = REG_NONE,
                      DWORD options = REG_OPTION_NON_VOLATILE, REGSAM access = KEY_READ | KEY_WRITE,
                      SECURITY_ATTRIBUTES* sa = nullptr, DWORD* disposition = nullptr);
  virtual LONG Open(HKEY parent, const wchar_t* subkey, REGSAM access = KEY_READ | KEY_WRITE);
  virtual LONG Flush();
  virtual LONG EnumKey(DWORD index, wchar_t* name, DWORD* chars, FILETIME* lastWrite = nullptr);
  virtual LONG NotifyChangeKeyValue(bool watchSubtree, DWORD filter, HANDLE event, bool async = true);
  // Deletes in the registry view the key was opened in.
  virtual LONG DeleteSubKey(const wchar_t* subkey);
  virtual LONG RecurseDeleteKey(const wchar_t* subkey);
  virtual LONG DeleteValue(const wchar_t* name);
  // Replaces the key's access-control list (and its subkeys' too, when asked) with a protected one.
  virtual LONG SecureKey(bool includeSubkeys);

  LONG Close();
  // The open key (null when closed); it stays owned by this object.
  HKEY Handle() const;
  // When set, closing the key first deletes its values and subkeys. Cleared when the key closes.
  void SetDeleteOnClose(bool deleteOnClose);

 protected:
  explicit CRegKey(std::shared_ptr<internal::CRegKeyImpl> impl);

 private:
  std::shared_ptr<internal::CRegKeyImpl> impl_;
};

}  // namespace Strata
