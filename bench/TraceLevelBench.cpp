// What a disabled diagnostic costs a caller with the default back end and no trace session: the
// LogIsEnabled test every ZEL_LOG makes, against an empty function call, in the same run.
#include <windows.h>

#include <cstdio>

#include "ETWLogging.h"
#include "LogInstance.h"

namespace {

constexpr int kCalls = 20000000;

// Kept out of line so that the floor is a real call, as LogIsEnabled is.
__attribute__((noinline)) bool EmptyCall(DWORD level) {
  asm volatile("");
  return level == 0;
}

template <typename Body>
double Seconds(Body body) {
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  body();
  ::QueryPerformanceCounter(&end);
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main() {
  SetLogIdentity(nullptr, L"Bench", nullptr, nullptr, ETWLogging::kMechanismFromRegistry);
  CLogInstance* instance = GetLogInstance();
  if (!instance || !dynamic_cast<ETWLogging::CETWLogging*>(instance->Logger())) {
    printf("the process log is not the event-tracing back end (\"Logging Mechanism\" is 1?)\n");
    return 1;
  }
  volatile int sink = 0;
  LogIsEnabled(ETWLogging::kLevelError);  // the first test registers the provider
  double tested = Seconds([&] {
    for (int i = 0; i < kCalls; ++i) sink += LogIsEnabled(ETWLogging::kLevelError);
  });
  double empty = Seconds([&] {
    for (int i = 0; i < kCalls; ++i) sink += EmptyCall(ETWLogging::kLevelError);
  });
  printf("disabled LogIsEnabled: %.2f ns per call\n", tested * 1e9 / kCalls);
  printf("empty function call: %.2f ns per call\n", empty * 1e9 / kCalls);
  printf("ratio LogIsEnabled/empty call: %.2f (no session, so nothing is formatted or sent)\n", tested / empty);
  return sink == -1;
}
