// Prints the records the report log stand-in has stored, as a parent would read them, in UTF-8.
//   KyReportLogViewer.exe [/StandIn name] [/Process id] [/Stored]
// /Process reads the records kept under that process's subkey (an in-process report log in a
// test process); by default those under the stand-in's own key. /Stored prints first, for each
// record, when the report log stored it.
#include <windows.h>

#include <string>

#include "ReportLogStore.h"
#include "ReportLogText.h"
#include "StandInKnobs.h"

namespace {

void WriteUtf8(const std::wstring& text) {
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(size, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring standIn = L"ReportLog";
  DWORD processId = 0;
  bool withArrival = false;
  for (int i = 1; i < argc; ++i) {
    std::wstring option = argv[i];
    if (option == L"/Stored") {
      withArrival = true;
    } else if (i + 1 == argc) {
      return 2;
    } else if (option == L"/StandIn") {
      standIn = argv[++i];
    } else if (option == L"/Process") {
      processId = wcstoul(argv[++i], nullptr, 10);
    } else {
      return 2;
    }
  }
  using ZelStandIns::StandInKnobs;
  std::wstring keyPath = processId ? StandInKnobs::ProcessKeyPath(standIn.c_str(), processId)
                                   : StandInKnobs::KeyPath(standIn.c_str());
  std::wstring text;
  for (const ZelStandIns::StoredRecord& record : ZelStandIns::ReportLogStore(keyPath).ReadAll()) {
    if (!text.empty()) text += L"\n";
    text += ZelStandIns::ReportLogText::Describe(record, withArrival);
  }
  WriteUtf8(text);
  return 0;
}
