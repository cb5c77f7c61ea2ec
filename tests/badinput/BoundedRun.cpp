#include "BoundedRun.h"

#include "Handles.h"
#include "TestSupport.h"

namespace BadInput {

RunOutcome RunBounded(const std::wstring& commandLine, DWORD timeoutMs) {
  RunOutcome outcome;
  ZelTest::TempFolder folder;
  const std::wstring outputPath = folder / L"output.txt";
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  Strata::UniqueFile output(::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          &inherit, CREATE_ALWAYS, 0, nullptr));
  if (!output) return outcome;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output.get();
  startup.hStdError = output.get();
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  std::wstring mutableLine = commandLine;
  if (!::CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
    return outcome;
  Strata::UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
  output.reset();
  outcome.finished = ::WaitForSingleObject(processHandle.get(), timeoutMs) == WAIT_OBJECT_0;
  if (!outcome.finished) {
    ::TerminateProcess(processHandle.get(), 1);
    ::WaitForSingleObject(processHandle.get(), 10000);
  }
  ::GetExitCodeProcess(processHandle.get(), &outcome.exitCode);
  const std::vector<unsigned char> bytes = ZelTest::ReadFileBytes(outputPath);
  outcome.output.assign(bytes.begin(), bytes.end());
  return outcome;
}

}  // namespace BadInput
