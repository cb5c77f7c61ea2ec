// Handlers made, called and released on many threads at once, with the logging thread starting and
// stopping underneath as the module's lock count crosses zero.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "HandlerTestSupport.h"

namespace {

using namespace ZelTest;

class HandlerConcurrencyTest : public HandlerTest {
 protected:
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

TEST_F(HandlerConcurrencyTest, EveryAcceptedEventReachesTheLoggerOnceAndTheModuleEndsIdle) {
  constexpr int kThreads = 8;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);
  DWORD handlesBefore = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &handlesBefore);

  std::vector<std::vector<std::wstring>> accepted(kThreads);
  std::vector<std::thread> threads;
  for (int thread = 0; thread < kThreads; ++thread)
    threads.emplace_back([&, thread] {
      ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      accepted[thread] = Hammer(thread, deadline);
      ::CoUninitialize();
    });
  for (std::thread& thread : threads) thread.join();

  std::vector<std::wstring> expected;
  for (const std::vector<std::wstring>& one : accepted) expected.insert(expected.end(), one.begin(), one.end());
  std::vector<std::wstring> calls = logger_.Calls();
  std::sort(expected.begin(), expected.end());
  std::sort(calls.begin(), calls.end());
  EXPECT_GT(expected.size(), 2u * kThreads);
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(g_module.GetLockCount(), 0);
  EXPECT_EQ(g_module.CanUnloadNow(), S_OK);
  DWORD handlesAfter = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &handlesAfter);
  EXPECT_LE(handlesAfter, handlesBefore + 8) << "handles before " << handlesBefore;
}

}  // namespace
