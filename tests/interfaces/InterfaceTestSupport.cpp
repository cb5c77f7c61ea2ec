#include "InterfaceTestSupport.h"

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

void SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
  EXPECT_EQ(::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

}  // namespace

void TrustTestRoot() { AddRootToStore(L"TestSigningRoot.cer", CERT_SYSTEM_STORE_LOCAL_MACHINE); }

void TrustUserOnlyRoot() { AddRootToStore(L"TestUserRoot.cer", CERT_SYSTEM_STORE_CURRENT_USER); }

std::wstring TestServerPath(const std::wstring& signatureCase) {
  return SiblingPath(signatureCase.empty() ? L"FactoryTestServer.dll" : L"FactoryTestServer-" + signatureCase + L".dll");
}

void RegisterSuiteProxyStub() {
  Strata::UniqueModule proxyStub(::LoadLibraryW(SiblingPath(L"KyReportLogPS.dll").c_str()));
  ASSERT_TRUE(proxyStub);
  auto registerServer =
      reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(::GetProcAddress(proxyStub.get(), "DllRegisterServer"));
  ASSERT_NE(registerServer, nullptr);
  ASSERT_EQ(registerServer(), S_OK);
}

RegisteredClass::RegisteredClass(const std::wstring& serverPath) : clsidText_(L"{" + NewGuidText() + L"}") {
  ::CLSIDFromString(clsidText_.c_str(), &clsid_);
  std::wstring key = KeyPath() + L"\\InprocServer32";
  Strata::UniqueHkey hkey;
  EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, hkey.put(), nullptr),
            ERROR_SUCCESS);
  SetText(hkey.get(), nullptr, serverPath);
  SetText(hkey.get(), L"ThreadingModel", L"Both");
}

RegisteredClass::~RegisteredClass() {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, KeyPath().c_str());
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, KeyPath().c_str());
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
