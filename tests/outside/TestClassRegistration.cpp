#include "TestClassRegistration.h"

#include <gtest/gtest.h>

#include "Handles.h"
#include "TestSupport.h"

namespace ZelTest {

namespace {

std::wstring ClassKeyPath(const std::wstring& clsidText) { return L"Software\\Classes\\CLSID\\" + clsidText; }

void SetText(const std::wstring& keyPath, const wchar_t* name, const std::wstring& text) {
  EXPECT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, keyPath.c_str(), name, REG_SZ, text.c_str(),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

}  // namespace

void RegisterSuiteProxyStubLibrary() { ASSERT_EQ(RegisterSiblingLibrary(L"KyReportLogPS.dll"), S_OK); }

TestClassRegistration::TestClassRegistration(const std::wstring& server, Server kind)
    : clsidText_(L"{" + NewGuidText() + L"}") {
  ::CLSIDFromString(clsidText_.c_str(), &clsid_);
  std::wstring classKey = ClassKeyPath(clsidText_);
  if (kind == Server::InProcess) {
    SetText(classKey + L"\\InprocServer32", nullptr, server);
    SetText(classKey + L"\\InprocServer32", L"ThreadingModel", L"Both");
  } else {
    SetText(classKey + L"\\LocalServer32", nullptr, L"\"" + server + L"\" " + clsidText_);
  }
}

TestClassRegistration::~TestClassRegistration() {
  std::wstring classKey = ClassKeyPath(clsidText_);
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, classKey.c_str());
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, classKey.c_str());
}

}  // namespace ZelTest
