// Handlers made, called and released on many threads at once, with the logging thread starting and
// stopping underneath as the module's lock count crosses zero.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <chrono>
#include <thread>
#include <vector>

#include "HandlerTestSupport.h"

#include <psapi.h>

namespace {

using namespace ZelTest;

class HandlerConcurrencyTest : public HandlerTest {
 protected:
  HandlerConcurrencyTest() {
    // The queue's own bound is another test's matter: here every event must fit.
    LoggingThreadSettings settings;
    settings.loggerClass = logger_.Clsid();
    settings.maxQueuedItems = LONG_MAX;
    g_module.SetLoggingThreadSettings(settings);
  }

  // `threads` threads hammering until `duration` has passed; what they expect the logger to get.
  std::vector<std::wstring> RunThreads(int threads, std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    std::vector<std::vector<std::wstring>> accepted(threads);
    std::vector<std::thread> running;
    for (int thread = 0; thread < threads; ++thread)
      running.emplace_back([&, thread] {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        accepted[thread] = Hammer(thread, deadline);
        ::CoUninitialize();
      });
    for (std::thread& thread : running) thread.join();
    std::vector<std::wstring> all;
    for (const std::vector<std::wstring>& one : accepted) all.insert(all.end(), one.begin(), one.end());
    return all;
  }

 private:
  // Runs rounds on one thread until the deadline; each round makes two handlers, sends each a few
  // events that pass their filters (and some that do not) and releases them. Returns what it
  // expects the logger to receive.
  std::vector<std::wstring> Hammer(int thread, std::chrono::steady_clock::time_point deadline) {
    std::vector<std::wstring> accepted;
    const std::wstring session = OwnSession();
    for (int round = 0; std::chrono::steady_clock::now() < deadline; ++round) {
      auto denied = CreateHandler<IKyGSAccessDeniedEvent>(CLSID_GSAccessDeniedEventHandler);
      auto visited = CreateHandler<IKyGSUrlVisitedEvent>(CLSID_GSUrlVisitedEventHandler);
      if (!denied || !visited) {
        ADD_FAILURE() << "no handler in round " << round;
        break;
      }
      std::wstring url = L"http://t" + std::to_wstring(thread) + L"r" + std::to_wstring(round) + L"/";
      KYGS_ACCESS_DENIED_DETAILS blocked{self_, KyGS_Content_Http, KyGS_AccessDenied_OnBlockedUrlList, &url[0]};
      KYGS_ACCESS_DENIED_DETAILS category{self_, KyGS_Content_Http, KyGS_AccessDenied_UrlCategories, &url[0]};
      denied->OnAccessDeniedEvent(&blocked);
      denied->OnAccessDeniedEvent(&category);
      accepted.push_back(LogEvent(LogEvent_UrlBlocked, url, L"", session));
      KYGS_URL_VISITED_DETAILS visit{self_, &url[0], nullptr};
      visited->OnUrlVisitedEvent(&visit);
      visited->OnUrlVisitedEvent(&visit);
      accepted.push_back(LogEvent(LogEvent_UrlVisited, url, L"", session));
    }
    return accepted;
  }

  const DWORD self_ = ::GetCurrentProcessId();
};

struct Footprint {
  DWORD handles = 0;
  SIZE_T privateBytes = 0;
};

Footprint ProcessFootprint() {
  Footprint footprint;
  ::GetProcessHandleCount(::GetCurrentProcess(), &footprint.handles);
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  if (::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof(counters)))
    footprint.privateBytes = counters.PrivateUsage;
  return footprint;
}

TEST_F(HandlerConcurrencyTest, EveryAcceptedEventReachesTheLoggerOnceAndTheModuleEndsIdle) {
  constexpr int kThreads = 8;
  // A first round lets the process reach its working size (thread stacks, heaps, the logger).
  std::vector<std::wstring> expected = RunThreads(kThreads, std::chrono::seconds(1));
  const Footprint before = ProcessFootprint();
  std::vector<std::wstring> more = RunThreads(kThreads, std::chrono::seconds(2));
  const Footprint after = ProcessFootprint();
  expected.insert(expected.end(), more.begin(), more.end());

  // On a loaded machine the last unlock may leave a worker still draining past its 10-second wait
  // (the test logger records each call in the registry); that worker finishes on its own.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (logger_.Calls().size() < expected.size() && std::chrono::steady_clock::now() < deadline) ::Sleep(100);
  std::vector<std::wstring> calls = logger_.Calls();
  std::sort(expected.begin(), expected.end());
  std::sort(calls.begin(), calls.end());
  EXPECT_GT(more.size(), 2u * kThreads);
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(g_module.GetLockCount(), 0);
  EXPECT_EQ(g_module.CanUnloadNow(), S_OK);
  EXPECT_LE(after.handles, before.handles + 8) << "handles before " << before.handles;
  EXPECT_LE(after.privateBytes, before.privateBytes + 2 * 1024 * 1024) << "bytes before " << before.privateBytes;
}

}  // namespace
