// Ends tracked alerts on command, the way a user's click would, calling each alert's notification
// on the library's own thread.
//
// A command is a numbered entry under <state key>\Commands with "Handle" (the alert), "Button"
// (the chosen button, from 1), "DoNotShowAgain" (1: the tick box was ticked), and optionally
// "Code" (the notification code, default 0) and "Status" (the result's status, default 0). A
// command with code 0 ends the alert; another code only notifies. The thread takes each command
// for an alert this process tracks, deletes it and notifies; it looks every 50 ms. Like a toast
// library's window thread, it is in a single-threaded apartment.
//
// With the knob "RepeatNotifications" 1 at a show, another thread of the library notifies the end
// of every tracked alert again and again, as fast as it can, as a library racing its own unbinding
// would; a new binding (KyInitTARNAlert) forgets the alerts of the one before.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "AlertRecorder.h"
#include "KyPltAlt.h"

namespace ZelStandIns {

class AlertCompleter {
 public:
  static AlertCompleter& Instance();

  // Starts the library's thread once. The thread runs until the process ends, so it pins the
  // library in memory.
  void Start();
  void Track(uint32_t handle, KyAlertNotification notify, void* context, const AlertOption* option);
  void Forget(uint32_t handle);
  // A new binding: the alerts of the one before are no longer notified.
  void ForgetAll();
  // Starts the repeating thread once.
  void StartRepeating();
  // Ends a tracked alert at once on the calling thread, as a command would; nothing for an
  // alert not tracked.
  void CompleteNow(uint32_t handle, uint32_t button, bool doNotShowAgain);

 private:
  struct TrackedAlert {
    KyAlertNotification notify = nullptr;
    void* context = nullptr;
    std::optional<uint32_t> optionId;
    std::wstring optionText;
  };
  struct Command {
    std::wstring entry;
    uint32_t handle = 0;
    uint32_t button = 0;
    bool doNotShowAgain = false;
    int32_t code = 0;
    uint32_t status = 0;
  };

  void Run();
  void Repeat();
  void ProcessCommands();
  // Takes the alert out of the tracked set when the command ends it.
  std::optional<TrackedAlert> Claim(const Command& command);
  void Notify(const Command& command, const TrackedAlert& alert) const;

  const AlertRecorder recorder_;
  std::once_flag started_;
  std::once_flag repeating_;
  std::mutex lock_;
  std::map<uint32_t, TrackedAlert> tracked_;  // guarded by lock_
};

}  // namespace ZelStandIns
