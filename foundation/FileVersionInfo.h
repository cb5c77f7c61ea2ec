// The version resource of one file, read once and queried by name.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace Strata {

// An instance is owned by one caller at a time; it has no internal locking.
class FileVersionInfo {
 public:
  // One entry of "\VarFileInfo\Translation": the language and code page of a string block.
  struct Translation {
    WORD language;
    WORD codePage;
  };

  FileVersionInfo() = default;
  FileVersionInfo(const FileVersionInfo&) = delete;
  FileVersionInfo& operator=(const FileVersionInfo&) = delete;
  virtual ~FileVersionInfo();

  // Reads the version resource of `path` unless one is already held. Returns whether one is held.
  virtual bool Load(const wchar_t* path);
  // The named string of the first translation that has it; empty when none has.
  virtual std::wstring GetString(const wchar_t* name) const;

  bool IsLoaded() const { return loaded_; }
  // The translation table in resource order; empty when nothing is loaded.
  std::vector<Translation> Translations() const;
  // The named string of one translation's block; empty when the block or the name is missing.
  std::wstring GetString(const Translation& translation, const wchar_t* name) const;

 private:
  // Copies the named string of one translation's block into `text`; false when there is none.
  bool FindString(const Translation& translation, const wchar_t* name, std::wstring* text) const;
  // Points `value` into the held resource; false when nothing is loaded or the block is missing.
  bool Query(const std::wstring& subBlock, void** value, UINT* length) const;

  std::vector<BYTE> data_;
  bool loaded_ = false;
};

// Looks a file name up in the Windows system folder.
class SystemFileVersionInfo : public FileVersionInfo {
 public:
  bool Load(const wchar_t* fileName) override;
};

}  // namespace Strata
