// The language library stand-in, bound the way the system binds it, serves the product texts in
// the language its locale knob names and in English otherwise.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ProcessKnobs.h"
#include "RtMui.h"
#include "TestSupport.h"

namespace {

constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
constexpr LANGID kAustrianGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN_AUSTRIAN);
constexpr LANGID kFrench = MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);
constexpr UINT kChatLabel = 6017;

class KyRtMuiStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(knobs_.Created()) << "cannot write the per-process knob key";
    ASSERT_TRUE(binding_.IsAvailable()) << binding_.BindingResult();
  }

  // Loads the resource library through the language library: as a data file, the way the
  // event-handler library does, by default.
  HMODULE LoadProductLibrary() {
    resources_.reset(
        binding_.LoadLibraryExW(ZelTest::SiblingPath(L"ZelRes2.DLL").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    return resources_.get();
  }

  std::wstring Load(UINT id, LANGID language = 0) {
    wchar_t buffer[1024] = L"untouched";
    int length = binding_.LoadStringW(resources_.get(), id, buffer, 1024, language);
    return std::wstring(buffer, length > 0 ? length : 0);
  }

  ZelTest::ProcessKnobs knobs_{L"KyRtMui"};
  Strata::RtMuiImpl binding_{ZelTest::SiblingPath(L"KyRtMui.dll").c_str()};
  Strata::UniqueModule resources_;
};

TEST_F(KyRtMuiStandIn, BindsAndLoadsTheChatLabelInEnglish) {
  knobs_.SetDword(L"Locale", kEnglish);
  ASSERT_TRUE(LoadProductLibrary()) << ::GetLastError();
  EXPECT_EQ(binding_.GetMappedLocale(), kEnglish);
  EXPECT_EQ(Load(kChatLabel), L"a chat");
}

// The bridge library loads the resource library as a module, not as a data file.
TEST_F(KyRtMuiStandIn, ServesTextsFromTheLibraryLoadedAsAModule) {
  knobs_.SetDword(L"Locale", kGerman);
  resources_.reset(binding_.LoadLibraryW(ZelTest::SiblingPath(L"ZelRes2.DLL").c_str()));
  ASSERT_TRUE(resources_) << ::GetLastError();
  EXPECT_EQ(Load(6018), L"einer E-Mail");
}

TEST_F(KyRtMuiStandIn, GermanLocaleKnobGivesGermanTexts) {
  knobs_.SetDword(L"Locale", kGerman);
  ASSERT_TRUE(LoadProductLibrary());
  EXPECT_EQ(binding_.GetMappedLocale(), kGerman);
  EXPECT_EQ(Load(kChatLabel), L"einem Chat");
  EXPECT_EQ(Load(6018), L"einer E-Mail");
}

TEST_F(KyRtMuiStandIn, RegionalGermanMapsToTheShippedGerman) {
  knobs_.SetDword(L"Locale", kAustrianGerman);
  ASSERT_TRUE(LoadProductLibrary());
  EXPECT_EQ(binding_.GetMappedLocale(), kGerman);
  EXPECT_EQ(Load(kChatLabel), L"einem Chat");
}

TEST_F(KyRtMuiStandIn, UnshippedLanguageFallsBackToEnglish) {
  knobs_.SetDword(L"Locale", kFrench);
  ASSERT_TRUE(LoadProductLibrary());
  EXPECT_EQ(binding_.GetMappedLocale(), kEnglish);
  EXPECT_EQ(Load(kChatLabel), L"a chat");
  EXPECT_EQ(Load(kChatLabel, kFrench), L"a chat");
}

TEST_F(KyRtMuiStandIn, WithoutKnobFollowsTheUserInterfaceLanguage) {
  ASSERT_TRUE(LoadProductLibrary());
  bool german = PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_GERMAN;
  EXPECT_EQ(binding_.GetMappedLocale(), german ? kGerman : kEnglish);
  EXPECT_EQ(Load(kChatLabel), german ? L"einem Chat" : L"a chat");
}

TEST_F(KyRtMuiStandIn, ExplicitLanguageWinsOverTheKnob) {
  knobs_.SetDword(L"Locale", kGerman);
  ASSERT_TRUE(LoadProductLibrary());
  EXPECT_EQ(Load(kChatLabel, kEnglish), L"a chat");
  knobs_.SetDword(L"Locale", kEnglish);
  EXPECT_EQ(Load(kChatLabel, kGerman), L"einem Chat");
}

TEST_F(KyRtMuiStandIn, LoadStringCutsToTheBufferAndReportsMissingStrings) {
  knobs_.SetDword(L"Locale", kEnglish);
  ASSERT_TRUE(LoadProductLibrary());
  wchar_t small[4] = L"xyz";
  EXPECT_EQ(binding_.LoadStringW(resources_.get(), 6018, small, 4, 0), 3);
  EXPECT_STREQ(small, L"an ");
  wchar_t buffer[16] = L"";
  EXPECT_EQ(binding_.LoadStringW(resources_.get(), 4000, buffer, 16, 0), 0);
}

TEST_F(KyRtMuiStandIn, FindResourceTakesTheLanguageAndFallsBackToEnglish) {
  ASSERT_TRUE(LoadProductLibrary());
  LPCWSTR chatBlock = MAKEINTRESOURCEW(kChatLabel / 16 + 1);
  HRSRC german = binding_.FindResourceW(resources_.get(), chatBlock, RT_STRING, kGerman);
  HRSRC french = binding_.FindResourceW(resources_.get(), chatBlock, RT_STRING, kFrench);
  ASSERT_TRUE(german && french);
  EXPECT_EQ(french, ::FindResourceExW(resources_.get(), RT_STRING, chatBlock, kEnglish));
  EXPECT_NE(german, french);
}

// Each binding adds one reference when it loads the library and drops it when it lets go. The
// fixture's binding is made after its knob key, so it is counted too.
TEST_F(KyRtMuiStandIn, CountsAddRefAndReleasePerBinding) {
  EXPECT_EQ(knobs_.ReadDword(L"AddRefCalls"), 1u);
  EXPECT_EQ(knobs_.ReadDword(L"ReleaseCalls"), std::nullopt);
  {
    Strata::RtMuiImpl second(ZelTest::SiblingPath(L"KyRtMui.dll").c_str());
    ASSERT_TRUE(second.IsAvailable());
    EXPECT_EQ(knobs_.ReadDword(L"AddRefCalls"), 2u);
  }
  EXPECT_EQ(knobs_.ReadDword(L"ReleaseCalls"), 1u);
  binding_.Release();
  EXPECT_EQ(knobs_.ReadDword(L"ReleaseCalls"), 2u);
  EXPECT_EQ(binding_.GetMappedLocale(), Strata::RtMuiImpl::kFallbackLocale);
}

}  // namespace
