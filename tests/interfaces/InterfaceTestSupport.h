// Helpers of the interface tests: the signed copies of the test servers made at build time and the
// roots they chain to, class registrations, the proxy/stub library.
#pragma once

#include <windows.h>

#include <string>

namespace ZelTest {

// Adds the test publisher's root to the machine's trusted roots of this prefix (idempotent).
void TrustTestRoot();
// Adds a second root to the current user's trusted roots only.
void TrustUserOnlyRoot();

// Path of FactoryTestServer.dll unsigned, or of its copy signed as `signatureCase`
// ("trusted", "other-publisher", "not-code-signing", "untrusted-root", "leaf-only", "user-root").
std::wstring TestServerPath(const std::wstring& signatureCase = L"");

// Registers the proxy/stub library of the suite interfaces, as an installer would.
void RegisterSuiteProxyStub();

// A fresh class id served in process by a given module, registered for the length of one test. It goes under
// the machine's classes: Wine's COM does not look at per-user class registrations.
class RegisteredClass {
 public:
  explicit RegisteredClass(const std::wstring& serverPath);
  ~RegisteredClass();
  RegisteredClass(const RegisteredClass&) = delete;
  RegisteredClass& operator=(const RegisteredClass&) = delete;

  REFCLSID Clsid() const { return clsid_; }

 private:
  std::wstring KeyPath() const { return L"Software\\Classes\\CLSID\\" + clsidText_; }

  std::wstring clsidText_;
  CLSID clsid_{};
};

// Writes a copy of `source` to `target` with one byte of its data changed.
void WriteTamperedCopy(const std::wstring& source, const std::wstring& target);

}  // namespace ZelTest
