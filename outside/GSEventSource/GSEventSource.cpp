// GSEventSource: raises the parental-control service's events into the handler classes bound to
// them, as the service does, for tests and for anyone trying the system by hand.
//
//   GSEventSource EVENT [product=NAME] [FIELD=VALUE ...] [+ EVENT ... ]
//
// EVENT and its fields (numbers are decimal or 0x-hexadecimal, 0 when left out; a text field left
// out is passed as a null pointer, "url=" as an empty text):
// A number field may be "self": this program's own process id. In a value, "\uXXXX" is that UTF-16
// code unit and "\*N" makes the character before it N in all ("x\*1048576": a megabyte of x).
//   AccessDenied    pid content reason url
//   ImageBlocked    pid content url rating
//   KeywordBlocked  pid content pattern url
//   UrlVisited      pid domain path
//   PIIDetected     pid content domain display information type
//   SignIn, SignOut (no fields)
//   SignInRequired  session
// product names whose bindings are used ("ZEL" when left out). Several events, separated by a
// lone "+", are raised in order; one handler object per product and event interface receives all
// of its events and is released at the end, as the service holds a handler for a while.
//
// Each event prints "EVENT for PRODUCT: 0xHRESULT". The exit code is 0 when every handler answered
// S_OK, else the first other HRESULT: E_INVALIDARG for a malformed command line, 0x80070490
// (ERROR_NOT_FOUND) when nothing is bound to the event, or the handler's own answer.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <vector>

#include "ComApartment.h"
#include "EventCommand.h"
#include "EventKinds.h"
#include "EventSource.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: GSEventSource EVENT [product=NAME] [FIELD=VALUE ...] [+ EVENT ...]\n");
  return E_INVALIDARG;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<ZelEventSource::EventCommand> commands;
  for (const std::vector<std::wstring>& arguments : ZelEventSource::SplitEvents(argc, argv)) {
    std::optional<ZelEventSource::EventCommand> command = ZelEventSource::EventCommand::Parse(arguments);
    if (!command || !ZelEventSource::FindEventKind(command->Name())) return Usage();
    commands.push_back(*command);
  }
  // The service calls its handlers from its own worker threads, in the multithreaded apartment.
  const Strata::MultithreadedApartment apartment;
  if (FAILED(apartment.Result())) return apartment.Result();

  HRESULT first = S_OK;
  {
    ZelEventSource::EventSource source;
    for (const ZelEventSource::EventCommand& command : commands) {
      HRESULT hr = source.Raise(command);
      if (first == S_OK) first = hr;
    }
  }
  return first;
}
