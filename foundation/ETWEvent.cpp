#include "ETWEvent.h"

#include <wmistr.h>

#include <algorithm>
#include <limits>

#include "LoggingIf.h"

namespace ETWLogging {

const GUID kDiagnosticEventGuid = {0xCD1DAAD0, 0x54CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};

namespace {

enum ItemKind : uint32_t { kKindInteger = 2, kKindText = 4, kKindLineNumber = 5 };
enum ItemType : uint32_t {
  kItemProcessId = 4,
  kItemThreadId = 5,
  kItemSourceFile = 6,
  kItemLine = 7,
  kItemFunction = 8,
  kItemModuleFileName = 9,
  kItemModuleVersion = 10,
  kItemGroup = 11,
  kItemText = 12,
  kItemExecutable = 13,
};

// Readers of the captured trace decode every message with class type 1, version 1.
constexpr UCHAR kEventClassType = 1;
constexpr USHORT kEventClassVersion = 1;

constexpr size_t kLongestTextBytes = std::numeric_limits<uint16_t>::max() & ~size_t{1};

class PayloadWriter {
 public:
  void Integer(uint32_t type, uint32_t kind, uint32_t value) { Item(type, kind, &value, sizeof(value)); }
  void Text(uint32_t type, std::wstring_view text) {
    Item(type, kKindText, text.data(), std::min(text.size() * sizeof(wchar_t), kLongestTextBytes));
  }
  std::vector<BYTE> Take() { return std::move(bytes_); }

 private:
  void Item(uint32_t type, uint32_t kind, const void* value, size_t length) {
    auto bytes16 = static_cast<uint16_t>(length);
    Append(&type, sizeof(type));
    Append(&kind, sizeof(kind));
    Append(&bytes16, sizeof(bytes16));
    Append(value, length);
  }
  void Append(const void* data, size_t length) {
    const auto* first = static_cast<const BYTE*>(data);
    bytes_.insert(bytes_.end(), first, first + length);
  }
  std::vector<BYTE> bytes_;
};

}  // namespace

std::vector<BYTE> SerializePayload(const EventRecord& record) {
  PayloadWriter writer;
  writer.Integer(kItemProcessId, kKindInteger, record.processId);
  writer.Integer(kItemThreadId, kKindInteger, record.threadId);
  writer.Text(kItemExecutable, record.executableFileName);
  writer.Text(kItemSourceFile, record.sourceFile);
  writer.Integer(kItemLine, kKindLineNumber, static_cast<uint32_t>(record.line));
  writer.Text(kItemFunction, record.function);
  writer.Text(kItemModuleFileName, record.moduleFileName);
  writer.Text(kItemModuleVersion, record.moduleVersion);
  writer.Text(kItemGroup, record.group);
  writer.Text(kItemText, record.text);
  return writer.Take();
}

EventWithPayload MakeEvent(DWORD level, const std::vector<BYTE>& payload) {
  EventWithPayload event{};
  event.header.Size = sizeof(EventWithPayload);
  event.header.Class.Type = kEventClassType;
  event.header.Class.Level = static_cast<UCHAR>(level >= kLevelNormal && level <= kLevelCritical ? level : kLevelInformation);
  event.header.Class.Version = kEventClassVersion;
  event.header.Guid = kDiagnosticEventGuid;
  event.header.Flags = kTracedGuidWithMofPointer;
  event.payload.DataPtr = reinterpret_cast<ULONG64>(payload.data());
  event.payload.Length = static_cast<ULONG>(payload.size());
  return event;
}

DWORD MapTraceLevel(DWORD level) { return level == kLevelInformation6 ? DWORD{kLevelInformation} : level; }

}  // namespace ETWLogging
