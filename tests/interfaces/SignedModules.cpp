#include "SignedModules.h"

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "Handles.h"
#include "TestSupport.h"

namespace ZelTest {
namespace {

void AddRootToStore(const std::wstring& certificateFile, DWORD storeLocation) {
  std::vector<unsigned char> der = ReadFileBytes(SiblingPath(certificateFile));
  ASSERT_FALSE(der.empty()) << "missing " << std::string(certificateFile.begin(), certificateFile.end());
  Strata::UniqueCertStore store(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, storeLocation, L"Root"));
  ASSERT_TRUE(store) << ::GetLastError();
  ASSERT_TRUE(::CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                                 static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, nullptr))
      << std::hex << ::GetLastError();
}

}  // namespace

void TrustTestRoot() { AddRootToStore(L"TestSigningRoot.cer", CERT_SYSTEM_STORE_LOCAL_MACHINE); }

void TrustUserOnlyRoot() { AddRootToStore(L"TestUserRoot.cer", CERT_SYSTEM_STORE_CURRENT_USER); }

std::wstring TestServerPath(const std::wstring& signatureCase) {
  return SiblingPath(signatureCase.empty() ? L"FactoryTestServer.dll" : L"FactoryTestServer-" + signatureCase + L".dll");
}

void WriteTamperedCopy(const std::wstring& source, const std::wstring& target) {
  std::vector<unsigned char> bytes = ReadFileBytes(source);
  static const char mark[] = "ZEL factory test server, unchanged";
  auto found = std::search(bytes.begin(), bytes.end(), mark, mark + std::strlen(mark));
  ASSERT_NE(found, bytes.end());
  *found ^= 0x20;
  Strata::UniqueFile file(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file) << ::GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

}  // namespace ZelTest
