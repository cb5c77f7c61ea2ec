// Registrations the stand-in tests make for themselves: the suite proxy/stub library, and classes
// under fresh class ids served by a stand-in, so that tests running side by side in one prefix
// never share a server, its knobs or its records.
#pragma once

#include <windows.h>

#include <string>

namespace ZelTest {

// Registers the proxy/stub library of the suite interfaces, as an installer would.
void RegisterSuiteProxyStubLibrary();

// A fresh class id, registered under the machine's classes for the length of one test.
class TestClassRegistration {
 public:
  enum class Server { InProcess, Local };
  // `server`: a library path (InProcess), or a program path given the class id as its first
  // argument (Local).
  TestClassRegistration(const std::wstring& server, Server kind);
  ~TestClassRegistration();
  TestClassRegistration(const TestClassRegistration&) = delete;
  TestClassRegistration& operator=(const TestClassRegistration&) = delete;

  REFCLSID Clsid() const { return clsid_; }
  const std::wstring& ClsidText() const { return clsidText_; }

 private:
  std::wstring clsidText_;
  CLSID clsid_{};
};

}  // namespace ZelTest
