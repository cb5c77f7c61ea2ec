// A stand-in for the platform's language library: each export does the job for real on the
// module it is given, and records which export ran so tests can tell it from the Windows fallback.
// Built twice; RTMUI_TEST_WITHOUT_LOAD_ICON_EX leaves one required export out.
#include <windows.h>

#include <cstring>
#include <type_traits>

#include "ModuleVersion.h"
#include "RtMui.h"

namespace {

// The German locale, so a bound library is told apart from the US English fallback.
constexpr LANGID kMappedLocale = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
// What DllAddRef leaves as the thread's last error; the binding must not pass it on.
constexpr DWORD kAddRefLastError = ERROR_INVALID_ACCESS;

LONG addRefs = 0;
LONG releases = 0;
const char* lastCall = "";

template <typename Result>
Result Record(const char* name, Result result) {
  lastCall = name;
  return result;
}

// A string table holds 16 strings per block; each is a length followed by that many characters.
int LoadStringInLanguage(HINSTANCE module, UINT id, LPWSTR buffer, int capacity, LANGID language) {
  HRSRC block = ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
  const WCHAR* entry = block ? static_cast<const WCHAR*>(::LockResource(::LoadResource(module, block))) : nullptr;
  if (!entry || capacity <= 0) return 0;
  for (UINT skip = id % 16; skip > 0; --skip) entry += *entry + 1;
  int length = *entry < capacity ? *entry : capacity - 1;
  std::memcpy(buffer, entry + 1, length * sizeof(WCHAR));
  buffer[length] = L'\0';
  return length;
}

}  // namespace

#define RTMUI_EXPORT(name) \
  static_assert(std::is_same_v<decltype(name), Strata::name##Fn>, #name " differs from the contract")

extern "C" {

LANGID WINAPI RtMUIGetMappedLocale() { return Record("RtMUIGetMappedLocale", kMappedLocale); }
RTMUI_EXPORT(RtMUIGetMappedLocale);

HMODULE WINAPI RtMUILoadLibrary(LPCWSTR name, DWORD) { return Record("RtMUILoadLibrary", ::LoadLibraryW(name)); }
RTMUI_EXPORT(RtMUILoadLibrary);

HMODULE WINAPI RtMUILoadLibraryEx(LPCWSTR name, HANDLE file, DWORD flags, DWORD) {
  return Record("RtMUILoadLibraryEx", ::LoadLibraryExW(name, file, flags));
}
RTMUI_EXPORT(RtMUILoadLibraryEx);

HMODULE WINAPI RtMUILoadLibraryImpl(LPCWSTR name, HANDLE file, DWORD flags, LANGID, DWORD) {
  return Record("RtMUILoadLibraryImpl", ::LoadLibraryExW(name, file, flags));
}
RTMUI_EXPORT(RtMUILoadLibraryImpl);

int WINAPI RtMUILoadString(HINSTANCE module, UINT id, LPWSTR buffer, int capacity, DWORD) {
  return Record("RtMUILoadString", LoadStringInLanguage(module, id, buffer, capacity, kMappedLocale));
}
RTMUI_EXPORT(RtMUILoadString);

int WINAPI RtMUILoadStringEx(HINSTANCE module, UINT id, LPWSTR buffer, int capacity, LANGID language, DWORD) {
  return Record("RtMUILoadStringEx", LoadStringInLanguage(module, id, buffer, capacity, language));
}
RTMUI_EXPORT(RtMUILoadStringEx);

HRSRC WINAPI RtMUIFindResource(HMODULE module, LPCWSTR name, LPCWSTR type, DWORD) {
  return Record("RtMUIFindResource", ::FindResourceExW(module, type, name, kMappedLocale));
}
RTMUI_EXPORT(RtMUIFindResource);

HRSRC WINAPI RtMUIFindResourceEx(HMODULE module, LPCWSTR name, LPCWSTR type, LANGID language, DWORD) {
  return Record("RtMUIFindResourceEx", ::FindResourceExW(module, type, name, language));
}
RTMUI_EXPORT(RtMUIFindResourceEx);

HANDLE WINAPI RtMUILoadImage(HINSTANCE module, LPCWSTR name, UINT type, int width, int height, UINT flags, DWORD) {
  return Record("RtMUILoadImage", ::LoadImageW(module, name, type, width, height, flags));
}
RTMUI_EXPORT(RtMUILoadImage);

HANDLE WINAPI RtMUILoadImageEx(HINSTANCE module, LPCWSTR name, UINT type, int width, int height, UINT flags, LANGID,
                               DWORD) {
  return Record("RtMUILoadImageEx", ::LoadImageW(module, name, type, width, height, flags));
}
RTMUI_EXPORT(RtMUILoadImageEx);

HBITMAP WINAPI RtMUILoadBitmap(HINSTANCE module, LPCWSTR name, DWORD) {
  return Record("RtMUILoadBitmap", ::LoadBitmapW(module, name));
}
RTMUI_EXPORT(RtMUILoadBitmap);

HBITMAP WINAPI RtMUILoadBitmapEx(HINSTANCE module, LPCWSTR name, LANGID, DWORD) {
  return Record("RtMUILoadBitmapEx", ::LoadBitmapW(module, name));
}
RTMUI_EXPORT(RtMUILoadBitmapEx);

HICON WINAPI RtMUILoadIcon(HINSTANCE module, LPCWSTR name, DWORD) {
  return Record("RtMUILoadIcon", ::LoadIconW(module, name));
}
RTMUI_EXPORT(RtMUILoadIcon);

#ifndef RTMUI_TEST_WITHOUT_LOAD_ICON_EX
HICON WINAPI RtMUILoadIconEx(HINSTANCE module, LPCWSTR name, LANGID, DWORD) {
  return Record("RtMUILoadIconEx", ::LoadIconW(module, name));
}
RTMUI_EXPORT(RtMUILoadIconEx);
#endif

HRESULT WINAPI DllAddRef() {
  ::InterlockedIncrement(&addRefs);
  ::SetLastError(kAddRefLastError);
  return S_OK;
}

HRESULT WINAPI DllRelease() {
  ::InterlockedIncrement(&releases);
  return S_OK;
}

// Probes for the tests.
void WINAPI RtMuiTestCounts(LONG* addRefCount, LONG* releaseCount) {
  *addRefCount = addRefs;
  *releaseCount = releases;
}

const char* WINAPI RtMuiTestLastCall() { return lastCall; }

// The version record as the foundation sees it from inside a DLL.
void WINAPI RtMuiTestModuleVersion(LPWSTR path, int pathCapacity, LPWSTR version, int versionCapacity) {
  const Strata::ModuleVersion& record = Strata::GetModuleVersion();
  ::lstrcpynW(path, record.path.c_str(), pathCapacity);
  ::lstrcpynW(version, record.version.c_str(), versionCapacity);
}

}  // extern "C"
