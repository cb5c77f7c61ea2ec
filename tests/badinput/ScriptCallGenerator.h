// Renders one script per language that calls every method of a scriptable object with each corpus
// value in each argument position, the other arguments valid, catching every error in the script,
// and reads back what the script counted.
#pragma once

#include <string>
#include <vector>

#include "BadInputCorpus.h"

namespace BadInput {

enum class Language { kJScript, kVBScript };

// What an answer that was not refused is counted as.
enum class Answer {
  kAny,
  kDone,  // a result code with its error part zero: the call says it did what was asked
  kYes,   // true
};

struct ScriptMethod {
  const char* name;
  // Valid arguments, each written alike in both languages: literals, or the variables every script
  // defines ("r", "r2", "r3" for out values, "none" for no object, "props" and "vals" for a
  // two-element list of property ids and texts). A method without arguments is called with each value as a surplus argument.
  std::vector<const char*> arguments;
  Answer counted = Answer::kAny;
};

struct MethodCount {
  std::string method;
  size_t tried = 0;
  size_t refused = 0;
  size_t counted = 0;
};

class ScriptCallGenerator {
 public:
  explicit ScriptCallGenerator(Language language) : language_(language) {}

  // The object of class `progId` is created by the platform's script host object when
  // `viaScriptHost`, as the suite's classes are, else by the script's own host.
  std::string Render(const std::string& progId, bool viaScriptHost, const std::vector<ScriptMethod>& methods) const;
  // The calls Render makes of `method`.
  size_t CallsOf(const ScriptMethod& method) const;
  // The counts a rendered script printed, in its order; "DONE" ends a script that ran through.
  static std::vector<MethodCount> ReadCounts(const std::string& output);

 private:
  bool Usable(const CorpusValue& value) const;
  std::string Prologue(const std::string& progId, bool viaScriptHost) const;
  std::string Call(const ScriptMethod& method, size_t position, size_t value) const;
  std::string Expression(size_t value) const;
  std::string TextLiteral(const std::wstring& text) const;

  const Language language_;
};

}  // namespace BadInput
