// Loading a library the product will run: full paths only, the publisher check first, and the file
// held so that nothing can take its place between the check and the load.
#include "VerifiedLibrary.h"

#include <gtest/gtest.h>
#include <wintrust.h>

#include "InterfaceTestSupport.h"
#include "TestSupport.h"

namespace {

using Ky::LoadVerifiedLibrary;
using Ky::UnsignedModules;

class VerifiedLibrary : public ::testing::Test {
 protected:
  void SetUp() override { ZelTest::TrustTestRoot(); }

  // A signed copy of the test server in a folder of the test's own, not loaded yet.
  std::wstring SignedCopy(const wchar_t* name) {
    std::wstring copy = folder_ / name;
    EXPECT_TRUE(::CopyFileW(ZelTest::TestServerPath(L"trusted").c_str(), copy.c_str(), FALSE));
    return copy;
  }

  ZelTest::TempFolder folder_;
};

// What the test tried while the loader held the checked file.
struct SwapAttempt {
  std::wstring target;
  std::wstring replacement;
  bool overwritten = false;
  bool replaced = false;
  bool deleted = false;
};

TEST_F(VerifiedLibrary, FileCannotBeSwappedBetweenTheCheckAndTheLoad) {
  SwapAttempt swap{SignedCopy(L"Utility.dll"), ZelTest::TestServerPath()};
  const std::wstring staged = folder_ / L"Staged.dll";
  ASSERT_TRUE(::CopyFileW(swap.replacement.c_str(), staged.c_str(), FALSE));
  swap.replacement = staged;

  Strata::UniqueModule library;
  ASSERT_EQ(LoadVerifiedLibrary(
                swap.target.c_str(), library, UnsignedModules::Refuse,
                [](void* context) {
                  auto* attempt = static_cast<SwapAttempt*>(context);
                  attempt->overwritten = ::CopyFileW(attempt->replacement.c_str(), attempt->target.c_str(), FALSE);
                  attempt->replaced = ::MoveFileExW(attempt->replacement.c_str(), attempt->target.c_str(),
                                                    MOVEFILE_REPLACE_EXISTING);
                  attempt->deleted = ::DeleteFileW(attempt->target.c_str());
                },
                &swap),
            S_OK);
  EXPECT_FALSE(swap.overwritten);
  EXPECT_FALSE(swap.replaced);
  EXPECT_FALSE(swap.deleted);
  ASSERT_TRUE(library);
  EXPECT_EQ(Ky::CheckModulePublisher(library.get(), UnsignedModules::Refuse), S_OK);
  EXPECT_EQ(ZelTest::LoadedTestServer(), swap.target);
}

TEST_F(VerifiedLibrary, RefusedLibrariesAreNeverLoaded) {
  const std::wstring unsignedCopy = folder_ / L"Unsigned.dll";
  ASSERT_TRUE(::CopyFileW(ZelTest::TestServerPath().c_str(), unsignedCopy.c_str(), FALSE));
  const std::wstring tampered = folder_ / L"Tampered.dll";
  ZelTest::WriteTamperedCopy(ZelTest::TestServerPath(L"trusted"), tampered);
  struct Case {
    std::wstring path;
    HRESULT expected;
  } const cases[] = {
      {L"FactoryTestServer.dll", E_INVALIDARG},  // a bare name would go through the search order
      {L"\\FactoryTestServer.dll", E_INVALIDARG},
      {L"", E_INVALIDARG},
      {unsignedCopy, TRUST_E_NOSIGNATURE},
      {tampered, TRUST_E_BAD_DIGEST},
      {folder_ / L"Absent.dll", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
  };
  for (const Case& c : cases) {
    Strata::UniqueModule library(::LoadLibraryW(ZelTest::SiblingPath(L"DelegatingTestServer.dll").c_str()));
    EXPECT_EQ(LoadVerifiedLibrary(c.path.c_str(), library, UnsignedModules::Refuse), c.expected)
        << std::string(c.path.begin(), c.path.end());
    EXPECT_FALSE(library) << "what was held before is let go";
    EXPECT_EQ(::GetModuleHandleW(c.path.c_str()), nullptr);
  }
  EXPECT_EQ(ZelTest::LoadedTestServer(), L"");
}

TEST_F(VerifiedLibrary, AVerifiedFileIsVerifiedAgainOnceItIsWrittenOrReplaced) {
  const std::wstring path = SignedCopy(L"Remembered.dll");
  EXPECT_EQ(Ky::CheckPublisher(path.c_str(), UnsignedModules::Refuse), S_OK);
  EXPECT_EQ(Ky::CheckPublisher(path.c_str(), UnsignedModules::Refuse), S_OK);

  // Written in place: the same file, changed.
  ZelTest::WriteTamperedCopy(ZelTest::TestServerPath(L"trusted"), path);
  EXPECT_EQ(Ky::CheckPublisher(path.c_str(), UnsignedModules::Refuse), TRUST_E_BAD_DIGEST);

  // Replaced under its name by an unsigned file.
  ASSERT_TRUE(::CopyFileW(ZelTest::TestServerPath(L"trusted").c_str(), path.c_str(), FALSE));
  EXPECT_EQ(Ky::CheckPublisher(path.c_str(), UnsignedModules::Refuse), S_OK);
  ASSERT_TRUE(::DeleteFileW(path.c_str()));
  ASSERT_TRUE(::CopyFileW(ZelTest::TestServerPath().c_str(), path.c_str(), FALSE));
  EXPECT_EQ(Ky::CheckPublisher(path.c_str(), UnsignedModules::Refuse), TRUST_E_NOSIGNATURE);
}

}  // namespace
