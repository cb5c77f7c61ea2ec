// What the publisher check costs per creation: objects of the platform's user manager created
// through the checked form against the plain form of the same class, interleaved round by round in
// one run. The first checked creation, which verifies the library's signature in full, is shown on
// its own; later ones find the library among the files this process has verified.
//
// Run it where scripts/prefix installed the product and the platform:
//   scripts/prefix /tmp/bench && scripts/wine-run --prefix /tmp/bench build/bin/CheckedCreationBench.exe
#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <wrl/client.h>

#include "CreateInstanceViaFactory.h"
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
  ::CoUninitialize();
  return 0;
}
