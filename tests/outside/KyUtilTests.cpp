// The utility library stand-in: the whole export table by name, and KyGetOSVersion2 answering
// what its knobs say.
#include <windows.h>
#include <versionhelpers.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Handles.h"
#include "KyUtil.h"
#include "ProcessKnobs.h"
#include "TestSupport.h"

namespace {

class KyUtilStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(knobs_.Created()) << "cannot write the per-process knob key";
    library_.reset(::LoadLibraryW(ZelTest::SiblingPath(L"KyUtil.dll").c_str()));
    ASSERT_TRUE(library_) << ::GetLastError();
    getOSVersion2_ = reinterpret_cast<KyGetOSVersion2Fn*>(::GetProcAddress(library_.get(), "KyGetOSVersion2"));
    ASSERT_TRUE(getOSVersion2_);
  }

  ZelTest::ProcessKnobs knobs_{L"KyUtil"};
  Strata::UniqueModule library_;
  KyGetOSVersion2Fn* getOSVersion2_ = nullptr;
};

TEST_F(KyUtilStandIn, ExportsTheWholeTableByName) {
  std::set<std::string> names(std::begin(kKyUtilExportNames), std::end(kKyUtilExportNames));
  EXPECT_EQ(names.size(), 50u) << "names repeat";
  for (const char* name : kKyUtilExportNames) EXPECT_TRUE(::GetProcAddress(library_.get(), name)) << name;
  EXPECT_STREQ(kKyUtilExportNames[KyUtilExport_KyGetOSVersion2], "KyGetOSVersion2");
}

TEST_F(KyUtilStandIn, GetOSVersion2AnswersTheConfiguredGeneration) {
  for (DWORD configured : {DWORD{KyOSGeneration_Windows8Up}, DWORD{KyOSGeneration_Vista}}) {
    knobs_.SetDword(L"OSVersion2", configured);
    int version = -1;
    EXPECT_EQ(getOSVersion2_(&version), 0u);
    EXPECT_EQ(version, static_cast<int>(configured));
  }
}

TEST_F(KyUtilStandIn, GetOSVersion2ReturnsTheConfiguredFailureAndLeavesTheValue) {
  knobs_.SetDword(L"OSVersion2", KyOSGeneration_Windows8Up);
  knobs_.SetDword(L"OSVersion2Result", ERROR_ACCESS_DENIED);
  int version = -1;
  EXPECT_EQ(getOSVersion2_(&version), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(version, -1);
}

TEST_F(KyUtilStandIn, GetOSVersion2WithoutKnobReportsTheRunningWindows) {
  int version = -1;
  EXPECT_EQ(getOSVersion2_(&version), 0u);
  EXPECT_EQ(version, ::IsWindows8OrGreater() ? KyOSGeneration_Windows8Up : KyOSGeneration_Windows7);
}

TEST_F(KyUtilStandIn, GetOSVersion2RefusesANullOutPointer) {
  EXPECT_EQ(getOSVersion2_(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(KyUtilStandIn, UncalledExportsAnswerNotImplemented) {
  auto other = reinterpret_cast<DWORD(WINAPI*)()>(::GetProcAddress(library_.get(), "KyGetOSVersion"));
  ASSERT_TRUE(other);
  EXPECT_EQ(other(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
}

}  // namespace
