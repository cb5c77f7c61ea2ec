#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "FileVersionInfo.h"
#include "FormatText.h"
#include "Handles.h"
#include "ModuleVersion.h"
#include "OSInfoProxy.h"
#include "TestSupport.h"

namespace {

using Strata::FileVersionInfo;

// Our binaries carry "8,0,1,42" as their file version (see cmake/version.rc.in).
constexpr wchar_t kOurVersion[] = L"8.0.1.42";

bool SamePath(const std::wstring& a, const std::wstring& b) { return ::lstrcmpiW(a.c_str(), b.c_str()) == 0; }

TEST(FileVersionInfo, TakesEachNameFromTheFirstTranslationThatHasIt) {
  FileVersionInfo info;
  ASSERT_TRUE(info.Load(ZelTest::SiblingPath(L"ResourceSample.dll").c_str()));
  auto translations = info.Translations();
  ASSERT_EQ(2u, translations.size());
  EXPECT_EQ(0x0407, translations[0].language);
  EXPECT_EQ(1200, translations[0].codePage);
  EXPECT_EQ(0x0409, translations[1].language);

  EXPECT_EQ(L"build 77", info.GetString(L"FileVersion"));
  EXPECT_EQ(L"Varant", info.GetString(L"CompanyName"));
  EXPECT_EQ(L"", info.GetString(L"ProductName"));
  EXPECT_EQ(L"1,2,3,4", info.GetString(translations[1], L"FileVersion"));
}

TEST(FileVersionInfo, KeepsTheFirstFileItLoaded) {
  FileVersionInfo info;
  ASSERT_TRUE(info.Load(ZelTest::SiblingPath(L"ResourceSample.dll").c_str()));
  EXPECT_TRUE(info.Load(ZelTest::SiblingPath(L"RtMuiTestLib.dll").c_str()));
  EXPECT_EQ(L"build 77", info.GetString(L"FileVersion"));
}

TEST(FileVersionInfo, FileWithoutVersionResourceYieldsEmptyStrings) {
  ZelTest::TempFolder folder;
  std::wstring plain = folder / L"plain.txt";
  Strata::UniqueFile file(::CreateFileW(plain.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  ASSERT_TRUE(file);
  DWORD written = 0;
  ::WriteFile(file.get(), "not a program", 13, &written, nullptr);
  file.reset();

  for (const std::wstring& path : {plain, folder / L"missing.dll"}) {
    FileVersionInfo info;
    EXPECT_FALSE(info.Load(path.c_str()));
    EXPECT_TRUE(info.Translations().empty());
    EXPECT_EQ(L"", info.GetString(L"FileVersion"));
  }
  FileVersionInfo unloaded;
  EXPECT_FALSE(unloaded.Load(nullptr));
  EXPECT_EQ(L"", unloaded.GetString(L"FileVersion"));
}

TEST(SystemFileVersionInfo, FindsAFileOfTheSystemFolderByName) {
  Strata::SystemFileVersionInfo info;
  ASSERT_TRUE(info.Load(L"kernel32.dll"));
  EXPECT_NE(L"", info.GetString(L"ProductVersion"));
  Strata::SystemFileVersionInfo notThere;
  EXPECT_FALSE(notThere.Load(L"ResourceSample.dll"));
}

TEST(ModuleVersion, TurnsFourCommaSeparatedNumbersIntoTheDottedForm) {
  EXPECT_EQ(kOurVersion, Strata::DottedVersion(L"8,0,1,42"));
  EXPECT_EQ(kOurVersion, Strata::DottedVersion(L"8, 0, 1, 42"));
  EXPECT_EQ(kOurVersion, Strata::DottedVersion(kOurVersion));
  EXPECT_EQ(L"8,0,1", Strata::DottedVersion(L"8,0,1"));
  EXPECT_EQ(L"build 77", Strata::DottedVersion(L"build 77"));
  EXPECT_EQ(L"", Strata::DottedVersion(L""));
}

TEST(ModuleVersion, DescribesTheProgramItIsLinkedInto) {
  const Strata::ModuleVersion& record = Strata::GetModuleVersion();
  EXPECT_TRUE(SamePath(ZelTest::SiblingPath(L"foundation_tests.exe"), record.path)) << record.path;
  EXPECT_TRUE(SamePath(L"foundation_tests.exe", record.fileName)) << record.fileName;
  EXPECT_EQ(kOurVersion, record.version);
  EXPECT_EQ(&record, &Strata::GetModuleVersion());
}

TEST(ModuleVersion, DescribesTheDllItIsLinkedIntoNotTheHostProgram) {
  std::wstring dllPath = ZelTest::SiblingPath(L"RtMuiTestLib.dll");
  Strata::UniqueModule library(::LoadLibraryW(dllPath.c_str()));
  ASSERT_TRUE(library);
  using Probe = void WINAPI(LPWSTR, int, LPWSTR, int);
  auto probe = reinterpret_cast<Probe*>(::GetProcAddress(library.get(), "RtMuiTestModuleVersion"));
  ASSERT_NE(nullptr, probe);
  wchar_t path[MAX_PATH], version[64];
  probe(path, MAX_PATH, version, 64);
  EXPECT_TRUE(SamePath(dllPath, path)) << path;
  EXPECT_STREQ(kOurVersion, version);
}

TEST(ModuleVersion, ReadsTheFirstTranslationOnly) {
  Strata::UniqueModule sample(::LoadLibraryW(ZelTest::SiblingPath(L"ResourceSample.dll").c_str()));
  ASSERT_TRUE(sample);
  Strata::ModuleVersion record = Strata::ReadModuleVersion(sample.get());
  EXPECT_TRUE(SamePath(L"ResourceSample.dll", record.fileName)) << record.fileName;
  EXPECT_EQ(L"build 77", record.version);
  EXPECT_EQ(L"", Strata::ReadModuleVersion(nullptr).path);
}

// Answers version conditions for a made-up system, one condition per call as the proxy asks them.
class FakeVersionAPI : public Strata::WinOSVersionAPI {
 public:
  FakeVersionAPI(BYTE productType, WORD servicePack) : productType_(productType), servicePack_(servicePack) {}

  BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, DWORDLONG conditionMask) override {
    ++calls;
    if (typeMask & (typeMask - 1)) {
      ++callsWithSeveralConditions;
      return FALSE;
    }
    if (typeMask == VER_PRODUCT_TYPE) return Holds(info->wProductType, productType_, Operator(typeMask, conditionMask));
    if (typeMask == VER_SERVICEPACKMAJOR)
      return Holds(info->wServicePackMajor, servicePack_, Operator(typeMask, conditionMask));
    return FALSE;
  }

  int calls = 0;
  int callsWithSeveralConditions = 0;

 private:
  // Each type bit owns three bits of the condition mask, in the order of the type bits.
  static int Operator(DWORD typeMask, DWORDLONG conditionMask) {
    int index = 0;
    while (!(typeMask & (1u << index))) ++index;
    return static_cast<int>((conditionMask >> (3 * index)) & 7);
  }
  static BOOL Holds(DWORD asked, DWORD actual, int op) {
    switch (op) {
      case VER_EQUAL: return actual == asked;
      case VER_GREATER_EQUAL: return actual >= asked;
      case VER_GREATER: return actual > asked;
      case VER_LESS: return actual < asked;
      case VER_LESS_EQUAL: return actual <= asked;
      default: return FALSE;
    }
  }

  BYTE productType_;
  WORD servicePack_;
};

TEST(OSInfoProxy, TellsWorkstationsFromServers) {
  FakeVersionAPI workstation(VER_NT_WORKSTATION, 0), server(VER_NT_SERVER, 0),
      controller(VER_NT_DOMAIN_CONTROLLER, 0);
  EXPECT_TRUE(Strata::internal::OSInfoProxy(workstation).IsWorkstation());
  EXPECT_TRUE(Strata::internal::OSInfoProxy(server).IsServer());
  EXPECT_TRUE(Strata::internal::OSInfoProxy(controller).IsServer());
}

TEST(OSInfoProxy, ReportsTheHighestServicePackTheSystemAdmits) {
  for (WORD level : {0, 1, 3}) {
    FakeVersionAPI api(VER_NT_WORKSTATION, level);
    Strata::internal::OSInfoProxy proxy(api);
    EXPECT_EQ(level, proxy.ServicePackMajor());
    EXPECT_EQ(0, api.callsWithSeveralConditions);
  }
}

TEST(OSInfoProxy, StopsCountingServicePacksAtABound) {
  FakeVersionAPI api(VER_NT_WORKSTATION, 0xFFFF);
  EXPECT_EQ(0xFF, Strata::internal::OSInfoProxy(api).ServicePackMajor());
}

TEST(OSInfoProxy, GathersFactsOnceAndSharesThemWithCopies) {
  FakeVersionAPI api(VER_NT_SERVER, 2);
  Strata::internal::OSInfoProxy proxy(api);
  EXPECT_EQ(0, api.calls);
  proxy.IsServer();
  int callsToGather = api.calls;
  EXPECT_GT(callsToGather, 0);
  Strata::internal::OSInfoProxy copy = proxy;
  EXPECT_EQ(2, copy.ServicePackMajor());
  EXPECT_TRUE(copy.IsServer());
  EXPECT_EQ(callsToGather, api.calls);
}

TEST(OSInfoProxy, TakesTheVersionFromTheSystemKernelFile) {
  Strata::SystemFileVersionInfo kernel;
  ASSERT_TRUE(kernel.Load(L"kernel32.dll"));
  std::wstring productVersion = kernel.GetString(L"ProductVersion");

  Strata::internal::OSInfoProxy proxy;
  DWORD major = proxy.MajorVersion(), minor = proxy.MinorVersion();
  EXPECT_GT(major, 0u);
  std::wstring expected = Strata::Format(L"%u.%u.%u", major, minor, proxy.BuildNumber());
  EXPECT_EQ(expected, productVersion.substr(0, expected.size())) << productVersion;

  EXPECT_TRUE(proxy.IsAtLeast(major, minor));
  EXPECT_TRUE(proxy.IsAtLeast(major - 1, minor + 1));
  EXPECT_FALSE(proxy.IsAtLeast(major, minor + 1));
  EXPECT_FALSE(proxy.IsAtLeast(major + 1, 0));
  EXPECT_FALSE(proxy.IsWow64());
}

}  // namespace
