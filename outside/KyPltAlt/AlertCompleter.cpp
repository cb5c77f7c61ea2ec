#include "AlertCompleter.h"

#include <objbase.h>

#include <thread>

#include "ComGuard.h"
#include "ServerRegistration.h"
#include "StandInState.h"

namespace ZelStandIns {

namespace {
constexpr DWORD kPollMs = 50;
}

AlertCompleter& AlertCompleter::Instance() {
  static AlertCompleter completer;
  return completer;
}

void PinThisLibrary() {
  HMODULE pinned = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(ThisModule()), &pinned);
}

void AlertCompleter::Start() {
  std::call_once(started_, [this] {
    PinThisLibrary();
    std::thread([this] { Run(); }).detach();
  });
}

void AlertCompleter::StartRepeating() {
  std::call_once(repeating_, [this] {
    PinThisLibrary();
    std::thread([this] { Repeat(); }).detach();
  });
}

void AlertCompleter::Track(uint32_t handle, KyAlertNotification notify, void* context, const AlertOption* option) {
  TrackedAlert alert{notify, context, std::nullopt, L""};
  if (option) {
    alert.optionId = option->optionId;
    alert.optionText = option->text ? option->text : L"";
  }
  std::lock_guard<std::mutex> guard(lock_);
  tracked_[handle] = std::move(alert);
}

void AlertCompleter::Forget(uint32_t handle) {
  std::lock_guard<std::mutex> guard(lock_);
  tracked_.erase(handle);
}

void AlertCompleter::ForgetAll() {
  std::lock_guard<std::mutex> guard(lock_);
  tracked_.clear();
}

void AlertCompleter::CompleteNow(uint32_t handle, uint32_t button, bool doNotShowAgain) {
  Command command{L"", handle, button, doNotShowAgain, 0, 0};
  if (std::optional<TrackedAlert> alert = Claim(command)) Notify(command, *alert);
}

void AlertCompleter::Run() {
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  for (;;) {
    // A command that cannot be handled now (out of memory) is taken again on the next round.
    GuardHResult([this] {
      ProcessCommands();
      return S_OK;
    });
    ::Sleep(kPollMs);
  }
}

void AlertCompleter::Repeat() {
  for (;;) {
    std::map<uint32_t, TrackedAlert> tracked;
    {
      std::lock_guard<std::mutex> guard(lock_);
      tracked = tracked_;
    }
    AlertResult result{0, 1, 0, nullptr};
    for (const auto& alert : tracked) alert.second.notify(alert.first, 0, &result, alert.second.context);
    if (tracked.empty()) ::Sleep(1);
  }
}

void AlertCompleter::ProcessCommands() {
  Strata::UniqueHkey commands = OpenKey(HKEY_LOCAL_MACHINE, recorder_.KeyPath() + L"\\Commands", false);
  if (!commands) return;
  for (const std::wstring& entry : EntryNames(commands.get())) {
    Strata::UniqueHkey key = OpenKey(commands.get(), entry, false);
    std::optional<DWORD> handle = ReadDword(key.get(), L"Handle");
    if (!handle) continue;
    Command command{entry, *handle, ReadDword(key.get(), L"Button").value_or(0),
                    ReadDword(key.get(), L"DoNotShowAgain").value_or(0) != 0,
                    static_cast<int32_t>(ReadDword(key.get(), L"Code").value_or(0)),
                    ReadDword(key.get(), L"Status").value_or(0)};
    key.reset();
    std::optional<TrackedAlert> alert = Claim(command);
    if (!alert) continue;
    ::RegDeleteTreeW(commands.get(), entry.c_str());
    ::RegDeleteKeyW(commands.get(), entry.c_str());
    Notify(command, *alert);
  }
}

std::optional<AlertCompleter::TrackedAlert> AlertCompleter::Claim(const Command& command) {
  std::lock_guard<std::mutex> guard(lock_);
  auto found = tracked_.find(command.handle);
  if (found == tracked_.end()) return std::nullopt;
  TrackedAlert alert = found->second;
  if (command.code == 0) tracked_.erase(found);
  return alert;
}

void AlertCompleter::Notify(const Command& command, const TrackedAlert& alert) const {
  if (command.code != 0) {
    alert.notify(command.handle, command.code, nullptr, alert.context);
    return;
  }
  AlertOption option{alert.optionId.value_or(0), 0, alert.optionText.c_str(), command.doNotShowAgain ? 1u : 0u, 0};
  AlertResult result{command.status, command.button, alert.optionId ? 1u : 0u, alert.optionId ? &option : nullptr};
  recorder_.MarkAlert(command.handle, L"Completed", 1);
  recorder_.MarkAlert(command.handle, L"ChosenButton", command.button);
  recorder_.MarkAlert(command.handle, L"DoNotShowAgain", command.doNotShowAgain ? 1 : 0);
  alert.notify(command.handle, 0, &result, alert.context);
}

}  // namespace ZelStandIns
