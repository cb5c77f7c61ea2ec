// The report log stand-in as a local server, the way the platform serves it.
//   KyReportLogServer.exe /RegServer | /UnregServer      register as the report log's local server
//   KyReportLogServer.exe [{class id}]                   serve (COM adds -Embedding)
// A test registers a class id of its own with that id in the command line; the server then keeps
// its knobs and records under stand-in "ReportLog\{class id}", so that its server process, knobs
// and records are the test's own. The server writes its process id as "ServerProcessId" under
// its stand-in key. It ends with its last object unless the knob "KeepRunning" is set.
#include <windows.h>

#include <string>

#include <wrl/client.h>

#include "LocalServerModule.h"
#include "ModuleFileName.h"
#include "ReportLog.h"
#include "ServerRegistration.h"
#include "StandInKnobs.h"
#include "StandInState.h"
#include "SuiteClassFactory.h"

namespace {

using namespace ZelStandIns;

const ClassRegistration kRegistration{CLSID_KyReportLog, L"Report log stand-in (local server)", nullptr};

struct ServeOptions {
  CLSID clsid = CLSID_KyReportLog;
  std::wstring standIn = L"ReportLog";
};

// The class id comes first when given; COM's -Embedding may follow.
ServeOptions ParseServeOptions(int argc, wchar_t** argv) {
  ServeOptions options;
  if (argc > 1 && argv[1][0] == L'{' && SUCCEEDED(::CLSIDFromString(argv[1], &options.clsid))) {
    options.standIn += L"\\" + GuidText(options.clsid);
  }
  return options;
}

int Serve(const ServeOptions& options) {
  if (Strata::UniqueHkey key = OpenKey(HKEY_LOCAL_MACHINE, StandInKnobs::KeyPath(options.standIn.c_str()), true)) {
    WriteDword(key.get(), L"ServerProcessId", ::GetCurrentProcessId());
  }
  // A report log that stays up, as on a machine where the platform's own processes keep it: the
  // server holds itself and never ends on its own ("KeepRunning").
  if (StandInKnobs(options.standIn.c_str()).ReadDword(L"KeepRunning").value_or(0) != 0) LockServer();
  Microsoft::WRL::ComPtr<IUnknown> factory;
  factory = Ky::AdoptNew<IUnknown>(static_cast<IKyClassFactory*>(new SuiteClassFactory([standIn = options.standIn](REFIID iid, void** object) {
    return ReportLog::CreateInstance<ReportLog>(iid, object, standIn);
  })));
  return FAILED(ServeClass(options.clsid, factory.Get())) ? 3 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring first = argc > 1 ? argv[1] : L"";
  if (_wcsicmp(first.c_str(), L"/RegServer") == 0) {
    const std::wstring server = L"\"" + Strata::ModuleFileName(nullptr) + L"\"";
    return FAILED(RegisterClassServer(kRegistration, ServerKind::Local, server)) ? 1 : 0;
  }
  if (_wcsicmp(first.c_str(), L"/UnregServer") == 0) {
    return FAILED(UnregisterClassServer(kRegistration, ServerKind::Local)) ? 1 : 0;
  }
  ServeOptions options = ParseServeOptions(argc, argv);
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 3;
  int exitCode = Serve(options);
  ::CoUninitialize();
  return exitCode;
}
