// The per-operation answers a test configures for the service stand-in (knob names in
// ServiceResults.h).
#pragma once

#include <windows.h>

#include <optional>

namespace ZelService {

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
