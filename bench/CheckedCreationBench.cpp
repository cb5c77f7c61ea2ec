// What the publisher check costs per creation: objects of the platform's user manager created
// through the checked form against the plain form of the same class, interleaved round by round in
// one run. The first checked creation, which verifies the library's signature in full, is shown on
// its own; later ones find the library among the files this process has verified. Then what each
// step a checked creation could take costs against a plain creation, so that the gap has names.
//
// Run it where scripts/prefix installed the product and the platform:
//   scripts/prefix /tmp/bench && scripts/wine-run --prefix /tmp/bench build/bin/CheckedCreationBench.exe
#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include <wrl/client.h>

#include "CreateInstanceViaFactory.h"
#include "Handles.h"
#include "KyUserManager.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCreationsPerRound = 200;
constexpr int kRounds = 5;
constexpr DWORD kInProcess = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

double SecondsForCreations(int count, Ky::CreationForm form) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < count; ++i) {
    Microsoft::WRL::ComPtr<IKyUserManager> users;
    if (FAILED(Ky::CreateInstanceViaFactory(CLSID_KyUserManager, kInProcess, IID_IKyUserManager, &users, form))) {
      std::fprintf(stderr, "a creation failed: is the platform installed here (scripts/prefix)?\n");
      std::exit(1);
    }
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename Step>
double SecondsForSteps(int count, Step step) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < count; ++i) step();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::wstring InprocServerKey() {
  wchar_t clsid[40] = L"";
  ::StringFromGUID2(CLSID_KyUserManager, clsid, ARRAYSIZE(clsid));
  return std::wstring(L"Software\\Classes\\CLSID\\") + clsid + L"\\InprocServer32";
}

// The registered library, as the checked form reads it.
std::wstring RegisteredLibrary(const std::wstring& key) {
  wchar_t path[MAX_PATH] = L"";
  DWORD size = sizeof(path);
  ::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size);
  return path;
}

void PrintStepCosts(double plainEach) {
  const std::wstring key = InprocServerKey();
  const std::wstring library = RegisteredLibrary(key);
  Strata::UniqueFile file(
      ::CreateFileW(library.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  Strata::UniqueHandle first(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Strata::UniqueHandle second(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE unsignalled[] = {first.get(), second.get()};
  const int count = kRounds * kCreationsPerRound;
  const std::pair<const char*, double> steps[] = {
      {"read the registered path (RegGetValueW)", SecondsForSteps(count, [&] { RegisteredLibrary(key); })},
      {"CreateFileW + CloseHandle of the library", SecondsForSteps(count, [&] {
         ::CloseHandle(::CreateFileW(library.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
       })},
      {"GetFileAttributesExW of the library", SecondsForSteps(count, [&] {
         WIN32_FILE_ATTRIBUTE_DATA data;
         ::GetFileAttributesExW(library.c_str(), GetFileExInfoStandard, &data);
       })},
      {"LoadLibraryExW of it, loaded, + FreeLibrary", SecondsForSteps(count, [&] {
         ::FreeLibrary(::LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
       })},
      {"GetFileInformationByHandle of it, open", SecondsForSteps(count, [&] {
         BY_HANDLE_FILE_INFORMATION information;
         ::GetFileInformationByHandle(file.get(), &information);
       })},
      {"GetModuleHandleExW of it + FreeLibrary", SecondsForSteps(count, [&] {
         HMODULE module = nullptr;
         if (::GetModuleHandleExW(0, library.c_str(), &module)) ::FreeLibrary(module);
       })},
      {"WaitForMultipleObjects, 2 unsignalled, no wait", SecondsForSteps(count, [&] {
         ::WaitForMultipleObjects(ARRAYSIZE(unsignalled), unsignalled, FALSE, 0);
       })},
  };
  std::printf("cost of one step against a plain creation:\n");
  for (const auto& step : steps) std::printf("  %-44s %5.2f\n", step.first, step.second / count / plainEach);
}

}  // namespace

int main() {
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  const double first = SecondsForCreations(1, Ky::CreationForm::Checked);
  SecondsForCreations(1, Ky::CreationForm::Plain);
  double plain = 0;
  double checked = 0;
  for (int round = 0; round < kRounds; ++round) {
    plain += SecondsForCreations(kCreationsPerRound, Ky::CreationForm::Plain);
    checked += SecondsForCreations(kCreationsPerRound, Ky::CreationForm::Checked);
  }
  const int count = kRounds * kCreationsPerRound;
  std::printf("first checked creation (full verification): %.1f ms\n", first * 1e3);
  std::printf("plain creation:   %.1f us each\n", plain / count * 1e6);
  std::printf("checked creation: %.1f us each (library verified before)\n", checked / count * 1e6);
  std::printf("checked / plain: %.1f\n", checked / plain);
  PrintStepCosts(plain / count);
  ::CoUninitialize();
  return 0;
}
