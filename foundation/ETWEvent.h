// One diagnostic message as an event of the classic trace format: the 64-byte header and the
// payload it points to.
#pragma once

#include <windows.h>
#include <evntrace.h>

#include <string>
#include <string_view>
#include <vector>

namespace ETWLogging {

// Event class of every diagnostic message: {CD1DAAD0-54CC-11E0-B8AF-0800200C9A66}.
extern const GUID kDiagnosticEventGuid;

struct EventRecord {
  DWORD processId;
  DWORD threadId;
  std::wstring_view executableFileName;
  std::wstring_view sourceFile;
  int line;
  std::wstring_view function;
  std::wstring_view moduleFileName;
  std::wstring_view moduleVersion;
  std::wstring_view group;
  std::wstring_view text;
};

// Payload layout, as a reader of a captured trace finds it in the event's user data. Items follow
// one another with no padding, little-endian:
//
//   offset 0  uint32  item type
//   offset 4  uint32  value kind: 2 or 5 = 4-byte integer, 4 = UTF-16 text without terminator
//   offset 8  uint16  byte length of the value (characters times 2 for text)
//   offset 10 bytes   the value
//
//   type kind  value
//    4    2    process ID
//    5    2    thread ID
//   13    4    executable file name
//    6    4    source file name, as the caller passed it
//    7    5    line number
//    8    4    function name
//    9    4    file name of the module that carries the logging library
//   10    4    that module's version, "a.b.c.d"
//   11    4    group name
//   12    4    message text
//
// Texts longer than a 16-bit length can describe are cut to what fits. Throws std::bad_alloc.
std::vector<BYTE> SerializePayload(const EventRecord& record);

// The header sent for one event: EVENT_TRACE_HEADER followed by one MOF field that points to the
// payload, 64 bytes in all.
struct EventWithPayload {
  EVENT_TRACE_HEADER header;
  MOF_FIELD payload;
};
static_assert(sizeof(EventWithPayload) == 64, "the trace format fixes the header at 64 bytes");

constexpr ULONG kTracedGuidWithMofPointer = WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_MOF_PTR;  // 0x00120000

// The payload must outlive the send: the header only points to it.
EventWithPayload MakeEvent(DWORD level, const std::vector<BYTE>& payload);

// Level 6 is a second "Information"; the trace format knows levels 1 to 5 only.
DWORD MapTraceLevel(DWORD level);

}  // namespace ETWLogging
