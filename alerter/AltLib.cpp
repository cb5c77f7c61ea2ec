#include "AltLib.h"

#include <optional>

#include "LogInstance.h"
#include "VerifiedLibrary.h"

namespace {

constexpr wchar_t kPlatformKey[] = L"SOFTWARE\\Varant\\Platform";
constexpr DWORD kMaxFolderBytes = 520;
constexpr size_t kMaxFolderChars = 259;

std::wstring WithSeparator(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return folder;
}

// An empty value counts as absent: it would otherwise name a library at the root of the drive.
std::optional<std::wstring> PlatformFolder() {
  Strata::UniqueHkey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPlatformKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
    return std::nullopt;
  wchar_t buffer[kMaxFolderBytes / sizeof(wchar_t) + 1] = {};
  DWORD bytes = kMaxFolderBytes;
  DWORD type = 0;
  if (::RegQueryValueExW(key.get(), L"Install Dir", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || buffer[0] == L'\0')
    return std::nullopt;
  return WithSeparator(buffer);
}

std::wstring ProgramFolder() {
  std::wstring path = Ky::ModuleFileName(nullptr);
  size_t separator = path.rfind(L'\\');
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

DWORD Win32Of(HRESULT hr) { return HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : static_cast<DWORD>(hr); }

template <typename Fn>
void Resolve(HMODULE library, const char* name, Fn* target) {
  *target = reinterpret_cast<Fn>(::GetProcAddress(library, name));
}

}  // namespace

DWORD CAltLib::Bind(const std::wstring& folder) {
  Unbind();
  DWORD result = Load(folder);
  if (result == 0) result = ResolveExports();
  if (result == 0) result = static_cast<DWORD>(exports_.init());
  if (result != 0) Unbind();
  return result;
}

// The given folder (else the platform's), and when nothing is loaded from there the program's own.
DWORD CAltLib::Load(const std::wstring& folder) {
  std::optional<std::wstring> first = folder.empty() ? PlatformFolder() : std::optional<std::wstring>(folder);
  if (first && first->size() <= kMaxFolderChars &&
      SUCCEEDED(Ky::LoadVerifiedLibrary((*first + kFileName).c_str(), library_)))
    return 0;
  return Win32Of(Ky::LoadVerifiedLibrary((ProgramFolder() + kFileName).c_str(), library_));
}

DWORD CAltLib::ResolveExports() {
  HMODULE library = library_.get();
  Resolve(library, "KyInitTARNAlert", &exports_.init);
  Resolve(library, "KyShowTARNAlert", &exports_.show);
  Resolve(library, "KyShowTARNAlert2", &exports_.show2);
  Resolve(library, "KyCloseTARNAlert", &exports_.close);
  Resolve(library, "KyShowBriefcardNotification", &exports_.showBriefcard);
  Resolve(library, "KyCloseBriefcardNotification", &exports_.closeBriefcard);
  Resolve(library, "KyShowMetroToast", &exports_.showMetroToast);
  const bool complete = exports_.init && exports_.show && exports_.show2 && exports_.close &&
                        exports_.showBriefcard && exports_.closeBriefcard;
  return complete ? 0 : ERROR_PROC_NOT_FOUND;
}

void CAltLib::Unbind() noexcept {
  exports_ = Exports();
  library_.reset();
}

int32_t CAltLib::Show(const AlertShowRecord& record, KyAlertNotification notify, void* context, int32_t timeout,
                      uint32_t* alertHandle) const noexcept {
  *alertHandle = 0;
  if (!exports_.show) return ERROR_CALL_NOT_IMPLEMENTED;
  return exports_.show(&record, notify, context, timeout, alertHandle);
}

void CAltLib::Close(uint32_t alertHandle) const noexcept {
  if (exports_.close) exports_.close(alertHandle);
}
