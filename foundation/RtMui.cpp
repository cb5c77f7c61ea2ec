#include "RtMui.h"

#include <memory>
#include <mutex>
#include <string>

namespace Strata {

RtMuiImpl::RtMuiImpl(const wchar_t* path) : result_(Bind(path)) {}

RtMuiImpl::RtMuiImpl(DWORD failure) : result_(failure) {}

DWORD RtMuiImpl::Bind(const wchar_t* path) {
  DWORD result = Load(path);
  if (result != ERROR_SUCCESS) return result;
  if (ResolveExports()) return ERROR_SUCCESS;
  result = ::GetLastError();
  Unload();
  exports_ = Exports{};
  return result != ERROR_SUCCESS ? result : ERROR_PROC_NOT_FOUND;
}

bool RtMuiImpl::ResolveExports() {
  Exports& e = exports_;
  return ResolveExport("RtMUIGetMappedLocale", e.RtMUIGetMappedLocale) &&
         ResolveExport("RtMUILoadLibrary", e.RtMUILoadLibrary) &&
         ResolveExport("RtMUILoadLibraryEx", e.RtMUILoadLibraryEx) &&
         ResolveExport("RtMUILoadLibraryImpl", e.RtMUILoadLibraryImpl) &&
         ResolveExport("RtMUILoadString", e.RtMUILoadString) &&
         ResolveExport("RtMUILoadStringEx", e.RtMUILoadStringEx) &&
         ResolveExport("RtMUIFindResource", e.RtMUIFindResource) &&
         ResolveExport("RtMUIFindResourceEx", e.RtMUIFindResourceEx) &&
         ResolveExport("RtMUILoadImage", e.RtMUILoadImage) &&
         ResolveExport("RtMUILoadImageEx", e.RtMUILoadImageEx) &&
         ResolveExport("RtMUILoadBitmap", e.RtMUILoadBitmap) &&
         ResolveExport("RtMUILoadBitmapEx", e.RtMUILoadBitmapEx) &&
         ResolveExport("RtMUILoadIcon", e.RtMUILoadIcon) &&
         ResolveExport("RtMUILoadIconEx", e.RtMUILoadIconEx);
}

DWORD RtMuiImpl::BindingResult() const {
  std::shared_lock<Strata::SlimLock> lock(guard_);
  return result_;
}

LANGID RtMuiImpl::GetMappedLocale() const {
  return Call([](const Exports& e) { return e.RtMUIGetMappedLocale(); }, [] { return kFallbackLocale; });
}

HMODULE RtMuiImpl::LoadLibraryW(LPCWSTR name) const {
  return Call([&](const Exports& e) { return e.RtMUILoadLibrary(name, 0); }, [&] { return ::LoadLibraryW(name); });
}

HMODULE RtMuiImpl::LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) const {
  return Call([&](const Exports& e) { return e.RtMUILoadLibraryEx(name, file, flags, 0); },
              [&] { return ::LoadLibraryExW(name, file, flags); });
}

int RtMuiImpl::LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int capacity, LANGID language) const {
  return Call(
      [&](const Exports& e) {
        return language ? e.RtMUILoadStringEx(module, id, buffer, capacity, language, 0)
                        : e.RtMUILoadString(module, id, buffer, capacity, 0);
      },
      [&] { return ::LoadStringW(module, id, buffer, capacity); });
}

HRSRC RtMuiImpl::FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type, LANGID language) const {
  return Call(
      [&](const Exports& e) {
        return language ? e.RtMUIFindResourceEx(module, name, type, language, 0)
                        : e.RtMUIFindResource(module, name, type, 0);
      },
      [&] { return ::FindResourceW(module, name, type); });
}

HANDLE RtMuiImpl::LoadImageW(HINSTANCE module, LPCWSTR name, UINT type, int width, int height, UINT flags,
                             LANGID language) const {
  return Call(
      [&](const Exports& e) {
        return language ? e.RtMUILoadImageEx(module, name, type, width, height, flags, language, 0)
                        : e.RtMUILoadImage(module, name, type, width, height, flags, 0);
      },
      [&] { return ::LoadImageW(module, name, type, width, height, flags); });
}

HBITMAP RtMuiImpl::LoadBitmapW(HINSTANCE module, LPCWSTR name, LANGID language) const {
  return Call(
      [&](const Exports& e) {
        return language ? e.RtMUILoadBitmapEx(module, name, language, 0) : e.RtMUILoadBitmap(module, name, 0);
      },
      [&] { return ::LoadBitmapW(module, name); });
}

HICON RtMuiImpl::LoadIconW(HINSTANCE module, LPCWSTR name, LANGID language) const {
  return Call(
      [&](const Exports& e) {
        return language ? e.RtMUILoadIconEx(module, name, language, 0) : e.RtMUILoadIcon(module, name, 0);
      },
      [&] { return ::LoadIconW(module, name); });
}

void RtMuiImpl::Release() {
  std::unique_lock<Strata::SlimLock> lock(guard_);
  Unload();
  exports_ = Exports{};
  if (result_ == ERROR_SUCCESS) result_ = ERROR_INVALID_HANDLE;
}

namespace RtMui {

namespace {

struct Preset {
  Strata::SlimLock guard;
  std::wstring path;         // guarded by `guard`
  bool bindingMade = false;  // guarded by `guard`
  // Guarded by `guard`. Callers keep their own reference for the length of a call, so a release
  // never frees a binding in use; the next call after a release binds the library again.
  std::shared_ptr<RtMuiImpl> binding;
};

Preset g_preset;  // at namespace scope, unguarded (see OnceFlag.h)

Preset& ThePreset() { return g_preset; }

// The caller holds the preset's lock.
std::shared_ptr<RtMuiImpl> NewBinding(const Preset& preset) {
  if (!preset.path.empty()) return std::make_shared<RtMuiImpl>(preset.path.c_str());
  wchar_t folder[MAX_PATH];
  ::SetLastError(ERROR_SUCCESS);
  DWORD length = ::GetEnvironmentVariableW(L"CommonProgramFiles", folder, MAX_PATH);
  // An empty value is no folder: "\Varant\..." at the root of the drive is not the platform's.
  if (length == 0) {
    const DWORD error = ::GetLastError();
    return std::make_shared<RtMuiImpl>(error != ERROR_SUCCESS ? error : static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
  }
  if (length >= MAX_PATH) return std::make_shared<RtMuiImpl>(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  return std::make_shared<RtMuiImpl>((std::wstring(folder, length) + L"\\Varant\\Platform\\KyRtMui.dll").c_str());
}

// A binding that never outlives the host library by accident: the host releases it when COM may
// unload the host (a static destructor would unload the language library under the loader lock).
std::shared_ptr<RtMuiImpl> Binding() {
  Preset& preset = ThePreset();
  std::lock_guard<Strata::SlimLock> lock(preset.guard);
  preset.bindingMade = true;
  if (!preset.binding) preset.binding = NewBinding(preset);
  return preset.binding;
}

}  // namespace

bool SetLibraryPath(const wchar_t* path) {
  if (!path) return false;
  std::wstring text(path);
  if (text.size() >= MAX_PATH) return false;
  Preset& preset = ThePreset();
  std::lock_guard<Strata::SlimLock> lock(preset.guard);
  if (preset.bindingMade) return false;
  preset.path = std::move(text);
  return true;
}

bool IsAvailable() { return Binding()->IsAvailable(); }
DWORD BindingResult() { return Binding()->BindingResult(); }
LANGID GetMappedLocale() { return Binding()->GetMappedLocale(); }
HMODULE LoadLibraryW(LPCWSTR name) { return Binding()->LoadLibraryW(name); }
HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) { return Binding()->LoadLibraryExW(name, file, flags); }

int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int capacity, LANGID language) {
  return Binding()->LoadStringW(module, id, buffer, capacity, language);
}

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type, LANGID language) {
  return Binding()->FindResourceW(module, name, type, language);
}

HANDLE LoadImageW(HINSTANCE module, LPCWSTR name, UINT type, int width, int height, UINT flags, LANGID language) {
  return Binding()->LoadImageW(module, name, type, width, height, flags, language);
}

HBITMAP LoadBitmapW(HINSTANCE module, LPCWSTR name, LANGID language) {
  return Binding()->LoadBitmapW(module, name, language);
}

HICON LoadIconW(HINSTANCE module, LPCWSTR name, LANGID language) { return Binding()->LoadIconW(module, name, language); }

void Release() {
  std::shared_ptr<RtMuiImpl> released;
  {
    Preset& preset = ThePreset();
    std::lock_guard<Strata::SlimLock> lock(preset.guard);
    released.swap(preset.binding);
  }
  // Outside the lock: the library's "DllRelease" and its unloading are outside code.
  if (released) released->Release();
}

}  // namespace RtMui
}  // namespace Strata
