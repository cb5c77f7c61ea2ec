// Support tool for the diagnostic log. Both logging switches are stored scrambled, so they cannot
// be set with a registry editor or a text editor:
//   KyLogCfg mechanism file|trace            select the back end ("Logging Mechanism")
//   KyLogCfg set KEY VALUE [GROUP MODULE]    write a "Config" key of the shared or a module's log.ini
//   KyLogCfg get KEY [GROUP MODULE]          print it
//   KyLogCfg print FILE                      print a UTF-16 log file as UTF-8
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "Handles.h"
#include "LogPaths.h"
#include "LoggingIf.h"
#include "ObfuscatedIniReader.h"
#include "ObfuscatedRegKey.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;
constexpr wchar_t kConfigSection[] = L"Config";

int Fail(int code, const std::wstring& message) {
  fwprintf(stderr, L"KyLogCfg: %ls\n", message.c_str());
  return code;
}

int Usage() {
  return Fail(kUsageError, L"usage: KyLogCfg mechanism file|trace | set KEY VALUE [GROUP MODULE] | "
                           L"get KEY [GROUP MODULE] | print FILE");
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

// The shared log.ini, or the one of a group's module when both are given.
bool IniPath(int argc, wchar_t** argv, int groupIndex, std::wstring* path) {
  std::wstring programData;
  if (ETWLogging::GetProgramDataFolder(Strata::ShlObjAPI::System(), &programData) != 0) return false;
  *path = argc > groupIndex
              ? ETWLogging::ModuleIniPath(ETWLogging::LogFolder(programData, argv[groupIndex], argv[groupIndex + 1]))
              : ETWLogging::SharedIniPath(programData);
  return true;
}

int SetKey(int argc, wchar_t** argv) {
  DWORD value = 0;
  if (!ParseDword(argv[3], &value)) return Fail(kUsageError, L"not a number: " + std::wstring(argv[3]));
  std::wstring path;
  if (!IniPath(argc, argv, 4, &path)) return Fail(kFailure, L"the program-data folder cannot be had");
  std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
  int created = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS)
    return Fail(kFailure, L"cannot create " + folder);
  Strata::CObfuscatedIniReader ini;
  ini.Load(path.c_str());
  if (!ini.WriteDword(kConfigSection, argv[2], value)) return Fail(kFailure, L"cannot write " + path);
  return 0;
}

int GetKey(int argc, wchar_t** argv) {
  std::wstring path;
  if (!IniPath(argc, argv, 3, &path)) return Fail(kFailure, L"the program-data folder cannot be had");
  Strata::CObfuscatedIniReader ini;
  ini.Load(path.c_str());
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
  return Usage();
}
