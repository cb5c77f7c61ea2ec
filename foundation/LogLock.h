// The lock every process that moves one module's ring of log files or rewrites its log.ini takes:
// the alerter runs in each user's session under one executable name, so the lock is machine-wide.
// (Appends within the current file take the cheaper LogLineLock.)
#pragma once

#include <windows.h>

#include <string>

#include "Handles.h"

namespace ETWLogging {

// "Global\<module>_CAD0E02E86CD4436B6318C111B9092AC", which every user's process may wait for;
// the session's "Local\" one only when the machine-wide one cannot be created or opened.
// Null with the thread's last error when neither can.
Strata::UniqueHandle OpenLogMutex(const std::wstring& moduleBaseName);

// The name without its namespace prefix.
std::wstring LogMutexName(const std::wstring& moduleBaseName);

// The security descriptor an access list in SDDL form describes, owned; null when it cannot be made.
Strata::UniqueLocalMem DescriptorFromSddl(const wchar_t* sddl);

}  // namespace ETWLogging
