// The signed copies of the test server made at build time, and the roots they chain to.
#pragma once

#include <string>

namespace ZelTest {

// Adds the test publisher's root to the machine's trusted roots of this prefix (idempotent).
void TrustTestRoot();
// Adds a second root to the current user's trusted roots only.
void TrustUserOnlyRoot();

// Path of FactoryTestServer.dll unsigned, or of its copy signed as `signatureCase`
// ("trusted", "other-publisher", "not-code-signing", "untrusted-root", "leaf-only", "user-root").
std::wstring TestServerPath(const std::wstring& signatureCase = L"");

// Writes a copy of `source` to `target` with one byte of its data changed.
void WriteTamperedCopy(const std::wstring& source, const std::wstring& target);

}  // namespace ZelTest
