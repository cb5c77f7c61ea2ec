// Strings of the product resource library, found through "Install Dir". The tests write that
// machine-wide value, so they run in the prefix of their own (run-in-own-prefix.sh).
#include <gtest/gtest.h>

#include "EventHandlerTestSupport.h"
#include "ZELEventHandlerModule.h"

namespace {

using namespace ZelTest;

constexpr wchar_t kProductKey[] = L"Software\\Varant\\ZEL";
constexpr UINT kNewUserAdded = 5051;

class ResourceStringTest : public ::testing::Test {
 protected:
  ~ResourceStringTest() override { ForgetInstallDir(); }

  void SetInstallDir(const std::wstring& folder) {
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kProductKey, L"Install Dir", REG_SZ, folder.c_str(),
                      static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  }
  void ForgetInstallDir() { ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kProductKey, L"Install Dir"); }

  LogRecorder& log_ = LogRecorder::Install();
  TempFolder installFolder_;
  CZELEventHandlerModule module_;
};

TEST_F(ResourceStringTest, WithoutInstallDirEveryRequestFailsAndSaysSo) {
  ForgetInstallDir();
  EXPECT_EQ(module_.LoadResourceString(kNewUserAdded), nullptr);
  EXPECT_EQ(module_.LoadResourceString(kNewUserAdded), nullptr);
  EXPECT_EQ(log_.Count(L"Failed to get path to zelres2.dll\r\n"), 2u);
}

TEST_F(ResourceStringTest, LibraryIsLoadedFromTheInstallFolderOnceAndKept) {
  ASSERT_TRUE(::CopyFileW(SiblingPath(L"ZelRes2.DLL").c_str(), (installFolder_ / L"ZelRes2.DLL").c_str(), FALSE));
  SetInstallDir(installFolder_.Path());
  std::unique_ptr<wchar_t[]> text = module_.LoadResourceString(kNewUserAdded);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text.get(), L"New user added");

  ForgetInstallDir();
  text = module_.LoadResourceString(kNewUserAdded);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text.get(), L"New user added");
  // A string the library lacks comes back empty, not null.
  text = module_.LoadResourceString(1);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text.get(), L"");
}

TEST_F(ResourceStringTest, MissingLibraryIsLoggedAndTriedAgainNextTime) {
  SetInstallDir(installFolder_.Path());
  EXPECT_EQ(module_.LoadResourceString(kNewUserAdded), nullptr);
  size_t failures = 0;
  for (const LogLine& line : log_.Lines())
    if (line.text.rfind(L"Failed to load the resource library (Error ", 0) == 0) ++failures;
  EXPECT_EQ(failures, 1u);

  ASSERT_TRUE(::CopyFileW(SiblingPath(L"ZelRes2.DLL").c_str(), (installFolder_ / L"ZelRes2.DLL").c_str(), FALSE));
  EXPECT_NE(module_.LoadResourceString(kNewUserAdded), nullptr);
}

}  // namespace
