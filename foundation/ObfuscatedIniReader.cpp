#include "ObfuscatedIniReader.h"

#include <cstring>
#include <new>

#include "FormatText.h"
#include "Handles.h"
#include "Scrambler.h"
#include "SlimLock.h"

namespace Strata {
namespace {

// These files hold a handful of keys; anything much bigger is not one of them and reads as empty.
constexpr ULONGLONG kMaxFileBytes = 1 << 20;
constexpr wchar_t kByteOrderMark = 0xFEFF;
constexpr int kReplaceAttempts = 5;
constexpr DWORD kReplaceRetryMs = 20;
constexpr wchar_t kBlanks[] = L" \t";

// A value belongs to its section and key: the same bytes under another key do not unscramble.
std::wstring SealName(std::wstring_view section, std::wstring_view key) {
  std::wstring name(section);
  name += L'\0';
  name += key;
  return name;
}

std::wstring_view Trim(std::wstring_view text) {
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::wstring_view::npos) return std::wstring_view();
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Whether a name written into the file parses back as the same name.
bool ReadsBack(const wchar_t* name, const wchar_t* forbidden) {
  if (!name || !*name) return false;
  std::wstring_view view(name);
  return Trim(view) == view && view.find_first_of(forbidden) == std::wstring_view::npos;
}
bool IsStorableSection(const wchar_t* section) { return ReadsBack(section, L"]\r\n"); }
bool IsStorableKey(const wchar_t* key) { return ReadsBack(key, L"=\r\n") && key[0] != L'[' && key[0] != L';'; }

// UTF-16 with a byte-order mark, as this class writes; anything else is taken as UTF-8, which
// also covers ASCII files written by hand. Undecodable bytes become replacement characters.
std::wstring Decode(const std::vector<BYTE>& bytes) {
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    std::wstring text((bytes.size() - 2) / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(&text[0], bytes.data() + 2, text.size() * sizeof(wchar_t));
    return text;
  }
  const char* utf8 = reinterpret_cast<const char*>(bytes.data());
  int size = static_cast<int>(bytes.size());
  int chars = size > 0 ? ::MultiByteToWideChar(CP_UTF8, 0, utf8, size, nullptr, 0) : 0;
  std::wstring text(static_cast<size_t>(chars), L'\0');
  if (chars > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8, size, &text[0], chars);
  return text;
}

// The whole file behind `file`, of the size its stamp gave. A file too big to be ours reads as
// empty; a failed read is an error.
DWORD ReadAll(HANDLE file, ULONGLONG size, std::vector<BYTE>* bytes) {
  bytes->clear();
  if (size > kMaxFileBytes) return ERROR_SUCCESS;
  bytes->resize(static_cast<size_t>(size));
  DWORD got = 0;
  if (!bytes->empty() && !::ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr))
    return ::GetLastError();
  bytes->resize(got);
  return ERROR_SUCCESS;
}

bool WriteAll(HANDLE file, const void* data, size_t bytes) {
  DWORD written = 0;
  return bytes <= MAXDWORD && ::WriteFile(file, data, static_cast<DWORD>(bytes), &written, nullptr) &&
         written == bytes;
}

bool WriteAndFlush(HANDLE file, const std::wstring& text) {
  return WriteAll(file, text.data(), text.size() * sizeof(wchar_t)) && ::FlushFileBuffers(file);
}

// Writes `text` as a new UTF-16 file at `path`, flushed to disk; a partly written file is removed.
// The name is new: whatever another account planted there (a link above all) is not written through.
bool WriteWholeFile(const std::wstring& path, const std::wstring& text) {
  ::DeleteFileW(path.c_str());
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  if (WriteAndFlush(file.get(), text)) return true;
  file.reset();
  ::DeleteFileW(path.c_str());
  return false;
}

// Overwrites the file at `path` with `text`. Only the file's data is touched, which is all a
// user's process may change in the log folder when another account created the file.
bool RewriteInPlace(const std::wstring& path, const std::wstring& text) {
  UniqueFile file(::CreateFileW(path.c_str(), FILE_WRITE_DATA | SYNCHRONIZE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return file && WriteAndFlush(file.get(), text) && ::SetEndOfFile(file.get());
}

// Moves `from` over `to`. A reader in another process may hold `to` open for a moment, which
// refuses the replacement until it lets go.
bool MoveOver(const std::wstring& from, const std::wstring& to) {
  for (int attempt = 1;; ++attempt) {
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DWORD error = ::GetLastError();
    bool busy = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!busy || attempt == kReplaceAttempts) return false;
    ::Sleep(kReplaceRetryMs);
  }
}

// Whether this process's rights allow replacing the file; its holders' sharing is not asked.
bool MayBeReplaced(const std::wstring& path) {
  UniqueFile file(::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return file || ::GetLastError() != ERROR_ACCESS_DENIED;
}

}  // namespace

bool CObfuscatedIniReader::Stamp::operator==(const Stamp& other) const {
  return known && other.known && exists == other.exists && volume == other.volume &&
         indexHigh == other.indexHigh && indexLow == other.indexLow && lastWrite == other.lastWrite &&
         size == other.size;
}

CObfuscatedIniReader::Document CObfuscatedIniReader::Document::Parse(std::wstring_view text) {
  Document document;
  bool inSection = false;  // keys before the first header, or after a broken one, belong nowhere
  std::wstring_view section;
  size_t position = 0;
  while (position < text.size()) {
    size_t end = text.find_first_of(L"\r\n", position);
    if (end == std::wstring_view::npos) end = text.size();
    std::wstring_view line = Trim(text.substr(position, end - position));
    position = end + 1;
    if (line.empty() || line[0] == L';') continue;
    if (line[0] == L'[') {
      size_t close = line.find(L']');
      inSection = close != std::wstring_view::npos;
      if (inSection) {
        section = Trim(line.substr(1, close - 1));
        document.Put(section, std::wstring_view(), std::wstring(), false);
      }
      continue;
    }
    size_t equals = line.find(L'=');
    if (!inSection || equals == std::wstring_view::npos) continue;
    std::wstring_view key = Trim(line.substr(0, equals));
    if (!key.empty()) document.Put(section, key, std::wstring(Trim(line.substr(equals + 1))), false);
  }
  return document;
}

std::wstring CObfuscatedIniReader::Document::Serialize() const {
  std::wstring text(1, kByteOrderMark);
  for (const Section& section : sections) {
    if (text.size() > 1) text += L"\r\n";
    text += L"[" + section.name + L"]\r\n";
    for (const Entry& entry : section.entries) text += entry.key + L"=" + entry.value + L"\r\n";
  }
  return text;
}

const std::wstring* CObfuscatedIniReader::Document::Find(std::wstring_view section, std::wstring_view key) const {
  auto foundSection = sectionIndex.find(Scrambler::FoldName(section));
  if (foundSection == sectionIndex.end()) return nullptr;
  const Section& found = sections[foundSection->second];
  auto foundKey = found.keyIndex.find(Scrambler::FoldName(key));
  return foundKey == found.keyIndex.end() ? nullptr : &found.entries[foundKey->second].value;
}

// An empty key only makes sure that the section exists.
void CObfuscatedIniReader::Document::Put(std::wstring_view section, std::wstring_view key, std::wstring value,
                                         bool replace) {
  auto placedSection = sectionIndex.emplace(Scrambler::FoldName(section), sections.size());
  if (placedSection.second) sections.push_back(Section{std::wstring(section), {}, {}});
  if (key.empty()) return;
  Section& target = sections[placedSection.first->second];
  auto placedKey = target.keyIndex.emplace(Scrambler::FoldName(key), target.entries.size());
  if (placedKey.second)
    target.entries.push_back(Entry{std::wstring(key), std::move(value)});
  else if (replace)
    target.entries[placedKey.first->second].value = std::move(value);
}

bool CObfuscatedIniReader::Load(const wchar_t* path) {
  bool exists = CBaseIniReader::Load(path);
  std::lock_guard<Strata::SlimLock> lock(mutex_);
  document_ = Document();
  stamp_ = Stamp();
  return exists;
}

bool CObfuscatedIniReader::ReadDword(const wchar_t* section, const wchar_t* key, DWORD* value) {
  return TryReadDword(section, key, value) == ERROR_SUCCESS;
}

void CObfuscatedIniReader::Forget() {
  std::lock_guard<Strata::SlimLock> lock(mutex_);
  stamp_ = Stamp();
}

DWORD CObfuscatedIniReader::TryReadDword(const wchar_t* section, const wchar_t* key, DWORD* value) {
  if (!section || !key || !value) return ERROR_INVALID_PARAMETER;
  std::lock_guard<Strata::SlimLock> lock(mutex_);
  try {
    DWORD refreshed = RefreshLocked();
    if (refreshed != ERROR_SUCCESS) return refreshed;
    const std::wstring* text = document_.Find(section, key);
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (!text || !Scrambler::OpenText(SealName(section, key), *text, &type, &data) || type != REG_DWORD ||
        data.size() != sizeof(DWORD))
      return ERROR_NOT_FOUND;
    std::memcpy(value, data.data(), sizeof(DWORD));
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    stamp_ = Stamp();
    return ERROR_OUTOFMEMORY;
  }
}

bool CObfuscatedIniReader::WriteDword(const wchar_t* section, const wchar_t* key, DWORD value) {
  if (Path().empty() || !IsStorableSection(section) || !IsStorableKey(key)) return false;
  std::lock_guard<Strata::SlimLock> lock(mutex_);
  try {
    if (RefreshLocked() != ERROR_SUCCESS) return false;
    document_.Put(section, key, Scrambler::SealText(SealName(section, key), REG_DWORD, &value, sizeof(value)), true);
    bool written = ReplaceFile(document_.Serialize());
    // The next read parses what is on disk now, whether or not this write reached it.
    stamp_ = Stamp();
    return written;
  } catch (const std::bad_alloc&) {
    stamp_ = Stamp();
    return false;
  }
}

CObfuscatedIniReader::Stamp CObfuscatedIniReader::StampOf(HANDLE file, DWORD openError) {
  Stamp stamp;
  BY_HANDLE_FILE_INFORMATION information{};
  if (file == INVALID_HANDLE_VALUE) {
    stamp.known = openError == ERROR_FILE_NOT_FOUND || openError == ERROR_PATH_NOT_FOUND;
  } else if (::GetFileInformationByHandle(file, &information)) {
    stamp.known = stamp.exists = true;
    stamp.volume = information.dwVolumeSerialNumber;
    stamp.indexHigh = information.nFileIndexHigh;
    stamp.indexLow = information.nFileIndexLow;
    stamp.lastWrite = ULONGLONG{information.ftLastWriteTime.dwHighDateTime} << 32 |
                      information.ftLastWriteTime.dwLowDateTime;
    stamp.size = ULONGLONG{information.nFileSizeHigh} << 32 | information.nFileSizeLow;
  }
  return stamp;
}

DWORD CObfuscatedIniReader::RefreshLocked() {
  // The stamp and the content come from one handle, so they always describe the same version.
  UniqueFile file(::CreateFileW(Path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  DWORD openError = file ? ERROR_SUCCESS : ::GetLastError();
  Stamp current = StampOf(file.get(), openError);
  if (!current.known) return Unreadable(file ? ::GetLastError() : openError);
  if (current == stamp_) return ERROR_SUCCESS;
  Document parsed;
  if (file) {
    std::vector<BYTE> bytes;
    DWORD read = ReadAll(file.get(), current.size, &bytes);
    if (read != ERROR_SUCCESS) return Unreadable(read);
    parsed = Document::Parse(Decode(bytes));
  }
  document_ = std::move(parsed);
  stamp_ = current;
  return ERROR_SUCCESS;
}

// Forgets the parsed version, so that nothing is written back until the file reads again.
DWORD CObfuscatedIniReader::Unreadable(DWORD error) {
  stamp_ = Stamp();
  return error == ERROR_SUCCESS ? ERROR_READ_FAULT : error;
}

bool CObfuscatedIniReader::ReplaceFile(const std::wstring& text) const {
  std::wstring temporary = Path() + Format(L".%lu-%lu.tmp", ::GetCurrentProcessId(), ::GetCurrentThreadId());
  if (!WriteWholeFile(temporary, text)) return false;
  if (MoveOver(temporary, Path())) return true;
  ::DeleteFileW(temporary.c_str());
  // The file may be written but not replaced (a user's process, a file of the machine's accounts):
  // the settings are kept in place, at the cost of the crash safety of the replacement. A file
  // that is only held open by a reader is left as it is, so that the reader sees one version.
  return !MayBeReplaced(Path()) && RewriteInPlace(Path(), text);
}

}  // namespace Strata
