#include "OSInfoProxy.h"

#include <cwchar>
#include <mutex>
#include <string>

#include "FileVersionInfo.h"
#include "OnceFlag.h"

namespace Strata {

BOOL WinOSVersionAPI::VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, DWORDLONG conditionMask) {
  return ::VerifyVersionInfoW(info, typeMask, conditionMask);
}

namespace {
// At namespace scope: a function-local static with a destructor is guarded by runtime objects that
// outlive an unloaded library (see OnceFlag.h).
WinOSVersionAPI g_systemVersionApi;
}  // namespace

WinOSVersionAPI& WinOSVersionAPI::System() { return g_systemVersionApi; }

namespace internal {

namespace {

// No service pack ever went past a single digit; the bound keeps a confused check from looping on.
constexpr WORD kHighestServicePack = 0xFF;

struct VersionNumbers {
  DWORD major = 0;
  DWORD minor = 0;
  DWORD build = 0;
};

VersionNumbers ParseDottedVersion(const std::wstring& text) {
  VersionNumbers numbers;
  DWORD* fields[] = {&numbers.major, &numbers.minor, &numbers.build};
  const wchar_t* cursor = text.c_str();
  for (DWORD* field : fields) {
    wchar_t* end = nullptr;
    *field = ::wcstoul(cursor, &end, 10);
    if (*end != L'.') break;
    cursor = end + 1;
  }
  return numbers;
}

}  // namespace

// Written once under `once_`, read-only after.
class OSInfoProxy::Facts {
 public:
  explicit Facts(WinOSVersionAPI& api) : api_(api) {}

  const Facts& Gathered() {
    once_.Run([this] { Gather(); });
    return *this;
  }

  VersionNumbers version;
  bool workstation = true;
  WORD servicePackMajor = 0;
  bool wow64 = false;

 private:
  void Gather() {
    SystemFileVersionInfo kernel;
    if (kernel.Load(L"kernel32.dll")) version = ParseDottedVersion(kernel.GetString(L"ProductVersion"));
    workstation = IsProductType(VER_NT_WORKSTATION);
    servicePackMajor = HighestServicePack();
    BOOL emulated = FALSE;
    wow64 = ::IsWow64Process(::GetCurrentProcess(), &emulated) && emulated;
  }

  bool IsProductType(BYTE productType) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    info.wProductType = productType;
    return api_.VerifyVersionInfoW(&info, VER_PRODUCT_TYPE, ::VerSetConditionMask(0, VER_PRODUCT_TYPE, VER_EQUAL));
  }

  bool HasServicePackAtLeast(WORD level) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    info.wServicePackMajor = level;
    return api_.VerifyVersionInfoW(&info, VER_SERVICEPACKMAJOR,
                                   ::VerSetConditionMask(0, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL));
  }

  WORD HighestServicePack() {
    WORD level = 0;
    while (level < kHighestServicePack && HasServicePackAtLeast(level + 1)) ++level;
    return level;
  }

  WinOSVersionAPI& api_;
  Strata::OnceFlag once_;
};

std::shared_ptr<OSInfoProxy::Facts> OSInfoProxy::systemFacts_;
Strata::OnceFlag OSInfoProxy::systemFactsMade_;

OSInfoProxy::OSInfoProxy() {
  systemFactsMade_.Run([] { systemFacts_ = std::make_shared<Facts>(WinOSVersionAPI::System()); });
  facts_ = systemFacts_;
}

OSInfoProxy::OSInfoProxy(WinOSVersionAPI& api) : facts_(std::make_shared<Facts>(api)) {}

DWORD OSInfoProxy::MajorVersion() const { return facts_->Gathered().version.major; }
DWORD OSInfoProxy::MinorVersion() const { return facts_->Gathered().version.minor; }
DWORD OSInfoProxy::BuildNumber() const { return facts_->Gathered().version.build; }

bool OSInfoProxy::IsAtLeast(DWORD major, DWORD minor) const {
  const VersionNumbers& version = facts_->Gathered().version;
  return version.major > major || (version.major == major && version.minor >= minor);
}

bool OSInfoProxy::IsWorkstation() const { return facts_->Gathered().workstation; }
WORD OSInfoProxy::ServicePackMajor() const { return facts_->Gathered().servicePackMajor; }
bool OSInfoProxy::IsWow64() const { return facts_->Gathered().wow64; }

}  // namespace internal
}  // namespace Strata
