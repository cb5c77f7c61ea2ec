#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "Handles.h"
#include "RtMui.h"
#include "TestSupport.h"

namespace {

using Strata::RtMuiImpl;

constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
// What the stand-in library maps every locale to, and the last error its DllAddRef leaves behind.
constexpr LANGID kStandInLocale = kGerman;
constexpr DWORD kStandInAddRefError = ERROR_INVALID_ACCESS;
// The string of ResourceSample.dll in its two languages.
constexpr UINT kSampleString = 101;
constexpr wchar_t kEnglishText[] = L"Blocked page";
constexpr wchar_t kGermanText[] = L"Gesperrte Seite f\x00fcr Kinder";

// Holds its own reference to a stand-in library, so its counters outlive the bindings under test.
class StandIn {
 public:
  explicit StandIn(const wchar_t* fileName)
      : path_(ZelTest::SiblingPath(fileName)), module_(::LoadLibraryW(path_.c_str())) {}

  const std::wstring& Path() const { return path_; }
  bool Loaded() const { return module_.valid(); }

  LONG AddRefs() const { return Counts().first; }
  LONG Releases() const { return Counts().second; }
  std::string LastCall() const {
    using Probe = const char* WINAPI();
    return reinterpret_cast<Probe*>(::GetProcAddress(module_.get(), "RtMuiTestLastCall"))();
  }

 private:
  std::pair<LONG, LONG> Counts() const {
    using Probe = void WINAPI(LONG*, LONG*);
    std::pair<LONG, LONG> counts;
    reinterpret_cast<Probe*>(::GetProcAddress(module_.get(), "RtMuiTestCounts"))(&counts.first, &counts.second);
    return counts;
  }

  std::wstring path_;
  Strata::UniqueModule module_;
};

class RtMuiBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(standIn_.Loaded());
    ASSERT_TRUE(sample_);
  }

  std::wstring LoadSampleString(const RtMuiImpl& binding, LANGID language) {
    wchar_t text[64] = L"";
    int length = binding.LoadStringW(sample_.get(), kSampleString, text, 64, language);
    return std::wstring(text, length > 0 ? length : 0);
  }

  StandIn standIn_{L"RtMuiTestLib.dll"};
  Strata::UniqueModule sample_{::LoadLibraryW(ZelTest::SiblingPath(L"ResourceSample.dll").c_str())};
};

TEST_F(RtMuiBinding, BoundLibraryServesEveryCallAndGetsTheLanguageWhenOneIsGiven) {
  RtMuiImpl binding(standIn_.Path().c_str());
  ASSERT_EQ(0u, binding.BindingResult());
  EXPECT_TRUE(binding.IsAvailable());

  EXPECT_EQ(kStandInLocale, binding.GetMappedLocale());
  EXPECT_EQ(kEnglishText, LoadSampleString(binding, kEnglish));
  EXPECT_EQ("RtMUILoadStringEx", standIn_.LastCall());
  EXPECT_EQ(kGermanText, LoadSampleString(binding, 0));
  EXPECT_EQ("RtMUILoadString", standIn_.LastCall());

  LPCWSTR block = MAKEINTRESOURCEW(kSampleString / 16 + 1);
  EXPECT_NE(nullptr, binding.FindResourceW(sample_.get(), block, RT_STRING, kEnglish));
  EXPECT_EQ("RtMUIFindResourceEx", standIn_.LastCall());
  EXPECT_NE(nullptr, binding.FindResourceW(sample_.get(), block, RT_STRING, 0));
  EXPECT_EQ("RtMUIFindResource", standIn_.LastCall());

  EXPECT_NE(nullptr, binding.LoadIconW(nullptr, IDI_APPLICATION, kEnglish));
  EXPECT_EQ("RtMUILoadIconEx", standIn_.LastCall());
  EXPECT_NE(nullptr, binding.LoadIconW(nullptr, IDI_APPLICATION, 0));
  EXPECT_EQ("RtMUILoadIcon", standIn_.LastCall());

  Strata::UniqueModule again(binding.LoadLibraryW(ZelTest::SiblingPath(L"ResourceSample.dll").c_str()));
  EXPECT_EQ(sample_.get(), again.get());
  EXPECT_EQ("RtMUILoadLibrary", standIn_.LastCall());
}

TEST_F(RtMuiBinding, TellsTheLibraryWhenItGainsAndLosesAUser) {
  LONG addRefs = standIn_.AddRefs(), releases = standIn_.Releases();
  {
    ::SetLastError(ERROR_SUCCESS);
    RtMuiImpl binding(standIn_.Path().c_str());
    EXPECT_NE(kStandInAddRefError, ::GetLastError());
    EXPECT_EQ(addRefs + 1, standIn_.AddRefs());
    EXPECT_EQ(releases, standIn_.Releases());
  }
  EXPECT_EQ(releases + 1, standIn_.Releases());
}

TEST_F(RtMuiBinding, ReleasedBindingFallsBackAndReleasesOnlyOnce) {
  LONG releases = standIn_.Releases();
  {
    RtMuiImpl binding(standIn_.Path().c_str());
    binding.Release();
    EXPECT_EQ(releases + 1, standIn_.Releases());
    EXPECT_FALSE(binding.IsAvailable());
    EXPECT_EQ(RtMuiImpl::kFallbackLocale, binding.GetMappedLocale());
    EXPECT_EQ(kEnglishText, LoadSampleString(binding, kGerman));
  }
  EXPECT_EQ(releases + 1, standIn_.Releases());
}

TEST_F(RtMuiBinding, LibraryMissingAnExportIsNotBoundAndNotKept) {
  StandIn partial(L"RtMuiTestLibPartial.dll");
  ASSERT_TRUE(partial.Loaded());
  RtMuiImpl binding(partial.Path().c_str());
  EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), binding.BindingResult());
  EXPECT_FALSE(binding.IsAvailable());
  EXPECT_FALSE(binding.IsLoaded());
  EXPECT_EQ(partial.AddRefs(), partial.Releases());
  EXPECT_EQ(RtMuiImpl::kFallbackLocale, binding.GetMappedLocale());
}

TEST_F(RtMuiBinding, MissingFileGivesTheLoaderError) {
  ZelTest::TempFolder folder;
  RtMuiImpl binding((folder / L"KyRtMui.dll").c_str());
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), binding.BindingResult());
}

TEST_F(RtMuiBinding, LoadsOnlyFromFullyQualifiedPaths) {
  // The file sits beside the program, so a search along the path would have found it.
  for (const wchar_t* path : {L"RtMuiTestLib.dll", L".\\RtMuiTestLib.dll", L"C:RtMuiTestLib.dll"}) {
    LONG addRefs = standIn_.AddRefs();
    RtMuiImpl binding(path);
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_PATHNAME), binding.BindingResult()) << path;
    EXPECT_EQ(addRefs, standIn_.AddRefs()) << path;
  }
  EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_PATHNAME), RtMuiImpl(static_cast<const wchar_t*>(nullptr)).BindingResult());
}

TEST(CDllWrapperBase, FullyQualifiedMeansDriveFolderNameAndExtension) {
  for (const wchar_t* path : {L"C:\\folder\\name.dll", L"c:/folder/name.dll", L"C:\\name.dll", L"D:\\a.b\\c.d.dll"})
    EXPECT_TRUE(Strata::CDllWrapperBase::IsFullyQualifiedPath(path)) << path;
  for (const wchar_t* path : {L"", L"name.dll", L"folder\\name.dll", L"\\folder\\name.dll",
                              L"\\\\server\\share\\name.dll", L"C:name.dll", L"C:\\folder\\name", L"C:\\folder\\.dll",
                              L"C:\\folder\\name.", L"C:\\folder.d\\name", L"1:\\folder\\name.dll"})
    EXPECT_FALSE(Strata::CDllWrapperBase::IsFullyQualifiedPath(path)) << path;
  std::wstring tooLong = L"C:\\" + std::wstring(MAX_PATH, L'a') + L".dll";
  EXPECT_FALSE(Strata::CDllWrapperBase::IsFullyQualifiedPath(tooLong.c_str()));
}

TEST_F(RtMuiBinding, FailedBindingUsesTheWindowsCalls) {
  RtMuiImpl binding(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), binding.BindingResult());
  EXPECT_EQ(1033, binding.GetMappedLocale());
  EXPECT_EQ(kEnglishText, LoadSampleString(binding, kGerman));
  EXPECT_NE(nullptr, binding.FindResourceW(sample_.get(), MAKEINTRESOURCEW(kSampleString / 16 + 1), RT_STRING, 0));
  EXPECT_NE(nullptr, binding.LoadIconW(nullptr, IDI_APPLICATION, kGerman));
  Strata::UniqueModule again(binding.LoadLibraryExW(ZelTest::SiblingPath(L"ResourceSample.dll").c_str(), nullptr, 0));
  EXPECT_EQ(sample_.get(), again.get());
}

// The process-wide binding is made once, so each case runs in a fresh copy of this program.
constexpr wchar_t kScenarioVariable[] = L"ZEL_RTMUI_SCENARIO";
constexpr wchar_t kArgumentVariable[] = L"ZEL_RTMUI_ARGUMENT";

std::wstring Variable(const wchar_t* name) {
  wchar_t value[MAX_PATH * 2];
  DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH * 2);
  return length < MAX_PATH * 2 ? std::wstring(value, length) : std::wstring();
}

void RunScenario(const wchar_t* scenario, const std::wstring& argument) {
  ::SetEnvironmentVariableW(kScenarioVariable, scenario);
  ::SetEnvironmentVariableW(kArgumentVariable, argument.c_str());
  std::string output;
  DWORD code = ZelTest::RunProcess(
      L"\"" + ZelTest::SiblingPath(L"foundation_tests.exe") + L"\" --gtest_filter=RtMuiProcessWide.Scenario", &output);
  ::SetEnvironmentVariableW(kScenarioVariable, nullptr);
  ::SetEnvironmentVariableW(kArgumentVariable, nullptr);
  EXPECT_EQ(0u, code) << output;
  EXPECT_NE(std::string::npos, output.find("[  PASSED  ] 1 test")) << output;
}

std::wstring SampleString(LANGID language) {
  Strata::UniqueModule sample(::LoadLibraryW(ZelTest::SiblingPath(L"ResourceSample.dll").c_str()));
  wchar_t text[64] = L"";
  int length = Strata::RtMui::LoadStringW(sample.get(), kSampleString, text, 64, language);
  return std::wstring(text, length > 0 ? length : 0);
}

// Runs only as the child of the cases below.
TEST(RtMuiProcessWide, Scenario) {
  std::wstring scenario = Variable(kScenarioVariable), argument = Variable(kArgumentVariable);
  if (scenario.empty()) GTEST_SKIP() << "runs only as a child process";
  namespace RtMui = Strata::RtMui;
  std::wstring standIn = ZelTest::SiblingPath(L"RtMuiTestLib.dll");

  if (scenario == L"preset") {
    StandIn pinned(L"RtMuiTestLib.dll");  // keeps its counts across the binding's unloading
    ASSERT_TRUE(RtMui::SetLibraryPath(argument.c_str()));
    std::vector<std::thread> firstCallers;
    for (int i = 0; i < 8; ++i) firstCallers.emplace_back([] { RtMui::GetMappedLocale(); });
    for (std::thread& caller : firstCallers) caller.join();
    EXPECT_EQ(1, pinned.AddRefs());
    EXPECT_EQ(0u, RtMui::BindingResult());
    EXPECT_EQ(kStandInLocale, RtMui::GetMappedLocale());
    EXPECT_EQ(kEnglishText, SampleString(kEnglish));
    EXPECT_FALSE(RtMui::SetLibraryPath(standIn.c_str()));
    // The host library lets the binding go when it may be unloaded; a later use binds again.
    RtMui::Release();
    EXPECT_EQ(1, pinned.Releases());
    EXPECT_TRUE(RtMui::IsAvailable());
    EXPECT_EQ(2, pinned.AddRefs());
    RtMui::Release();
    EXPECT_EQ(2, pinned.Releases());
  } else if (scenario == L"empty-common-files") {
    ::SetEnvironmentVariableW(L"CommonProgramFiles", L"");
    EXPECT_EQ(static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND), RtMui::BindingResult());
    EXPECT_FALSE(RtMui::IsAvailable());
    EXPECT_EQ(1033, RtMui::GetMappedLocale());
    EXPECT_EQ(kEnglishText, SampleString(kGerman));
  } else if (scenario == L"common-files") {
    ::SetEnvironmentVariableW(L"CommonProgramFiles", argument.c_str());
    EXPECT_TRUE(RtMui::IsAvailable());
    EXPECT_EQ(kStandInLocale, RtMui::GetMappedLocale());
  } else if (scenario == L"no-common-files") {
    ::SetEnvironmentVariableW(L"CommonProgramFiles", nullptr);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND), RtMui::BindingResult());
    EXPECT_FALSE(RtMui::SetLibraryPath(standIn.c_str()));
    EXPECT_FALSE(RtMui::IsAvailable());
    EXPECT_EQ(1033, RtMui::GetMappedLocale());
    EXPECT_EQ(kEnglishText, SampleString(kGerman));
  } else if (scenario == L"refused") {
    ASSERT_TRUE(RtMui::SetLibraryPath(argument.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_PATHNAME), RtMui::BindingResult());
    EXPECT_EQ(1033, RtMui::GetMappedLocale());
  } else {
    FAIL() << "unknown scenario";
  }
}

TEST(RtMuiProcessWide, PresetPathIsBoundAndReleased) {
  RunScenario(L"preset", ZelTest::SiblingPath(L"RtMuiTestLib.dll"));
}

TEST(RtMuiProcessWide, WithoutPresetTheLibraryComesFromCommonProgramFiles) {
  ZelTest::TempFolder commonFiles;
  ::CreateDirectoryW((commonFiles / L"Varant").c_str(), nullptr);
  ::CreateDirectoryW((commonFiles / L"Varant\\Platform").c_str(), nullptr);
  ASSERT_TRUE(::CopyFileW(ZelTest::SiblingPath(L"RtMuiTestLib.dll").c_str(),
                          (commonFiles / L"Varant\\Platform\\KyRtMui.dll").c_str(), FALSE));
  RunScenario(L"common-files", commonFiles.Path());
}

TEST(RtMuiProcessWide, FailedBindingIsKeptAndFallsBack) { RunScenario(L"no-common-files", L""); }

TEST(RtMuiProcessWide, AnEmptyCommonFilesFolderCountsAsAbsent) { RunScenario(L"empty-common-files", L""); }

TEST(RtMuiProcessWide, RelativePresetIsRefused) { RunScenario(L"refused", L"RtMuiTestLib.dll"); }

TEST(RtMuiProcessWide, OverlongPresetIsRefusedRatherThanCut) {
  std::wstring overlong = L"C:\\" + std::wstring(MAX_PATH, L'a') + L".dll";
  EXPECT_FALSE(Strata::RtMui::SetLibraryPath(overlong.c_str()));
  EXPECT_FALSE(Strata::RtMui::SetLibraryPath(nullptr));
}

}  // namespace
