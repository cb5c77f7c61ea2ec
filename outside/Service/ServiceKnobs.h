// The per-operation answers a test configures for the service stand-in (knob names in
// ServiceResults.h).
#pragma once

#include <windows.h>

#include <optional>

namespace ZelService {

// What every call on an object of a service process that has gone away answers.
constexpr HRESULT kServerGone = static_cast<HRESULT>(0x800706BA);  // RPC_S_SERVER_UNAVAILABLE

// How many times a test has "killed" the service (the "Kills" knob): the objects made before the
// last kill answer kServerGone, those made after it work.
DWORD ServiceGeneration();

// The generation an object of the service was made in: once the service has been killed since,
// every call on the object answers kServerGone.
class ServiceLife {
 public:
  bool Gone() const { return ServiceGeneration() != generation_; }

 private:
  const DWORD generation_ = ServiceGeneration();
};

struct KnobAnswer {
  HRESULT hr;
  long result;
};

// Counts the call of `operation` and gives the answer its knobs configure in place of the
// operation, if any: a failure HRESULT, or S_OK with a result code.
std::optional<KnobAnswer> ConfiguredAnswer(const wchar_t* operation);

// ConfiguredAnswer for an operation with a result-code out parameter: when a knob answers, puts
// its result code into *result and its HRESULT into hr, and says so.
bool AnsweredByKnob(const wchar_t* operation, HRESULT& hr, long* result);

}  // namespace ZelService
