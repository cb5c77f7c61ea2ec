// The service stand-in's state, kept in the registry (layout in ServiceResults.h) so that every
// process of the prefix sees the same users, settings, sign-ins and event bindings. Nothing is
// cached: each call reads or writes the registry under one machine-wide mutex.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Handles.h"
#include "ServiceVariant.h"

namespace ZelService {

using PropertyMap = std::map<long, Variant>;

class ServiceStore {
 public:
  ServiceStore();

  // Held across a sequence of calls that must see no other process's changes in between.
  Strata::MutexLock Lock() const;

  // Properties of the configuration object at `path` below the service key; none when absent.
  PropertyMap ReadProperties(const std::wstring& path) const;
  // Writes each property (merging with those already there); creates the key when needed.
  HRESULT WriteProperties(const std::wstring& path, const PropertyMap& properties) const;
  bool KeyExists(const std::wstring& path) const;

  // The applied users by id, and the id of the one whose name (property 200) matches regardless
  // of case.
  std::vector<std::wstring> UserIds() const;
  std::optional<std::wstring> FindUserByName(const std::wstring& name) const;
  static std::wstring UserPath(const std::wstring& userId);
  HRESULT DeleteUser(const std::wstring& userId) const;

  HRESULT SetSessionUser(DWORD session, const std::wstring& name) const;
  HRESULT ClearSession(DWORD session) const;
  std::optional<std::wstring> SessionUser(DWORD session) const;

  // Bindings per product; GUID texts are given in braced upper-case form.
  HRESULT SetBinding(const std::wstring& product, const std::wstring& eventIid, const std::wstring& handler) const;
  HRESULT RemoveBinding(const std::wstring& product, const std::wstring& eventIid, const std::wstring& handler) const;
  std::optional<std::wstring> FindBinding(const std::wstring& product, const std::wstring& eventIid) const;

  // A REG_SZ knob, from this process's subkey first, else the service key.
  std::optional<std::wstring> ReadTextKnob(const wchar_t* name) const;

  void RecordDllCanDefer(DWORD processId, long code, BYTE flag, long value) const;

 private:
  Strata::UniqueHandle mutex_;
};

// A property value as the registry keeps it, "<vt>:<text>", and back.
std::optional<std::wstring> EncodeProperty(const VARIANT& value);
std::optional<Variant> DecodeProperty(const std::wstring& text);

}  // namespace ZelService
