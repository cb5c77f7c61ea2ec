// The platform utility library "KyUtil.dll", loaded from where the platform installs it and
// bound by its whole export table. Built on its user's stack and never shared between threads.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "Handles.h"
#include "KyUtil.h"

class KyUtilBinding {
 public:
  static constexpr wchar_t kLibraryName[] = L"KyUtil.dll";

  KyUtilBinding() = default;
  KyUtilBinding(const KyUtilBinding&) = delete;
  KyUtilBinding& operator=(const KyUtilBinding&) = delete;

  // Tries, first success wins: the host program's folder; the folder the platform recorded under
  // "kyutil64_install_dir"; the newest version folder below "<common files>\kyutil" (recorded
  // for next time when the process runs as an administrator); the common-files folder itself.
  // Then every export is looked up by name. False when no attempt loaded the library. Each attempt
  // loads only a file that passes the publisher check, by its full path.
  bool Load();
  bool IsLoaded() const { return library_.valid(); }

  // Null when the library is not loaded or lacks the export.
  KyGetOSVersion2Fn* GetOSVersion2() const {
    return reinterpret_cast<KyGetOSVersion2Fn*>(exports_[KyUtilExport_KyGetOSVersion2]);
  }
  FARPROC Export(KyUtilExport index) const { return exports_[index]; }

  // "<parent>\<name>" of the sub-folder named "a,b,c,d" with the greatest four numbers, compared
  // in order; nothing when there is none.
  static std::optional<std::wstring> FindNewestVersionFolder(const std::wstring& parent);

 private:
  bool LoadFromFolder(const std::wstring& folder);
  bool LoadFromPlatformCommonFiles();
  void BindExports();

  Strata::UniqueModule library_;
  FARPROC exports_[KyUtilExportCount] = {};
};
