#include "ServiceStore.h"

#include <cwchar>
#include <cwctype>

#include "FormatText.h"
#include "ServiceResults.h"
#include "StandInKnobs.h"

namespace ZelService {

namespace {

// Every process of the prefix takes this mutex around its reads and writes of the state.
constexpr wchar_t kStateMutex[] = L"Global\\ZelStandInsServiceState";
constexpr DWORD kLockTimeoutMs = 30000;

std::wstring FullPath(const std::wstring& path) {
  return path.empty() ? std::wstring(kServiceKey) : std::wstring(kServiceKey) + L"\\" + path;
}

std::optional<std::wstring> ReadText(const std::wstring& fullPath, const wchar_t* name) {
  DWORD size = 0;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, fullPath.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, fullPath.c_str(), name, RRF_RT_REG_SZ, nullptr, &text[0], &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  text.resize(std::wcslen(text.c_str()));
  return text;
}

HRESULT WriteText(const std::wstring& fullPath, const std::wstring& name, const std::wstring& text) {
  LSTATUS status = ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, fullPath.c_str(), name.c_str(), REG_SZ, text.c_str(),
                                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  return HRESULT_FROM_WIN32(status);
}

Strata::UniqueHkey OpenKey(const std::wstring& fullPath) {
  Strata::UniqueHkey key;
  ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, fullPath.c_str(), 0, KEY_READ, key.put());
  return key;
}

std::vector<std::wstring> SubkeyNames(const std::wstring& fullPath) {
  std::vector<std::wstring> names;
  Strata::UniqueHkey key = OpenKey(fullPath);
  if (!key) return names;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = ARRAYSIZE(name);
    if (::RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

// The REG_SZ values of a key, by name.
std::map<std::wstring, std::wstring> TextValues(const std::wstring& fullPath) {
  std::map<std::wstring, std::wstring> values;
  Strata::UniqueHkey key = OpenKey(fullPath);
  if (!key) return values;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = ARRAYSIZE(name);
    DWORD type = 0;
    if (::RegEnumValueW(key.get(), index, name, &length, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (type != REG_SZ) continue;
    std::wstring valueName(name, length);
    if (std::optional<std::wstring> text = ReadText(fullPath, valueName.c_str())) values[valueName] = *text;
  }
  return values;
}

bool EqualIgnoringCase(const std::wstring& left, const std::wstring& right) {
  return ::CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::optional<std::wstring> EncodeProperty(const VARIANT& value) {
  VARIANT text;
  ::VariantInit(&text);
  if (FAILED(::VariantChangeTypeEx(&text, const_cast<VARIANT*>(&value), LOCALE_INVARIANT, 0, VT_BSTR)))
    return std::nullopt;
  UniqueBstr owned(text.bstrVal);
  return std::to_wstring(V_VT(&value)) + L":" + std::wstring(owned.get(), ::SysStringLen(owned.get()));
}

std::optional<Variant> DecodeProperty(const std::wstring& text) {
  size_t colon = text.find(L':');
  if (colon == std::wstring::npos) return std::nullopt;
  VARTYPE type = static_cast<VARTYPE>(std::wcstoul(text.c_str(), nullptr, 10));
  Variant stored;
  VARIANT* raw = stored.Put();
  V_VT(raw) = VT_BSTR;
  V_BSTR(raw) = ::SysAllocStringLen(text.c_str() + colon + 1, static_cast<UINT>(text.size() - colon - 1));
  if (!V_BSTR(raw)) return std::nullopt;
  Variant typed;
  if (FAILED(::VariantChangeTypeEx(typed.Put(), raw, LOCALE_INVARIANT, 0, type))) return std::nullopt;
  return typed;
}

ServiceStore::ServiceStore() : mutex_(::CreateMutexW(nullptr, FALSE, kStateMutex)) {}

Strata::MutexLock ServiceStore::Lock() const { return Strata::AcquireMutex(mutex_.get(), kLockTimeoutMs); }

PropertyMap ServiceStore::ReadProperties(const std::wstring& path) const {
  Strata::MutexLock lock = Lock();
  PropertyMap properties;
  for (const auto& [name, text] : TextValues(FullPath(path))) {
    wchar_t* end = nullptr;
    long id = std::wcstol(name.c_str(), &end, 10);
    if (*end != L'\0') continue;
    if (std::optional<Variant> value = DecodeProperty(text)) properties[id] = *value;
  }
  return properties;
}

HRESULT ServiceStore::WriteProperties(const std::wstring& path, const PropertyMap& properties) const {
  Strata::MutexLock lock = Lock();
  Strata::UniqueHkey key;
  LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, FullPath(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  for (const auto& [id, value] : properties) {
    std::optional<std::wstring> text = EncodeProperty(value.Get());
    if (!text) return DISP_E_TYPEMISMATCH;
    HRESULT hr = WriteText(FullPath(path), std::to_wstring(id), *text);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

bool ServiceStore::KeyExists(const std::wstring& path) const { return static_cast<bool>(OpenKey(FullPath(path))); }

std::wstring ServiceStore::UserPath(const std::wstring& userId) { return L"Users\\" + userId; }

std::vector<std::wstring> ServiceStore::UserIds() const {
  Strata::MutexLock lock = Lock();
  return SubkeyNames(FullPath(L"Users"));
}

std::optional<std::wstring> ServiceStore::FindUserByName(const std::wstring& name) const {
  Strata::MutexLock lock = Lock();
  const std::wstring nameValue = std::to_wstring(kUserName);
  for (const std::wstring& id : SubkeyNames(FullPath(L"Users"))) {
    std::optional<std::wstring> text = ReadText(FullPath(UserPath(id)), nameValue.c_str());
    if (!text) continue;
    std::optional<Variant> stored = DecodeProperty(*text);
    if (!stored || V_VT(&stored->Get()) != VT_BSTR) continue;
    BSTR storedName = V_BSTR(&stored->Get());
    if (EqualIgnoringCase(std::wstring(storedName, ::SysStringLen(storedName)), name)) return id;
  }
  return std::nullopt;
}

HRESULT ServiceStore::DeleteUser(const std::wstring& userId) const {
  Strata::MutexLock lock = Lock();
  return HRESULT_FROM_WIN32(::RegDeleteTreeW(HKEY_LOCAL_MACHINE, FullPath(UserPath(userId)).c_str()));
}

HRESULT ServiceStore::SetSessionUser(DWORD session, const std::wstring& name) const {
  Strata::MutexLock lock = Lock();
  return WriteText(FullPath(L"Sessions"), std::to_wstring(session), name);
}

HRESULT ServiceStore::ClearSession(DWORD session) const {
  Strata::MutexLock lock = Lock();
  LSTATUS status = ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, FullPath(L"Sessions").c_str(),
                                        std::to_wstring(session).c_str());
  return status == ERROR_FILE_NOT_FOUND ? S_FALSE : HRESULT_FROM_WIN32(status);
}

std::optional<std::wstring> ServiceStore::SessionUser(DWORD session) const {
  Strata::MutexLock lock = Lock();
  return ReadText(FullPath(L"Sessions"), std::to_wstring(session).c_str());
}

HRESULT ServiceStore::SetBinding(const std::wstring& product, const std::wstring& eventIid,
                                 const std::wstring& handler) const {
  Strata::MutexLock lock = Lock();
  return WriteText(FullPath(L"EventBindings\\" + product), eventIid, handler);
}

HRESULT ServiceStore::RemoveBinding(const std::wstring& product, const std::wstring& eventIid,
                                    const std::wstring& handler) const {
  Strata::MutexLock lock = Lock();
  const std::wstring path = FullPath(L"EventBindings\\" + product);
  if (ReadText(path, eventIid.c_str()) != handler) return S_FALSE;
  return HRESULT_FROM_WIN32(::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, path.c_str(), eventIid.c_str()));
}

std::optional<std::wstring> ServiceStore::FindBinding(const std::wstring& product, const std::wstring& eventIid) const {
  Strata::MutexLock lock = Lock();
  return ReadText(FullPath(L"EventBindings\\" + product), eventIid.c_str());
}

std::optional<std::wstring> ServiceStore::ReadTextKnob(const wchar_t* name) const {
  std::optional<std::wstring> own =
      ReadText(ZelStandIns::StandInKnobs::ProcessKeyPath(kStandInName, ::GetCurrentProcessId()), name);
  return own ? own : ReadText(FullPath(L""), name);
}

void ServiceStore::RecordDllCanDefer(DWORD processId, long code, BYTE flag, long value) const {
  Strata::MutexLock lock = Lock();
  const std::wstring path = FullPath(L"DllCanDefer\\" + std::to_wstring(processId));
  DWORD count = 0;
  DWORD size = sizeof(count);
  ::RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), L"Count", RRF_RT_REG_DWORD, nullptr, &count, &size);
  ++count;
  WriteText(path, std::to_wstring(count), Strata::Format(L"%d %u 0x%08X", code, flag, static_cast<unsigned>(value)));
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, path.c_str(), L"Count", REG_DWORD, &count, sizeof(count));
}

}  // namespace ZelService
