// The report-log writer against report logs of the test's own: the one re-creation after an RPC
// failure, what counts as an RPC failure, a failed creation, and writes from several threads while
// the report log is re-created.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "FakeReportLog.h"
#include "KyLogInfo.h"
#include "TarnLogHelper.h"

namespace {

constexpr HRESULT kServerUnavailable = static_cast<HRESULT>(0x800706BA);
constexpr long kUntouched = 0x7777;

class TestRecord : public CKyLogInfo {
 public:
  TestRecord() : CKyLogInfo(L"{TEST}", 1, 1, 1, 1) {}
};

TEST(TarnLogHelper, RpcFailureRecreatesTheReportLogOnceAndWritesAgain) {
  FakeReportLogSource source(2);
  source.Log(0).answers = {{kServerUnavailable, 0}};
  CTarnLogHelper helper(source.Creator());
  TestRecord record;
  long result = kUntouched;

  EXPECT_EQ(helper.Log(&record, &result), S_OK);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(source.creations, 2);
  EXPECT_EQ(source.Log(0).Holders(), 0u);
  EXPECT_EQ(source.Log(1).categories, std::vector<std::wstring>{L"{TEST}"});
}

TEST(TarnLogHelper, SecondRpcFailureIsReturnedWithoutAThirdAttempt) {
  FakeReportLogSource source(2);
  source.Log(0).answers = {{kServerUnavailable, 0}};
  source.Log(1).answers = {{kServerUnavailable, 0}};
  CTarnLogHelper helper(source.Creator());
  TestRecord record;
  long result = kUntouched;

  EXPECT_EQ(helper.Log(&record, &result), kServerUnavailable);
  EXPECT_EQ(source.creations, 2);
  EXPECT_EQ(source.Log(0).WriteCount() + source.Log(1).WriteCount(), 2u);
}

// Only the RPC error range makes the report log anew; of those, only a call that never reached the
// server is written again: after one that may have, the server may have stored the record, and a
// second write would report the event twice.
TEST(TarnLogHelper, RpcFailuresRecreateAndOnlyUnreachedCallsAreWrittenAgain) {
  struct Case {
    DWORD hr;
    int creations;
    size_t writes;
  };
  const Case cases[] = {{0x800706A4, 2, 1}, {0x8007078B, 2, 1}, {0x800706A3, 1, 1}, {0x8007078C, 1, 1},
                        {0x800706BA, 2, 2}, {0x800706BF, 2, 2}, {0x800706BE, 2, 1}, {0x8007071A, 2, 1}};
  for (const Case& c : cases) {
    FakeReportLogSource source(2);
    source.Log(0).answers = {{static_cast<HRESULT>(c.hr), 0}};
    CTarnLogHelper helper(source.Creator());
    TestRecord record;
    long result = kUntouched;
    HRESULT hr = helper.Log(&record, &result);
    EXPECT_EQ(source.creations, c.creations) << std::hex << c.hr;
    EXPECT_EQ(source.Log(0).WriteCount() + source.Log(1).WriteCount(), c.writes) << std::hex << c.hr;
    EXPECT_EQ(hr, c.writes == 2 ? S_OK : static_cast<HRESULT>(c.hr)) << std::hex << c.hr;
  }
}

TEST(TarnLogHelper, SuccessCodesAndResultCodesComeBackUnchanged) {
  FakeReportLogSource source(1);
  source.Log(0).answers = {{S_FALSE, 0}, {S_OK, 0x00020000}, {S_OK, 5}};
  CTarnLogHelper helper(source.Creator());
  long result = kUntouched;
  EXPECT_EQ(helper.Log(nullptr, &result), S_FALSE);
  EXPECT_EQ(helper.Log(nullptr, &result), S_OK);
  EXPECT_EQ(result, 0x00020000);
  EXPECT_EQ(helper.Log(nullptr, &result), S_OK);
  EXPECT_EQ(result, 5);
  EXPECT_EQ(source.creations, 1);
}

TEST(TarnLogHelper, FailedCreationIsAnsweredByEveryWriteWithTheResultCodeUntouched) {
  FakeReportLogSource source(1);
  source.failures = {REGDB_E_CLASSNOTREG};
  CTarnLogHelper helper(source.Creator());
  long result = kUntouched;

  EXPECT_EQ(helper.Log(nullptr, &result), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(helper.Log(nullptr, &result), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(result, kUntouched);
  EXPECT_EQ(source.creations, 1);
  EXPECT_EQ(source.Log(0).WriteCount(), 0u);
}

TEST(TarnLogHelper, FailedRecreationLeavesTheHelperFailedForGood) {
  FakeReportLogSource source(2);
  source.failures = {S_OK, CO_E_SERVER_EXEC_FAILURE};
  source.Log(0).answers = {{kServerUnavailable, 0}};
  CTarnLogHelper helper(source.Creator());
  long result = kUntouched;

  EXPECT_EQ(helper.Log(nullptr, &result), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_EQ(helper.Log(nullptr, &result), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_EQ(source.creations, 2);
  EXPECT_EQ(source.Log(0).Holders(), 0u);
}

TEST(TarnLogHelper, ConcurrentWritesNeverReachAReleasedReportLog) {
  constexpr int kThreads = 4;
  constexpr int kWritesPerThread = 200;
  FakeReportLogSource source(64);
  for (size_t i = 0; i < 63; ++i) source.Log(i).answers = {{S_OK, 0}, {S_OK, 0}, {kServerUnavailable, 0}};
  CTarnLogHelper helper(source.Creator());

  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&] {
      TestRecord record;
      for (int i = 0; i < kWritesPerThread; ++i) {
        long result = 0;
        helper.Log(&record, &result);
      }
    });
  }
  for (std::thread& writer : writers) writer.join();

  int afterRelease = 0;
  for (size_t i = 0; i < 64; ++i) afterRelease += source.Log(i).writesAfterRelease.load();
  EXPECT_EQ(afterRelease, 0);
  EXPECT_GT(source.creations, 2);
}

}  // namespace
