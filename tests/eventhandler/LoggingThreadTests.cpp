#include <gtest/gtest.h>

#include <chrono>

#include "ComApartment.h"
#include "EventHandlerTestSupport.h"
#include "LoggingThread.h"

namespace {

using namespace ZelTest;

class LoggingThreadTest : public ::testing::Test {
 protected:
  LoggingThreadSettings Settings() const {
    LoggingThreadSettings settings;
    settings.loggerClass = logger_.Clsid();
    return settings;
  }

  LogRecorder& log_ = LogRecorder::Install();
  RegisteredTestLogger logger_;
};

TEST_F(LoggingThreadTest, ServesEveryQueuedItemInQueueOrderBeforeItEnds) {
  {
    CLoggingThread thread(Settings());
    EXPECT_TRUE(thread.queueEvent(LogEvent_Keyword, L"http://a.example/", L"bad*word", 1));
    EXPECT_TRUE(thread.queueEvent(LogEvent_UrlBlocked, nullptr, nullptr, 0xFFFFFFFF));
    EXPECT_TRUE(thread.queueUserInfo(1, L"kid", L"parent"));
    EXPECT_TRUE(thread.queueEvent(LogEvent_UrlVisited, L"b.example", L"", 2));
    EXPECT_TRUE(thread.queueUserInfo(0, L"kid", nullptr));
  }
  std::vector<std::wstring> expected = {
      L"LogEvent|3|http://a.example/|bad*word|1", L"LogEvent|0|(null)|(null)|4294967295",
      L"LogInfoUser|1|kid|parent",                L"LogEvent|5|b.example||2",
      L"LogInfoUser|0|kid|(null)",
  };
  EXPECT_EQ(logger_.Calls(), expected);
  EXPECT_EQ(logger_.Created(), 1u);
  EXPECT_EQ(logger_.Released(), 1u);
  // A null text reads "null" in the diagnostic line only; an unknown session prints as -1.
  EXPECT_NE(log_.Find(L"Logging event 0 [null][null][Session -1]\r\n"), nullptr);
  EXPECT_EQ(log_.Count(L"Logging thread is running\r\n"), 1u);
  EXPECT_EQ(log_.Count(L"Shutting down the logging thread\r\n"), 1u);
  EXPECT_EQ(log_.Count(L"Logging thread is exiting\r\n"), 1u);
  EXPECT_EQ(log_.Count(L"Creating the logging object... Done\r\n"), 1u);
}

// A report log that cannot be reached (its server gone, its class not registered again yet) loses
// nothing: the items wait, in order, and are written once it answers. A failure where the call may
// have reached it is not retried, and what a full backlog drops is counted in one line.
TEST_F(LoggingThreadTest, ItemsWaitInOrderWhileTheReportLogCannotBeReached) {
  const std::wstring kUnreached = L"hr 800706BA";
  struct Case {
    const char* name;
    std::vector<std::wstring> answers;
    size_t backlog;
    std::vector<std::wstring> written;  // the calls that succeeded, in order
    const wchar_t* droppedLine;
  };
  const Case cases[] = {
      {"server gone, then back", {kUnreached, L"hr 80040154", kUnreached}, 1000, {L"1", L"2", L"3"}, nullptr},
      {"call that may have reached it", {L"hr 800706BE"}, 1000, {L"2", L"3"}, nullptr},
      {"backlog full", {kUnreached, kUnreached, kUnreached, kUnreached, kUnreached}, 2, {L"1", L"2"},
       L"1 events were dropped while the report log could not be reached\r\n"},
  };
  for (const Case& c : cases) {
    RegisteredTestLogger logger;
    logger.SetAnswers(c.answers);
    LoggingThreadSettings settings;
    settings.loggerClass = logger.Clsid();
    settings.maxBacklogItems = c.backlog;
    settings.retryIntervalMs = 100;
    {
      CLoggingThread thread(settings);
      for (const wchar_t* page : {L"1", L"2", L"3"}) thread.queueEvent(LogEvent_UrlVisited, page, nullptr, 1);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (logger.Calls().size() < c.answers.size() + c.written.size() &&
             std::chrono::steady_clock::now() < deadline)
        ::Sleep(20);
    }
    std::vector<std::wstring> calls = logger.Calls();
    ASSERT_EQ(calls.size(), c.answers.size() + c.written.size()) << c.name;
    std::vector<std::wstring> written;
    for (size_t i = c.answers.size(); i < calls.size(); ++i) written.push_back(calls[i]);
    std::vector<std::wstring> expected;
    for (const std::wstring& page : c.written) expected.push_back(L"LogEvent|5|" + page + L"|(null)|1");
    EXPECT_EQ(written, expected) << c.name;
    if (c.droppedLine) EXPECT_EQ(log_.Count(c.droppedLine), 1u) << c.name;
  }
}

TEST_F(LoggingThreadTest, FirstPostRightAfterConstructionIsNeverRefused) {
  for (int round = 0; round < 20; ++round) {
    CLoggingThread thread(Settings());
    EXPECT_TRUE(thread.queueEvent(LogEvent_UrlVisited, L"first", nullptr, round)) << round;
  }
  EXPECT_EQ(logger_.Calls().size(), 20u);
}

// A killed worker could leave the heap, COM or the log locked; a hung one is left to finish, and
// serves what was queued behind the hang once its logger returns.
TEST_F(LoggingThreadTest, LoggerHangingPastTenSecondsIsLeftToFinishOnItsOwn) {
  logger_.SetAnswers({L"hang"});
  auto start = std::chrono::steady_clock::now();
  {
    CLoggingThread thread(Settings());
    thread.queueEvent(LogEvent_Keyword, L"slow", nullptr, 1);
    thread.queueEvent(LogEvent_Keyword, L"lost behind the hang", nullptr, 1);
  }
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(CLoggingThread::kStopTimeoutMs - 100));
  EXPECT_LT(elapsed, std::chrono::milliseconds(14000));
  const LogLine* tooLong = log_.Find(L"Logging Thread took too long to exit!\r\n");
  ASSERT_NE(tooLong, nullptr);
  EXPECT_EQ(tooLong->level, ETWLogging::kLevelInformation);
  EXPECT_EQ(log_.Count(L"Leaving the logging thread to end when its logger returns\r\n"), 1u);
  EXPECT_EQ(log_.Count(L"Logging thread is exiting\r\n"), 0u);
  // The hang lasts 15 seconds in all.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (log_.Count(L"Logging thread is exiting\r\n") == 0 && std::chrono::steady_clock::now() < deadline)
    ::Sleep(100);
  EXPECT_EQ(log_.Count(L"Logging thread is exiting\r\n"), 1u);
  EXPECT_EQ(logger_.Calls().size(), 2u);
  EXPECT_EQ(logger_.Released(), 1u);
}

// The service frees unused libraries from its own threads while the worker drops and makes
// loggers; the logger's library must not go from under a Release still returning through it.
TEST_F(LoggingThreadTest, TheLoggersLibraryStaysLoadedWhileTheWorkerLives) {
  Strata::MultithreadedApartment apartment;  // the worker's apartment, whose libraries are freed here
  logger_.SetAnswers({L"hr 800706BA"});      // unreached: the worker drops its only logger
  LoggingThreadSettings settings = Settings();
  settings.retryIntervalMs = 60000;
  {
    CLoggingThread thread(settings);
    thread.queueEvent(LogEvent_UrlVisited, L"kept", nullptr, 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (logger_.Released() == 0 && std::chrono::steady_clock::now() < deadline) ::Sleep(20);
    ASSERT_EQ(logger_.Released(), 1u);
    ::CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_NE(::GetModuleHandleW(kTestLoggerDll), nullptr) << "unloaded while the worker may still call it";
  }
  ::CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_EQ(::GetModuleHandleW(kTestLoggerDll), nullptr) << "the worker kept the library past its end";
  EXPECT_EQ(logger_.Calls().size(), 2u);  // the kept item, written by the last try
}

TEST_F(LoggingThreadTest, TerminateBeforeTheWorkerRanNeitherWaitsNorLetsItEnterItsLoop) {
  Strata::UniqueHandle gate(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  LoggingThreadSettings settings = Settings();
  settings.startGate = gate.get();
  settings.readyTimeoutMs = 0;
  CLoggingThread thread(settings);
  DWORD workerId = thread.ThreadId();
  ASSERT_NE(workerId, 0u);
  Strata::UniqueHandle worker(::OpenThread(SYNCHRONIZE, FALSE, workerId));

  auto start = std::chrono::steady_clock::now();
  thread.Terminate();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  const LogLine* early = log_.Find(L"Terminating the logging thread before it got a chance to run\r\n");
  ASSERT_NE(early, nullptr);
  EXPECT_EQ(early->level, ETWLogging::kLevelWarning);
  EXPECT_FALSE(thread.queueEvent(LogEvent_Keyword, L"after the end", nullptr, 1));

  ::SetEvent(gate.get());
  ASSERT_EQ(::WaitForSingleObject(worker.get(), 5000), WAIT_OBJECT_0);
  EXPECT_EQ(log_.Count(L"Logging thread is running\r\n"), 0u);
  EXPECT_EQ(log_.Count(L"Shutting down the logging thread\r\n"), 0u);
  EXPECT_EQ(logger_.Created(), 0u);
}

TEST_F(LoggingThreadTest, FailedCreationDropsOnlyThatItemAndIsTriedAgainForTheNext) {
  logger_.FailCreations(1);
  {
    CLoggingThread thread(Settings());
    thread.queueEvent(LogEvent_Keyword, L"dropped", nullptr, 1);
    thread.queueEvent(LogEvent_Keyword, L"logged", nullptr, 1);
  }
  EXPECT_EQ(log_.Count(L"Failed to create the logger [Error 0x80004005]\r\n"), 1u);
  EXPECT_EQ(logger_.Calls(), std::vector<std::wstring>{L"LogEvent|3|logged|(null)|1"});
}

TEST_F(LoggingThreadTest, OnlyTheErrorBitsOfTheResultCountAsFailure) {
  logger_.SetAnswers({L"result 20000", L"result 1", L"hr 80004005", L"result 10000"});
  {
    CLoggingThread thread(Settings());
    thread.queueEvent(LogEvent_TimeLimit, L"a", nullptr, 1);
    thread.queueEvent(LogEvent_PersonalInfo, L"b", nullptr, 1);
    thread.queueEvent(LogEvent_Keyword, L"c", nullptr, 1);
    thread.queueUserInfo(1, L"kid", L"parent");
  }
  EXPECT_EQ(logger_.Calls().size(), 4u);
  std::vector<std::wstring> failures;
  for (const LogLine& line : log_.Lines())
    if (line.level == ETWLogging::kLevelError) failures.push_back(line.text);
  std::vector<std::wstring> expected = {
      L"Failed to log event type 2. [Error 0x00000000][Result 0x00000001]\r\n",
      L"Failed to log event type 3. [Error 0x80004005][Result 0x00000000]\r\n",
      L"Failed to log user event (action 1). [Error 0x00000000][Result 0x00010000]\r\n",
  };
  EXPECT_EQ(failures, expected);
}

TEST_F(LoggingThreadTest, MessagesOtherThanItemsAreIgnored) {
  {
    CLoggingThread thread(Settings());
    EXPECT_TRUE(::PostThreadMessageW(thread.ThreadId(), WM_USER + 7, 1, 2));
    EXPECT_TRUE(::PostThreadMessageW(thread.ThreadId(), WM_TIMER, 0, 0));
    EXPECT_TRUE(::PostThreadMessageW(thread.ThreadId(), WM_LOG_EVENT, 0, 0));
    thread.queueEvent(LogEvent_ImageBlocked, L"after", nullptr, 3);
  }
  EXPECT_EQ(logger_.Calls(), std::vector<std::wstring>{L"LogEvent|4|after|(null)|3"});
  EXPECT_EQ(log_.Count(L"Logging thread is exiting\r\n"), 1u);
}

TEST_F(LoggingThreadTest, AccessViolationInTheLoggerIsCaughtAndTheNextItemsAreServed) {
  logger_.SetAnswers({L"fault", L"ok", L"fault", L"ok"});
  {
    CLoggingThread thread(Settings());
    thread.queueEvent(LogEvent_Keyword, L"faults", nullptr, 1);
    thread.queueEvent(LogEvent_Keyword, L"served", nullptr, 1);
    thread.queueUserInfo(0, L"faults", L"parent");
    thread.queueUserInfo(1, L"served", L"parent");
  }
  EXPECT_EQ(logger_.Calls().size(), 4u);
  const LogLine* caught = log_.Find(L"Caught exception 0xC0000005 in logEvent\r\n");
  ASSERT_NE(caught, nullptr);
  EXPECT_EQ(caught->level, ETWLogging::kLevelError);
  EXPECT_EQ(log_.Count(L"Caught exception 0xC0000005 in logEvent\r\n"), 1u);
  EXPECT_EQ(log_.Count(L"Caught exception 0xC0000005 in logUserInfo\r\n"), 1u);
  EXPECT_EQ(log_.Count(L"Logging thread is exiting\r\n"), 1u);
}

}  // namespace
