// GSEventLoad: the service's event load, for stress runs. Raises events the way GSEventSource does,
// from several of the service's threads at once, and reports what this process held meanwhile.
//
//   GSEventLoad [--threads T] [--count N] [--rate R] [--cycles C] [--drain-seconds S] EVENT [FIELD=VALUE ...]
//               [+ EVENT ...]
//
// T threads (default 8) raise N events in all (default 1000), taking the events given in turn; a
// "#" in a text field becomes the event's number, 1 to N, so that the records that arrive can be
// told apart (the numbers go on across cycles). With a rate, the threads together raise no more
// than R events a second, as browsing does, instead of as fast as they can. With C cycles (default 1) that is done C times, each time with handlers made for the
// cycle; after each cycle every handler has been released and the unused libraries are freed, as
// the service does when it lets its handlers go while their queue still drains. At the end the
// program waits up to S seconds (default 1200) for the product's libraries to be unloaded, which
// happens only once their logging thread has served what was queued.
//
// Prints one line:
//   raised N failed F handles A B C private A B C KB unloaded yes|no wall MS ms [half H P]
// where A is measured when the first tenth of the load was raised, B when all of it was, and C at
// the end; with cycles, H and P are the handles and private KB after half of them, so that a cost
// per cycle shows apart from the heap's one-time growth to its working size. The exit code is 0
// when every handler answered S_OK and the libraries were unloaded.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "EventCommand.h"
#include "EventKinds.h"
#include "EventSource.h"
#include "ProcessFigures.h"

namespace {

constexpr wchar_t kSequenceMark = L'#';
const wchar_t* const kProductLibraries[] = {L"zelevh.dll", L"ZelTARN.dll"};

struct Options {
  unsigned threads = 8;
  unsigned long count = 1000;
  unsigned long rate = 0;  // events a second; 0: as fast as the threads can
  unsigned cycles = 1;
  unsigned drainSeconds = 1200;
  std::vector<std::vector<std::wstring>> events;  // each an EVENT with its FIELD=VALUE arguments
};

struct Figures {
  size_t handles = 0;
  size_t privateKb = 0;
  static Figures Now() {
    return {ZelStandIns::HandleCountOf(::GetCurrentProcessId()), ZelStandIns::PrivateBytesOfThisProcess() / 1024};
  }
};

bool ParseNumber(const wchar_t* text, unsigned long* value) {
  wchar_t* end = nullptr;
  *value = std::wcstoul(text, &end, 10);
  return *text && !*end && *value > 0;
}

std::optional<Options> ParseOptions(int argc, wchar_t** argv) {
  Options options;
  int next = 1;
  for (; next + 1 < argc && std::wcsncmp(argv[next], L"--", 2) == 0; next += 2) {
    unsigned long value = 0;
    if (!ParseNumber(argv[next + 1], &value)) return std::nullopt;
    std::wstring name = argv[next];
    if (name == L"--threads") options.threads = static_cast<unsigned>(value);
    else if (name == L"--count") options.count = value;
    else if (name == L"--rate") options.rate = value;
    else if (name == L"--cycles") options.cycles = static_cast<unsigned>(value);
    else if (name == L"--drain-seconds") options.drainSeconds = static_cast<unsigned>(value);
    else return std::nullopt;
  }
  std::vector<wchar_t*> rest{argv[0]};
  rest.insert(rest.end(), argv + next, argv + argc);
  options.events = ZelEventSource::SplitEvents(static_cast<int>(rest.size()), rest.data());
  for (const std::vector<std::wstring>& event : options.events) {
    std::optional<ZelEventSource::EventCommand> command = ZelEventSource::EventCommand::Parse(event);
    if (!command || !ZelEventSource::FindEventKind(command->Name())) return std::nullopt;
  }
  return options;
}

// Event `number` of the load: the events given in turn, with the sequence mark replaced.
ZelEventSource::EventCommand NumberedEvent(const Options& options, unsigned long number) {
  std::vector<std::wstring> arguments = options.events[(number - 1) % options.events.size()];
  const std::wstring text = std::to_wstring(number);
  for (std::wstring& argument : arguments) {
    for (size_t at = argument.find(kSequenceMark); at != std::wstring::npos; at = argument.find(kSequenceMark, at))
      argument.replace(at, 1, text), at += text.size();
  }
  return *ZelEventSource::EventCommand::Parse(arguments);
}

class Load {
 public:
  // `sampleAt`: the number of the event after which the figures are taken; 0 for none.
  Load(const Options& options, unsigned long sampleAt) : options_(options), sampleAt_(sampleAt) {}

  // Raises the cycle's events, numbered from `first`.
  void RaiseCycle(unsigned long first) {
    first_ = first;
    next_ = 1;
    start_ = ::GetTickCount64();
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < options_.threads; ++i) threads.emplace_back([this] { RaiseOnServiceThread(); });
    for (std::thread& thread : threads) thread.join();
  }

  unsigned long failed() const { return failed_; }
  // Written by the thread that raised event `sampleAt`, read after the cycle's threads joined.
  const Figures& sampled() const { return sampled_; }

 private:
  // One of the service's threads: its own apartment membership and its own handler objects, which
  // it releases when the cycle's load is raised.
  void RaiseOnServiceThread() {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
      ++failed_;
      return;
    }
    {
      ZelEventSource::EventSource source(false);
      for (unsigned long number = next_++; number <= options_.count; number = next_++) {
        KeepPace(number);
        if (source.Raise(NumberedEvent(options_, first_ + number - 1)) != S_OK) ++failed_;
        if (number == sampleAt_) sampled_ = Figures::Now();
      }
    }
    ::CoUninitialize();
  }

  // Waits until event `number` is due at the rate asked for.
  void KeepPace(unsigned long number) const {
    if (options_.rate == 0) return;
    const ULONGLONG due = start_ + (number - 1) * 1000ULL / options_.rate;
    const ULONGLONG now = ::GetTickCount64();
    if (due > now) ::Sleep(static_cast<DWORD>(due - now));
  }

  const Options& options_;
  const unsigned long sampleAt_;
  Figures sampled_;
  unsigned long first_ = 1;  // set before the cycle's threads start
  ULONGLONG start_ = 0;      // likewise
  std::atomic<unsigned long> next_{1};
  std::atomic<unsigned long> failed_{0};
};

bool ProductLibrariesLoaded() {
  for (const wchar_t* library : kProductLibraries) {
    if (::GetModuleHandleW(library)) return true;
  }
  return false;
}

// The service frees unused libraries now and then; a library whose logging thread still serves its
// queue says it cannot be unloaded yet.
bool WaitForProductUnload(unsigned seconds) {
  const ULONGLONG deadline = ::GetTickCount64() + seconds * 1000ULL;
  for (;;) {
    ::CoFreeUnusedLibrariesEx(0, 0);
    if (!ProductLibrariesLoaded()) return true;
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(200);
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: GSEventLoad [--threads T] [--count N] [--rate R] [--cycles C] [--drain-seconds S] EVENT "
               "[FIELD=VALUE ...] "
               "[+ EVENT ...]\n");
  return E_INVALIDARG;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) return Usage();
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;

  const ULONGLONG start = ::GetTickCount64();
  // The first tenth of the load: a tenth of the events of a single cycle, else a tenth of the cycles.
  const bool single = options->cycles == 1;
  const unsigned firstTenth = single ? 1 : std::max(1u, options->cycles / 10);
  Load load(*options, single ? std::max(1UL, options->count / 10) : 0);
  Figures first;
  Figures half;
  for (unsigned cycle = 1; cycle <= options->cycles; ++cycle) {
    load.RaiseCycle((cycle - 1) * options->count + 1);
    if (!single) ::CoFreeUnusedLibrariesEx(0, 0);
    if (cycle == firstTenth) first = single ? load.sampled() : Figures::Now();
    if (!single && cycle == options->cycles / 2) half = Figures::Now();
  }
  const Figures last = Figures::Now();
  const bool unloaded = WaitForProductUnload(options->drainSeconds);
  const Figures end = Figures::Now();
  const unsigned long raised = options->count * options->cycles;
  std::printf("raised %lu failed %lu handles %zu %zu %zu private %zu %zu %zu KB unloaded %s wall %llu ms", raised,
              load.failed(), first.handles, last.handles, end.handles, first.privateKb, last.privateKb, end.privateKb,
              unloaded ? "yes" : "no", ::GetTickCount64() - start);
  if (!single) std::printf(" half %zu %zu", half.handles, half.privateKb);
  std::printf("\n");
  ::CoUninitialize();
  return load.failed() == 0 && unloaded ? 0 : 1;
}
