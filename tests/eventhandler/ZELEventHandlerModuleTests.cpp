#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "EventHandlerTestSupport.h"
#include "ZELEventHandlerModule.h"

namespace {

using namespace ZelTest;

class ModuleTest : public ::testing::Test {
 protected:
  ModuleTest() {
    LoggingThreadSettings settings;
    settings.loggerClass = logger_.Clsid();
    module_.SetLoggingThreadSettings(settings);
  }

  LogRecorder& log_ = LogRecorder::Install();
  RegisteredTestLogger logger_;
  CZELEventHandlerModule module_;
};

const wchar_t kFirstLock[] = L"Lock count is 1... creating logging thread\r\n";
const wchar_t kLastUnlock[] = L"Lock count is 0... releasing cached objects\r\n";

TEST_F(ModuleTest, FirstLockStartsTheLoggingThreadAndLastUnlockStopsIt) {
  EXPECT_FALSE(module_.QueueEvent(LogEvent_Keyword, L"before", nullptr, 1));
  EXPECT_EQ(module_.Lock(), 1);
  EXPECT_EQ(module_.Lock(), 2);
  EXPECT_EQ(module_.CanUnloadNow(), S_FALSE);
  EXPECT_TRUE(module_.QueueEvent(LogEvent_Keyword, L"while locked", nullptr, 1));
  EXPECT_TRUE(module_.QueueUserInfo(1, L"kid", L"parent"));
  EXPECT_EQ(module_.Unlock(), 1);
  EXPECT_EQ(module_.Unlock(), 0);

  EXPECT_EQ(log_.Count(kFirstLock), 1u);
  EXPECT_EQ(log_.Count(kLastUnlock), 1u);
  EXPECT_EQ(log_.Count(L"Logging thread is exiting\r\n"), 1u);
  std::vector<std::wstring> expected = {L"LogEvent|3|while locked|(null)|1", L"LogInfoUser|1|kid|parent"};
  EXPECT_EQ(logger_.Calls(), expected);
  EXPECT_EQ(module_.CanUnloadNow(), S_OK);
  EXPECT_FALSE(module_.QueueEvent(LogEvent_Keyword, L"after", nullptr, 1));
}

// A logger that stalls fills the queue; what cannot be queued is counted and written in one line
// once the burst is over, never dropped silently.
TEST_F(ModuleTest, EventsThatCannotBeQueuedAreCountedOncePerBurst) {
  LoggingThreadSettings settings;
  settings.loggerClass = logger_.Clsid();
  settings.maxQueuedItems = 3;
  module_.SetLoggingThreadSettings(settings);
  logger_.SetAnswers({L"wait"});
  Strata::UniqueHandle go(::CreateEventW(nullptr, TRUE, FALSE, kTestLoggerGo));
  const wchar_t kTwoDropped[] = L"2 events could not be queued for the report log and were dropped\r\n";
  module_.Lock();
  EXPECT_TRUE(module_.QueueEvent(LogEvent_UrlVisited, L"held", nullptr, 1));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (logger_.Calls().empty() && std::chrono::steady_clock::now() < deadline) ::Sleep(20);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(module_.QueueEvent(LogEvent_UrlVisited, L"queued", nullptr, 1)) << i;
  for (int i = 0; i < 2; ++i) EXPECT_FALSE(module_.QueueUserInfo(1, L"dropped", nullptr)) << i;
  EXPECT_EQ(log_.Count(kTwoDropped), 0u) << "the burst is not over yet";
  ::SetEvent(go.get());
  while (logger_.Calls().size() < 4 && std::chrono::steady_clock::now() < deadline) ::Sleep(20);
  EXPECT_TRUE(module_.QueueEvent(LogEvent_UrlVisited, L"after", nullptr, 1));
  EXPECT_EQ(log_.Count(kTwoDropped), 1u);
  module_.Unlock();
  EXPECT_EQ(logger_.Calls().size(), 5u);
}

TEST_F(ModuleTest, EachRiseFromZeroStartsAFreshThread) {
  for (int round = 0; round < 3; ++round) {
    module_.Lock();
    EXPECT_TRUE(module_.QueueEvent(LogEvent_UrlVisited, L"page", nullptr, round));
    module_.Unlock();
  }
  EXPECT_EQ(log_.Count(kFirstLock), 3u);
  EXPECT_EQ(log_.Count(kLastUnlock), 3u);
  EXPECT_EQ(logger_.Calls().size(), 3u);
  EXPECT_EQ(logger_.Created(), logger_.Released());
}

// Threads lock, queue and unlock as handler objects do, so the count keeps crossing zero while
// other threads are queuing.
TEST_F(ModuleTest, ConcurrentLockQueueUnlockDeliversEveryAcceptedEventExactlyOnce) {
  // One round first, so that what lives for the whole process (COM, the test server) is counted.
  module_.Lock();
  module_.QueueEvent(LogEvent_UrlVisited, L"warm-up", nullptr, 0);
  module_.Unlock();
  DWORD handlesBefore = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &handlesBefore);

  constexpr int kThreads = 8;
  std::atomic<bool> stop{false};
  std::vector<std::vector<std::wstring>> accepted(kThreads);
  std::atomic<int> refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; !stop; ++n) {
        module_.Lock();
        std::wstring page = L"t" + std::to_wstring(t) + L"-" + std::to_wstring(n);
        if (module_.QueueEvent(LogEvent_UrlVisited, page.c_str(), nullptr, t))
          accepted[t].push_back(page);
        else
          ++refused;
        module_.Unlock();
        // Mostly outside the lock, so that all eight are often out at once and the count crosses zero.
        ::Sleep((n + t) % 3);
      }
    });
  }
  ::Sleep(4000);
  stop = true;
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(refused, 0);
  EXPECT_EQ(module_.GetLockCount(), 0);
  EXPECT_EQ(module_.CanUnloadNow(), S_OK);
  std::multiset<std::wstring> expected{L"warm-up"};
  for (const auto& pages : accepted)
    for (const std::wstring& page : pages) expected.insert(page);
  std::multiset<std::wstring> delivered;
  for (const std::wstring& call : logger_.Calls()) {
    std::wstring page = call.substr(11);  // after "LogEvent|5|"
    delivered.insert(page.substr(0, page.find(L'|')));
  }
  EXPECT_GT(expected.size(), 100u);
  EXPECT_EQ(log_.Count(L"Logging Thread took too long to exit!\r\n"), 0u);
  std::printf("%zu events, %zu thread starts\n", expected.size(), log_.Count(kFirstLock));
  EXPECT_EQ(delivered, expected);
  EXPECT_EQ(log_.Count(kFirstLock), log_.Count(kLastUnlock));
  EXPECT_EQ(logger_.Created(), logger_.Released());

  DWORD handlesAfter = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &handlesAfter);
  EXPECT_LE(handlesAfter, handlesBefore + 4) << "before " << handlesBefore << ", after " << handlesAfter;
}

// The destructor runs at library unload under the loader lock, where waiting for a thread can
// deadlock: with a count still held it lets the worker finish on its own.
TEST_F(ModuleTest, DestroyingTheModuleWithACountHeldNeverWaitsForTheLoggingThread) {
  logger_.SetAnswers({L"hang"});
  auto module = std::make_unique<CZELEventHandlerModule>();
  LoggingThreadSettings settings;
  settings.loggerClass = logger_.Clsid();
  module->SetLoggingThreadSettings(settings);
  module->Lock();
  module->QueueEvent(LogEvent_Keyword, L"hangs", nullptr, 1);
  while (logger_.Calls().empty()) ::Sleep(10);

  auto start = std::chrono::steady_clock::now();
  module.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(log_.Count(L"Shutting down the logging thread\r\n"), 0u);
}

TEST_F(ModuleTest, GetZelTarnWithoutTheBridgeLibraryReturnsNullAndCachesNothing) {
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  module_.Lock();
  EXPECT_EQ(module_.GetZelTarn(), nullptr);
  EXPECT_EQ(module_.GetZelTarn(), nullptr);
  EXPECT_EQ(log_.Count(L"Failed to create the ZEL TARN Config [Error 0x80040154]\r\n"), 2u);
  module_.Unlock();
  ::CoUninitialize();
}

TEST(ModuleSession, SessionOfAProcessThatIsGoneIsUnknown) {
  LogRecorder& log = LogRecorder::Install();
  EXPECT_EQ(CZELEventHandlerModule::getSessionIdFromPID(::GetCurrentProcessId()), 1u);
  // Process ids are multiples of 4 far below this one.
  constexpr DWORD kGoneProcessId = 0x7FFFFFF0;
  EXPECT_EQ(CZELEventHandlerModule::getSessionIdFromPID(kGoneProcessId), 0xFFFFFFFFu);
  EXPECT_EQ(log.Count(L"Failed to open process " + std::to_wstring(kGoneProcessId) + L"\r\n"), 1u);
}

}  // namespace
