// Stand-in for the platform's language library "KyRtMui.dll": the fourteen exports of the
// contract in RtMui.h, plus DllAddRef and DllRelease.
//
// Design: a product resource library holds all its languages in one file (see ZelRes2), so the
// load-library exports load the file as asked and the language is chosen per lookup: the mapped
// locale for the plain forms, the given language for the "Ex" forms, with US English behind
// either. Knobs, under HKEY_LOCAL_MACHINE\Software\ZelStandIns\KyRtMui (see StandInKnobs.h), read
// on every call so that a test may change them while the library stays loaded:
//   "Locale"        DWORD, read       a LANGID that replaces the user's UI language
//   "AddRefCalls"   DWORD, written    DllAddRef calls, counted in the per-process subkey
//   "ReleaseCalls"  DWORD, written    DllRelease calls, counted likewise
#include <windows.h>

#include <type_traits>

#include "LanguageChoice.h"
#include "ResourceLookup.h"
#include "RtMui.h"
#include "StandInKnobs.h"

using namespace KyRtMuiStandIn;

namespace {

// At namespace scope: a guarded local would take the runtime's winpthreads lock, whose handles stay
// behind each time a process unloads this library.
const ZelStandIns::StandInKnobs g_knobs(L"KyRtMui");

LANGID Mapped() { return MappedLocale(g_knobs); }

}  // namespace

// Holds each export to the type the binding calls it through.
#define RTMUI_EXPORT(name) \
  static_assert(std::is_same_v<decltype(name), Strata::name##Fn>, #name " differs from the contract")

extern "C" {

LANGID WINAPI RtMUIGetMappedLocale() { return Mapped(); }
RTMUI_EXPORT(RtMUIGetMappedLocale);

HMODULE WINAPI RtMUILoadLibrary(LPCWSTR name, DWORD) { return ::LoadLibraryW(name); }
RTMUI_EXPORT(RtMUILoadLibrary);

HMODULE WINAPI RtMUILoadLibraryEx(LPCWSTR name, HANDLE file, DWORD flags, DWORD) {
  return ::LoadLibraryExW(name, file, flags);
}
RTMUI_EXPORT(RtMUILoadLibraryEx);

HMODULE WINAPI RtMUILoadLibraryImpl(LPCWSTR name, HANDLE file, DWORD flags, LANGID, DWORD) {
  return ::LoadLibraryExW(name, file, flags);
}
RTMUI_EXPORT(RtMUILoadLibraryImpl);

int WINAPI RtMUILoadString(HINSTANCE module, UINT id, LPWSTR buffer, int capacity, DWORD) {
  return LoadStringInLanguage(module, id, buffer, capacity, Mapped());
}
RTMUI_EXPORT(RtMUILoadString);

int WINAPI RtMUILoadStringEx(HINSTANCE module, UINT id, LPWSTR buffer, int capacity, LANGID language, DWORD) {
  return LoadStringInLanguage(module, id, buffer, capacity, language);
}
RTMUI_EXPORT(RtMUILoadStringEx);

HRSRC WINAPI RtMUIFindResource(HMODULE module, LPCWSTR name, LPCWSTR type, DWORD) {
  return FindResourceInLanguage(module, name, type, Mapped());
}
RTMUI_EXPORT(RtMUIFindResource);

HRSRC WINAPI RtMUIFindResourceEx(HMODULE module, LPCWSTR name, LPCWSTR type, LANGID language, DWORD) {
  return FindResourceInLanguage(module, name, type, language);
}
RTMUI_EXPORT(RtMUIFindResourceEx);

HANDLE WINAPI RtMUILoadImageEx(HINSTANCE module, LPCWSTR name, UINT type, int width, int height, UINT flags,
                               LANGID language, DWORD) {
  ThreadUiLanguageScope scope(language);
  return ::LoadImageW(module, name, type, width, height, flags);
}
RTMUI_EXPORT(RtMUILoadImageEx);

HANDLE WINAPI RtMUILoadImage(HINSTANCE module, LPCWSTR name, UINT type, int width, int height, UINT flags, DWORD) {
  return RtMUILoadImageEx(module, name, type, width, height, flags, Mapped(), 0);
}
RTMUI_EXPORT(RtMUILoadImage);

HBITMAP WINAPI RtMUILoadBitmapEx(HINSTANCE module, LPCWSTR name, LANGID language, DWORD) {
  ThreadUiLanguageScope scope(language);
  return ::LoadBitmapW(module, name);
}
RTMUI_EXPORT(RtMUILoadBitmapEx);

HBITMAP WINAPI RtMUILoadBitmap(HINSTANCE module, LPCWSTR name, DWORD) {
  return RtMUILoadBitmapEx(module, name, Mapped(), 0);
}
RTMUI_EXPORT(RtMUILoadBitmap);

HICON WINAPI RtMUILoadIconEx(HINSTANCE module, LPCWSTR name, LANGID language, DWORD) {
  ThreadUiLanguageScope scope(language);
  return ::LoadIconW(module, name);
}
RTMUI_EXPORT(RtMUILoadIconEx);

HICON WINAPI RtMUILoadIcon(HINSTANCE module, LPCWSTR name, DWORD) { return RtMUILoadIconEx(module, name, Mapped(), 0); }
RTMUI_EXPORT(RtMUILoadIcon);

void WINAPI DllAddRef() { g_knobs.CountCall(L"AddRefCalls"); }

void WINAPI DllRelease() { g_knobs.CountCall(L"ReleaseCalls"); }

}  // extern "C"
