// The publisher check against modules signed in every way it must tell apart.
#include "PublisherCheck.h"

#include <gtest/gtest.h>
#include <wintrust.h>

#include "Handles.h"
#include "InterfaceTestSupport.h"
#include "TestSupport.h"

namespace {

using Ky::CheckPublisher;
using Ky::UnsignedModules;
using ZelTest::TestServerPath;

class PublisherCheck : public ::testing::Test {
 protected:
  void SetUp() override { ZelTest::TrustTestRoot(); }
};

TEST_F(PublisherCheck, ModuleOfTheProductPublisherUnderATrustedRootPasses) {
  EXPECT_EQ(CheckPublisher(TestServerPath(L"trusted").c_str(), UnsignedModules::Refuse), S_OK);
}

TEST_F(PublisherCheck, UnsignedModuleIsRefusedByTheProductPolicyAndAcceptedByTheDevelopmentPolicy) {
  EXPECT_EQ(CheckPublisher(TestServerPath().c_str(), UnsignedModules::Refuse), TRUST_E_NOSIGNATURE);
  EXPECT_EQ(CheckPublisher(TestServerPath().c_str(), UnsignedModules::Accept), S_OK);
}

TEST_F(PublisherCheck, ModuleChangedAfterSigningIsRefusedByBothPolicies) {
  ZelTest::TempFolder folder;
  std::wstring tampered = folder / L"FactoryTestServer-tampered.dll";
  ZelTest::WriteTamperedCopy(TestServerPath(L"trusted"), tampered);
  EXPECT_EQ(CheckPublisher(tampered.c_str(), UnsignedModules::Refuse), TRUST_E_BAD_DIGEST);
  EXPECT_EQ(CheckPublisher(tampered.c_str(), UnsignedModules::Accept), TRUST_E_BAD_DIGEST);
}

TEST_F(PublisherCheck, SignatureUnderARootTheMachineDoesNotTrustIsRefused) {
  EXPECT_EQ(CheckPublisher(TestServerPath(L"untrusted-root").c_str(), UnsignedModules::Accept), CERT_E_UNTRUSTEDROOT);
}

TEST_F(PublisherCheck, SignatureWhoseChainStopsBelowAnyRootIsRefused) {
  // Windows names an incomplete chain CERT_E_CHAINING; where a base policy lets one pass, as Wine's
  // can, the check's own look at the chain's last certificate refuses it.
  HRESULT hr = CheckPublisher(TestServerPath(L"leaf-only").c_str(), UnsignedModules::Accept);
  EXPECT_TRUE(hr == CERT_E_UNTRUSTEDROOT || hr == CERT_E_CHAINING) << std::hex << hr;
}

TEST_F(PublisherCheck, RootTrustedOnlyByTheCurrentUserDoesNotCount) {
  ZelTest::TrustUserOnlyRoot();
  EXPECT_EQ(CheckPublisher(TestServerPath(L"user-root").c_str(), UnsignedModules::Accept), CERT_E_UNTRUSTEDROOT);
}

TEST_F(PublisherCheck, AnotherPublishersSignatureIsRefused) {
  EXPECT_EQ(CheckPublisher(TestServerPath(L"other-publisher").c_str(), UnsignedModules::Accept), CERT_E_CN_NO_MATCH);
}

TEST_F(PublisherCheck, CertificateNotMeantForCodeSigningIsRefused) {
  EXPECT_EQ(CheckPublisher(TestServerPath(L"not-code-signing").c_str(), UnsignedModules::Accept), CERT_E_WRONG_USAGE);
}

TEST_F(PublisherCheck, MissingFileIsNeverTakenForAnUnsignedOne) {
  ZelTest::TempFolder folder;
  HRESULT hr = CheckPublisher((folder / L"absent.dll").c_str(), UnsignedModules::Accept);
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(CheckPublisher(nullptr), E_INVALIDARG);
}

TEST_F(PublisherCheck, LoadedModuleIsCheckedByTheCodeItHolds) {
  Strata::UniqueModule trusted(::LoadLibraryW(TestServerPath(L"trusted").c_str()));
  ASSERT_TRUE(trusted);
  const void* code = reinterpret_cast<const void*>(::GetProcAddress(trusted.get(), "DllGetClassObject"));
  EXPECT_EQ(Ky::CheckPublisherOfCode(code, UnsignedModules::Refuse), S_OK);

  Strata::UniqueModule unsignedServer(::LoadLibraryW(TestServerPath().c_str()));
  ASSERT_TRUE(unsignedServer);
  code = reinterpret_cast<const void*>(::GetProcAddress(unsignedServer.get(), "DllGetClassObject"));
  EXPECT_EQ(Ky::CheckPublisherOfCode(code, UnsignedModules::Refuse), TRUST_E_NOSIGNATURE);
}

}  // namespace
