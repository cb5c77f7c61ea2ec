#include "CallingProcess.h"

#include <rpc.h>
#include <rpcdcep.h>

#include <new>

#include "Handles.h"

namespace Ky {

namespace {

std::wstring ProgramOf(DWORD processId) {
  Strata::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};
  std::wstring path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!::QueryFullProcessImageNameW(process.get(), 0, path.data(), &size)) return {};
  path.resize(size);
  return path;
}

}  // namespace

HRESULT CheckCallingProcess(std::wstring* refused, UnsignedModules unsignedPolicy) noexcept {
  try {
    refused->clear();
    unsigned long processId = 0;
    const RPC_STATUS status = ::I_RpcBindingInqLocalClientPID(nullptr, &processId);
    if (status == RPC_S_NO_CALL_ACTIVE || (status == RPC_S_OK && processId == ::GetCurrentProcessId())) return S_OK;
    const std::wstring program = status == RPC_S_OK ? ProgramOf(processId) : std::wstring();
    if (!program.empty() && SUCCEEDED(CheckPublisher(program.c_str(), unsignedPolicy))) return S_OK;
    *refused = program.empty() ? L"process " + std::to_wstring(processId) : program;
    return E_ACCESSDENIED;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace Ky
