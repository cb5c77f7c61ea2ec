// An INI file whose values are kept in scrambled form (see Scrambler.h). Section and key names
// stay readable; a value that does not unscramble for its section and key reads as absent.
//
// Several processes may share one file; they serialise their writes themselves. A read sees what
// another writer stored since the last read: the file is parsed again whenever its identity, size
// or last-write time changed. A write is a read-modify-write of the current file, written to a
// temporary file beside it that then replaces it, so a crash never leaves half a file.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "BaseIniReader.h"
#include "SlimLock.h"

namespace Strata {

class CObfuscatedIniReader : public CBaseIniReader {
 public:
  bool Load(const wchar_t* path) override;
  bool ReadDword(const wchar_t* section, const wchar_t* key, DWORD* value) override;
  // Refuses (false) when the file exists but cannot be opened or read: writing then would save a
  // file holding only this key over every other setting.
  bool WriteDword(const wchar_t* section, const wchar_t* key, DWORD value) override;

  // Makes the next read parse the file whatever its stamp says: a replaced file can come back with
  // the inode number of the one it replaced, its size and a write time within the clock's grain,
  // so a reader whose decision others depend on reads afresh.
  void Forget();

  // 0 with the value; ERROR_NOT_FOUND when the file or the key is missing or the value does not
  // unscramble; otherwise the error that kept the file from being read (a sharing violation, a
  // denied access).
  DWORD TryReadDword(const wchar_t* section, const wchar_t* key, DWORD* value);

 private:
  struct Entry {
    std::wstring key;
    std::wstring value;  // as the file holds it: sealed text, or whatever a hand edit left there
  };
  struct Section {
    std::wstring name;
    std::vector<Entry> entries;      // in file order
    std::map<std::wstring, size_t> keyIndex;  // folded key name -> position in entries
  };
  // The file's sections and keys; the first of several equal names is the one that counts.
  struct Document {
    std::vector<Section> sections;  // in file order
    std::map<std::wstring, size_t> sectionIndex;  // folded section name -> position in sections

    static Document Parse(std::wstring_view text);
    std::wstring Serialize() const;
    const std::wstring* Find(std::wstring_view section, std::wstring_view key) const;
    // Adds the key when it is missing; replaces its value only when `replace` is set.
    void Put(std::wstring_view section, std::wstring_view key, std::wstring value, bool replace);
  };
  // Identifies one version of the file: a replaced file is a new file, a rewritten one has a new
  // size or last-write time.
  struct Stamp {
    bool known = false;   // false until the file was looked at, and after each write
    bool exists = false;
    DWORD volume = 0, indexHigh = 0, indexLow = 0;
    ULONGLONG lastWrite = 0, size = 0;
    bool operator==(const Stamp& other) const;
  };

  // The stamp of an open file, or of a file that could not be opened for `openError`.
  static Stamp StampOf(HANDLE file, DWORD openError);
  // Parses the file again when it is not the version last parsed: 0, or the error that kept the
  // file from being read (the document then stays unknown, never empty).
  DWORD RefreshLocked();
  DWORD Unreadable(DWORD error);
  bool ReplaceFile(const std::wstring& text) const;

  // mutex_ guards document_ and stamp_ (the path is fixed by Load before the reader is shared).
  Strata::SlimLock mutex_;
  Document document_;
  Stamp stamp_;
};

}  // namespace Strata
