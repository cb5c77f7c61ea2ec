// Helpers of the interface tests: the signed copies of the test servers made at build time and the
// roots they chain to, class registrations, the proxy/stub library.
#pragma once

#include <windows.h>
#include <unknwn.h>

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

// A fresh class id served by a given module, registered for the length of one test, in process
// ("InprocServer32") or out of process ("LocalServer32"). It goes under the machine's classes:
// Wine's COM does not look at per-user class registrations.
class RegisteredClass {
 public:
  explicit RegisteredClass(const std::wstring& serverPath, const wchar_t* serverKind = L"InprocServer32");
  ~RegisteredClass();
  RegisteredClass(const RegisteredClass&) = delete;
  RegisteredClass& operator=(const RegisteredClass&) = delete;

  REFCLSID Clsid() const { return clsid_; }

 private:
  std::wstring KeyPath() const { return L"Software\\Classes\\CLSID\\" + clsidText_; }

  std::wstring clsidText_;
  CLSID clsid_{};
};

// Asks a suite class object for an object from the unsigned test server's code, so that the class
// object sees a caller without the publisher's signature.
HRESULT CreateAsUnsignedCaller(IUnknown* classObject, REFIID iid, IUnknown** object);

// What every class object of the suite kind must hold: IUnknown is its suite factory, nothing is
// created through IClassFactory's creation slot, an unsigned caller is refused and this signed test
// program is served an object answering `iid`.
void ExpectOnlySignedCallersServed(IUnknown* classObject, REFIID iid);

// The path of the copy of the test server whose DllMain ran last in this process; empty for none.
std::wstring LoadedTestServer();

// Writes a copy of `source` to `target` with one byte of its data changed.
void WriteTamperedCopy(const std::wstring& source, const std::wstring& target);

}  // namespace ZelTest
