// Support tool for the diagnostic log. Both logging switches are stored scrambled, so they cannot
// be set with a registry editor or a text editor:
//   KyLogCfg mechanism file|trace            select the back end ("Logging Mechanism")
//   KyLogCfg set KEY VALUE [GROUP MODULE]    write a "Config" key of the shared or a module's log.ini
//   KyLogCfg get KEY [GROUP MODULE]          print it
//   KyLogCfg print FILE                      print a UTF-16 log file as UTF-8
//   KyLogCfg help                            how to capture the event-tracing back end on Windows
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "ETWAppProperties.h"
#include "Handles.h"
#include "LogLock.h"
#include "LogPaths.h"
#include "LoggingIf.h"
#include "ObfuscatedIniReader.h"
#include "ObfuscatedRegKey.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;
constexpr wchar_t kConfigSection[] = L"Config";
constexpr DWORD kLogLockWaitMs = 7000;  // as long as the logger itself waits

int Fail(int code, const std::wstring& message) {
  fwprintf(stderr, L"KyLogCfg: %ls\n", message.c_str());
  return code;
}

int Usage() {
  return Fail(kUsageError, L"usage: KyLogCfg mechanism file|trace | set KEY VALUE [GROUP MODULE] | "
                           L"get KEY [GROUP MODULE] | print FILE | help");
}

// Support staff read this on the customer's machine, so it names the provider as that machine
// has it configured, and gives commands that work there without further reading.
constexpr wchar_t kTraceHelp[] =
    L"The event-tracing back end (the default: \"Logging Mechanism\" is not 1) is a classic trace\n"
    L"provider. It sends nothing until a trace session enables it.\n"
    L"\n"
    L"  provider GUID: %ls\n"
    L"\n"
    L"Capture a trace on Windows, from an elevated command prompt:\n"
    L"  logman start ZelTrace -p %ls 0 2 -o %%TEMP%%\\zel.etl -ets\n"
    L"      (level 2 sends warnings, errors and critical messages; level 1 sends everything)\n"
    L"  A session's level is the lowest of ZEL's levels it gets, not the usual trace level: level N\n"
    L"  sends 1 Normal, 2 Warning, 4 Error and 5 Critical from N up, and Information (3) always.\n"
    L"  ... reproduce the problem ...\n"
    L"  logman stop ZelTrace -ets\n"
    L"  tracerpt %%TEMP%%\\zel.etl -o %%TEMP%%\\zel.xml -of XML\n"
    L"\n"
    L"Each message is one event of class {CD1DAAD0-54CC-11E0-B8AF-0800200C9A66}, type 1, version 1, its\n"
    L"level in the header (6 is sent as 3). tracerpt shows its user data in hexadecimal: a sequence of\n"
    L"items, each a 4-byte item type, a 4-byte value kind (2 or 5: 4-byte integer; 4: UTF-16 text\n"
    L"without terminator), a 2-byte byte length and the value, little-endian, in this order:\n"
    L"  4 process ID, 5 thread ID, 13 executable, 6 source file, 7 line, 8 function,\n"
    L"  9 module file name, 10 module version, 11 group, 12 message text.\n"
    L"\n"
    L"Switches under HKLM\\%ls (DWORD \"Enable\", \"Severity\"; also in its subkeys GROUP and\n"
    L"GROUP\\MODULE, the most specific winning) override what the session asks for.\n";

int PrintTraceHelp() {
  ETWLogging::internal::ETWAppProperties properties;
  if (properties.Load(nullptr) != 0) return Fail(kFailure, L"the event-tracing properties cannot be loaded");
  wchar_t guid[40];
  ::StringFromGUID2(properties.ProviderGuid(), guid, 40);
  wprintf(kTraceHelp, guid, guid, properties.ProviderKey().c_str());
  return 0;
}

bool ParseDword(const wchar_t* text, DWORD* value) {
  wchar_t* end = nullptr;
  errno = 0;
  unsigned long long parsed = wcstoull(text, &end, 0);
  if (!*text || *end || errno || parsed > MAXDWORD || *text == L'-') return false;
  *value = static_cast<DWORD>(parsed);
  return true;
}

int SetMechanism(const std::wstring& choice) {
  if (choice != L"file" && choice != L"trace") return Usage();
  Strata::CObfuscatedRegKey key;
  LONG result = key.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Varant\\Logging", REG_NONE, REG_OPTION_NON_VOLATILE,
                           KEY_READ | KEY_WRITE);
  if (result == ERROR_SUCCESS)
    result = key.SetDWORDValue(L"Logging Mechanism", choice == L"file" ? DWORD{ETWLogging::kMechanismFile} : DWORD{0});
  if (result != ERROR_SUCCESS)
    return Fail(kFailure, L"cannot write the logging switch (error " + std::to_wstring(result) + L")");
  return 0;
}

// Where a log.ini lives: the shared one, or a group's module's when both are given.
struct IniPlace {
  std::wstring base;    // the log folder above every module's
  std::wstring folder;  // the folder that holds the file
  std::wstring path;
};

std::optional<IniPlace> IniPlaceOf(int argc, wchar_t** argv, int groupIndex) {
  std::wstring programData;
  if (ETWLogging::GetProgramDataFolder(Strata::ShlObjAPI::System(), &programData) != 0) return std::nullopt;
  IniPlace place;
  place.base = ETWLogging::LogBaseFolder(programData);
  bool ofModule = argc > groupIndex;
  place.folder = ofModule ? ETWLogging::LogFolder(programData, argv[groupIndex], argv[groupIndex + 1]) : place.base;
  place.path = ofModule ? ETWLogging::ModuleIniPath(place.folder) : ETWLogging::SharedIniPath(programData);
  return place;
}

int SetKey(int argc, wchar_t** argv) {
  DWORD value = 0;
  if (!ParseDword(argv[3], &value)) return Fail(kUsageError, L"not a number: " + std::wstring(argv[3]));
  std::optional<IniPlace> place = IniPlaceOf(argc, argv, 4);
  if (!place) return Fail(kFailure, L"the program-data folder cannot be had");
  if (!ETWLogging::CreateLogFolder(place->base, place->folder)) return Fail(kFailure, L"cannot create " + place->folder);
  // A module's logger rewrites its log.ini ("LastLogIdx", repaired settings) under this lock; a
  // rewrite of ours outside it could be lost to, or lose, one of the logger's.
  Strata::UniqueHandle mutex;
  if (argc > 4) mutex = ETWLogging::OpenLogMutex(argv[5]);
  Strata::MutexLock lock = Strata::AcquireMutex(mutex.get(), kLogLockWaitMs);
  if (mutex && !lock) return Fail(kFailure, L"the module's logger holds its lock; try again");
  Strata::CObfuscatedIniReader ini;
  ini.Load(place->path.c_str());
  if (!ini.WriteDword(kConfigSection, argv[2], value)) return Fail(kFailure, L"cannot write " + place->path);
  return 0;
}

int GetKey(int argc, wchar_t** argv) {
  std::optional<IniPlace> place = IniPlaceOf(argc, argv, 3);
  if (!place) return Fail(kFailure, L"the program-data folder cannot be had");
  Strata::CObfuscatedIniReader ini;
  ini.Load(place->path.c_str());
  DWORD value = 0;
  if (!ini.ReadDword(kConfigSection, argv[2], &value)) return Fail(kFailure, std::wstring(argv[2]) + L" is not set");
  wprintf(L"%lu\n", value);
  return 0;
}

int PrintLog(const wchar_t* path) {
  Strata::UniqueFile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return Fail(kFailure, L"cannot open " + std::wstring(path));
  std::vector<char> bytes;
  char chunk[65536];
  DWORD got = 0;
  while (::ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  size_t start = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                         static_cast<unsigned char>(bytes[1]) == 0xFE ? 2 : 0;
  int characters = static_cast<int>((bytes.size() - start) / sizeof(wchar_t));
  if (characters == 0) return 0;
  const auto* text = reinterpret_cast<const wchar_t*>(bytes.data() + start);
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text, characters, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, characters, &utf8[0], size, nullptr, nullptr);
  DWORD written = 0;
  return ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written,
                     nullptr) ? 0 : kFailure;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"mechanism" && argc == 3) return SetMechanism(argv[2]);
  if (command == L"set" && (argc == 4 || argc == 6)) return SetKey(argc, argv);
  if (command == L"get" && (argc == 3 || argc == 5)) return GetKey(argc, argv);
  if (command == L"print" && argc == 3) return PrintLog(argv[2]);
  if (command == L"help" && argc == 2) return PrintTraceHelp();
  return Usage();
}
