#include "InterfaceTestSupport.h"

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>

#include "Handles.h"
#include "KyClassFactory.h"
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

void RegisterSuiteProxyStub() { ASSERT_EQ(RegisterSiblingLibrary(L"KyReportLogPS.dll"), S_OK); }

RegisteredClass::RegisteredClass(const std::wstring& serverPath, const wchar_t* serverKind)
    : clsidText_(L"{" + NewGuidText() + L"}") {
  ::CLSIDFromString(clsidText_.c_str(), &clsid_);
  std::wstring key = KeyPath() + L"\\" + serverKind;
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

HRESULT CreateAsUnsignedCaller(IUnknown* classObject, REFIID iid, IUnknown** object) {
  using CreateThroughFactoryFn = HRESULT (*)(IUnknown*, REFIID, IUnknown**);
  static HMODULE server = ::LoadLibraryW(TestServerPath().c_str());
  auto create = reinterpret_cast<CreateThroughFactoryFn>(::GetProcAddress(server, "CreateThroughFactory"));
  EXPECT_NE(create, nullptr);
  return create ? create(classObject, iid, object) : E_UNEXPECTED;
}

void ExpectOnlySignedCallersServed(IUnknown* classObject, REFIID iid) {
  Microsoft::WRL::ComPtr<IUnknown> identity;
  Microsoft::WRL::ComPtr<IKyClassFactory> factory;
  ASSERT_EQ(classObject->QueryInterface(IID_PPV_ARGS(&identity)), S_OK);
  ASSERT_EQ(classObject->QueryInterface(IID_PPV_ARGS(&factory)), S_OK);
  EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(factory.Get()));
  Microsoft::WRL::ComPtr<IClassFactory> standard;
  EXPECT_EQ(classObject->QueryInterface(IID_PPV_ARGS(&standard)), E_NOINTERFACE);

  // A caller that takes the identity for an IClassFactory.
  void* object = nullptr;
  EXPECT_TRUE(FAILED(reinterpret_cast<IClassFactory*>(identity.Get())->CreateInstance(nullptr, iid, &object)));
  EXPECT_EQ(object, nullptr);

  IUnknown* refused = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(CreateAsUnsignedCaller(classObject, iid, &refused), E_ACCESSDENIED);
  EXPECT_EQ(refused, nullptr);

  Microsoft::WRL::ComPtr<IUnknown> served;
  EXPECT_EQ(factory->CreateInstance(iid, served.GetAddressOf()), S_OK);
  EXPECT_NE(served, nullptr);
}

std::wstring LoadedTestServer() {
  wchar_t path[MAX_PATH] = L"";
  DWORD chars = ::GetEnvironmentVariableW(L"ZEL_FACTORY_TEST_SERVER_LOADED", path, MAX_PATH);
  return chars > 0 && chars < MAX_PATH ? std::wstring(path, chars) : std::wstring();
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
