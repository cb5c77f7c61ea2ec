// How a stand-in reads its knobs: the per-process key wins over the stand-in's own key, and
// counters are kept only where a test asked for them. Each case uses a stand-in name of its own,
// so even the machine-wide values it writes meet no other test.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ProcessKnobs.h"
#include "StandInKnobs.h"
#include "TestSupport.h"

namespace {

class StandInKnobsTest : public ::testing::Test {
 protected:
  ~StandInKnobsTest() override {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, machineKey_.c_str());
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, machineKey_.c_str());
  }

  void SetMachineWide(const wchar_t* name, DWORD value) {
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, machineKey_.c_str(), name, REG_DWORD, &value, sizeof(value));
  }

  std::wstring name_ = L"KnobsTest-" + ZelTest::NewGuidText();
  std::wstring machineKey_ = L"Software\\ZelStandIns\\" + name_;
  ZelStandIns::StandInKnobs knobs_{name_.c_str()};
};

TEST_F(StandInKnobsTest, ProcessValueWinsOverTheMachineWideOne) {
  EXPECT_EQ(knobs_.ReadDword(L"Locale"), std::nullopt);
  SetMachineWide(L"Locale", 0x409);
  EXPECT_EQ(knobs_.ReadDword(L"Locale"), 0x409u);
  ZelTest::ProcessKnobs process(name_.c_str());
  process.SetDword(L"Locale", 0x407);
  EXPECT_EQ(knobs_.ReadDword(L"Locale"), 0x407u);
}

TEST_F(StandInKnobsTest, ValuesOfOtherTypesAreNotKnobs) {
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, machineKey_.c_str(), L"Locale", REG_SZ, L"1031", 10);
  EXPECT_EQ(knobs_.ReadDword(L"Locale"), std::nullopt);
}

TEST_F(StandInKnobsTest, CountsOnlyWhereAProcessKeyExists) {
  knobs_.CountCall(L"Calls");
  EXPECT_EQ(knobs_.ReadDword(L"Calls"), std::nullopt);
  ZelTest::ProcessKnobs process(name_.c_str());
  knobs_.CountCall(L"Calls");
  knobs_.CountCall(L"Calls");
  EXPECT_EQ(process.ReadDword(L"Calls"), 2u);
}

TEST(StandInKnobsPaths, NameTheStandInAndTheProcess) {
  EXPECT_EQ(ZelStandIns::StandInKnobs::ProcessKeyPath(L"KyUtil", 42), L"Software\\ZelStandIns\\KyUtil\\Processes\\42");
}

}  // namespace
