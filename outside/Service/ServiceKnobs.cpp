#include "ServiceKnobs.h"

#include <string>

#include "ServiceResults.h"
#include "ServiceStore.h"
#include "StandInKnobs.h"

namespace ZelService {

namespace {

std::optional<DWORD> ReadDword(const std::wstring& path, const std::wstring& name) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return value;
}

// Uses up one of the counts a knob `name` keeps, in the process's subkey or, failing that, the
// service key: true when one was left, false when it had run out, nothing when no count is set.
std::optional<bool> CountDown(const std::wstring& name) {
  ServiceStore store;
  Strata::MutexLock lock = store.Lock();
  for (const std::wstring& path : {ZelStandIns::StandInKnobs::ProcessKeyPath(kStandInName, ::GetCurrentProcessId()),
                                   ZelStandIns::StandInKnobs::KeyPath(kStandInName)}) {
    std::optional<DWORD> count = ReadDword(path, name);
    if (!count) continue;
    if (*count == 0) return false;
    DWORD left = *count - 1;
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, path.c_str(), name.c_str(), REG_DWORD, &left, sizeof(left));
    return true;
  }
  return std::nullopt;
}

// Whether a limited knob still holds, using up one of its times; an unlimited one always holds.
bool UseOneTime(const std::wstring& timesName) { return CountDown(timesName).value_or(true); }

// Whether this call is one of those a "<operation>.After" knob lets through before it holds, using
// it up; so that the call after them is the one that fails.
bool PassedBeforeTheKnob(const std::wstring& afterName) { return CountDown(afterName).value_or(false); }

}  // namespace

DWORD ServiceGeneration() {
  return ZelStandIns::StandInKnobs(kStandInName).ReadDword(L"Kills").value_or(0);
}

std::optional<KnobAnswer> ConfiguredAnswer(const wchar_t* operation) {
  const ZelStandIns::StandInKnobs knobs(kStandInName);
  const std::wstring prefix = std::wstring(operation) + L".";
  knobs.CountCall((prefix + L"Calls").c_str());
  std::optional<DWORD> hr = knobs.ReadDword((prefix + L"HResult").c_str());
  std::optional<DWORD> result = knobs.ReadDword((prefix + L"Result").c_str());
  if (!hr && !result) return std::nullopt;
  if (PassedBeforeTheKnob(prefix + L"After")) return std::nullopt;
  if (!UseOneTime(prefix + L"Times")) return std::nullopt;
  return KnobAnswer{hr ? static_cast<HRESULT>(*hr) : S_OK, result ? static_cast<long>(*result) : kResultSuccess};
}

bool AnsweredByKnob(const wchar_t* operation, HRESULT& hr, long* result) {
  std::optional<KnobAnswer> answer = ConfiguredAnswer(operation);
  if (!answer) return false;
  *result = answer->result;
  hr = answer->hr;
  return true;
}

}  // namespace ZelService
