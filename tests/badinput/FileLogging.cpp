// Every process of the prefix writes its diagnostic log to files at the most detailed level while
// these tests run, so that the bad values also pass through every line the product logs.
#include <gtest/gtest.h>

#include "BoundedRun.h"

namespace {

class FileLogging : public ::testing::Environment {
 public:
  void SetUp() override {
    Configure(L"mechanism file");
    Configure(L"set Severity 1");
  }

 private:
  static void Configure(const std::wstring& arguments) {
    const BadInput::RunOutcome run =
        BadInput::RunBounded(L"\"C:\\Program Files\\Varant\\ZEL\\KyLogCfg.exe\" " + arguments, 30000);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
  }
};

::testing::Environment* const kFileLogging = ::testing::AddGlobalTestEnvironment(new FileLogging);

}  // namespace
