// Localized resources through the suite platform's language library "KyRtMui.dll", with the plain
// Windows calls standing in whenever that library cannot be bound.
//
// The language library's contract: it exports these fourteen functions, all required, and may
// export "DllAddRef" and "DllRelease" (no arguments), which are called once after loading and once
// before unloading. `reserved` is always 0. A `language` of 0 is never passed to an "Ex" form.
//   LANGID  RtMUIGetMappedLocale()
//   HMODULE RtMUILoadLibrary(LPCWSTR name, DWORD reserved)
//   HMODULE RtMUILoadLibraryEx(LPCWSTR name, HANDLE file, DWORD flags, DWORD reserved)
//   HMODULE RtMUILoadLibraryImpl(LPCWSTR name, HANDLE file, DWORD flags, LANGID language, DWORD reserved)
//   int     RtMUILoadString(HINSTANCE module, UINT id, LPWSTR buffer, int capacity, DWORD reserved)
//   int     RtMUILoadStringEx(HINSTANCE module, UINT id, LPWSTR buffer, int capacity, LANGID language,
//                             DWORD reserved)
//   HRSRC   RtMUIFindResource(HMODULE module, LPCWSTR name, LPCWSTR type, DWORD reserved)
//   HRSRC   RtMUIFindResourceEx(HMODULE module, LPCWSTR name, LPCWSTR type, LANGID language, DWORD reserved)
//   HANDLE  RtMUILoadImage(HINSTANCE module, LPCWSTR name, UINT type, int width, int height, UINT flags,
//                          DWORD reserved)
//   HANDLE  RtMUILoadImageEx(HINSTANCE module, LPCWSTR name, UINT type, int width, int height, UINT flags,
//                            LANGID language, DWORD reserved)
//   HBITMAP RtMUILoadBitmap(HINSTANCE module, LPCWSTR name, DWORD reserved)
//   HBITMAP RtMUILoadBitmapEx(HINSTANCE module, LPCWSTR name, LANGID language, DWORD reserved)
//   HICON   RtMUILoadIcon(HINSTANCE module, LPCWSTR name, DWORD reserved)
//   HICON   RtMUILoadIconEx(HINSTANCE module, LPCWSTR name, LANGID language, DWORD reserved)
// All use the WINAPI calling convention.
#pragma once

#include <windows.h>

#include <shared_mutex>

#include "DllWrapperBase.h"
#include "SlimLock.h"

namespace Strata {

// Types of the language library's exports.
using RtMUIGetMappedLocaleFn = LANGID WINAPI();
using RtMUILoadLibraryFn = HMODULE WINAPI(LPCWSTR, DWORD);
using RtMUILoadLibraryExFn = HMODULE WINAPI(LPCWSTR, HANDLE, DWORD, DWORD);
using RtMUILoadLibraryImplFn = HMODULE WINAPI(LPCWSTR, HANDLE, DWORD, LANGID, DWORD);
using RtMUILoadStringFn = int WINAPI(HINSTANCE, UINT, LPWSTR, int, DWORD);
using RtMUILoadStringExFn = int WINAPI(HINSTANCE, UINT, LPWSTR, int, LANGID, DWORD);
using RtMUIFindResourceFn = HRSRC WINAPI(HMODULE, LPCWSTR, LPCWSTR, DWORD);
using RtMUIFindResourceExFn = HRSRC WINAPI(HMODULE, LPCWSTR, LPCWSTR, LANGID, DWORD);
using RtMUILoadImageFn = HANDLE WINAPI(HINSTANCE, LPCWSTR, UINT, int, int, UINT, DWORD);
using RtMUILoadImageExFn = HANDLE WINAPI(HINSTANCE, LPCWSTR, UINT, int, int, UINT, LANGID, DWORD);
using RtMUILoadBitmapFn = HBITMAP WINAPI(HINSTANCE, LPCWSTR, DWORD);
using RtMUILoadBitmapExFn = HBITMAP WINAPI(HINSTANCE, LPCWSTR, LANGID, DWORD);
using RtMUILoadIconFn = HICON WINAPI(HINSTANCE, LPCWSTR, DWORD);
using RtMUILoadIconExFn = HICON WINAPI(HINSTANCE, LPCWSTR, LANGID, DWORD);

// One binding of a language library. The process-wide one sits behind the RtMui functions below;
// further instances serve tests. A `language` of 0 means "the library's own choice".
class RtMuiImpl : public CDllWrapperBase {
 public:
  // The locale the fallback answers: US English.
  static constexpr LANGID kFallbackLocale = 1033;

  // Binds the library at `path` (fully qualified only); BindingResult() tells how it went.
  explicit RtMuiImpl(const wchar_t* path);
  // Records a binding that could not be attempted, e.g. for want of a path.
  explicit RtMuiImpl(DWORD failure);

  // 0 when the library is loaded and has every export; otherwise the Win32 error that stopped it.
  DWORD BindingResult() const;
  bool IsAvailable() const { return BindingResult() == ERROR_SUCCESS; }

  LANGID GetMappedLocale() const;
  HMODULE LoadLibraryW(LPCWSTR name) const;
  HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) const;
  int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int capacity, LANGID language) const;
  HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type, LANGID language) const;
  HANDLE LoadImageW(HINSTANCE module, LPCWSTR name, UINT type, int width, int height, UINT flags,
                    LANGID language) const;
  HBITMAP LoadBitmapW(HINSTANCE module, LPCWSTR name, LANGID language) const;
  HICON LoadIconW(HINSTANCE module, LPCWSTR name, LANGID language) const;

  // Lets the library go; from then on every call takes its Windows fallback.
  void Release();

 private:
  struct Exports {
    RtMUIGetMappedLocaleFn* RtMUIGetMappedLocale;
    RtMUILoadLibraryFn* RtMUILoadLibrary;
    RtMUILoadLibraryExFn* RtMUILoadLibraryEx;
    RtMUILoadLibraryImplFn* RtMUILoadLibraryImpl;
    RtMUILoadStringFn* RtMUILoadString;
    RtMUILoadStringExFn* RtMUILoadStringEx;
    RtMUIFindResourceFn* RtMUIFindResource;
    RtMUIFindResourceExFn* RtMUIFindResourceEx;
    RtMUILoadImageFn* RtMUILoadImage;
    RtMUILoadImageExFn* RtMUILoadImageEx;
    RtMUILoadBitmapFn* RtMUILoadBitmap;
    RtMUILoadBitmapExFn* RtMUILoadBitmapEx;
    RtMUILoadIconFn* RtMUILoadIcon;
    RtMUILoadIconExFn* RtMUILoadIconEx;
  };

  DWORD Bind(const wchar_t* path);
  bool ResolveExports();
  // Runs `bound` with the exports while the library is bound, `fallback` otherwise. The shared
  // lock keeps Release() from unloading the library under a call in progress.
  template <typename Bound, typename Fallback>
  auto Call(Bound bound, Fallback fallback) const {
    std::shared_lock<Strata::SlimLock> lock(guard_);
    return result_ == ERROR_SUCCESS ? bound(exports_) : fallback();
  }

  mutable Strata::SlimLock guard_;  // guards result_, exports_ and the module after construction
  Exports exports_{};
  DWORD result_;
};

// The process-wide binding. The first call of any function but SetLibraryPath binds the library,
// once for the life of the process; a failed binding stays failed and every call falls back.
namespace RtMui {

// Presets the library's full path (at most MAX_PATH - 1 characters). Without one, the library is
// "%CommonProgramFiles%\Varant\Platform\KyRtMui.dll". False when the path is too long or the
// binding has already been made, so the preset would not count.
bool SetLibraryPath(const wchar_t* path);

bool IsAvailable();
DWORD BindingResult();
LANGID GetMappedLocale();
HMODULE LoadLibraryW(LPCWSTR name);
HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags);
int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int capacity, LANGID language = 0);
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type, LANGID language = 0);
HANDLE LoadImageW(HINSTANCE module, LPCWSTR name, UINT type, int width, int height, UINT flags,
                  LANGID language = 0);
HBITMAP LoadBitmapW(HINSTANCE module, LPCWSTR name, LANGID language = 0);
HICON LoadIconW(HINSTANCE module, LPCWSTR name, LANGID language = 0);
// Lets the library go (its "DllRelease", then unload), as the host library does when COM may
// unload it; the next call binds the library again.
void Release();

}  // namespace RtMui
}  // namespace Strata
