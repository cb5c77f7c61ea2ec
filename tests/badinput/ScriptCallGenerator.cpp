#include "ScriptCallGenerator.h"

#include <windows.h>

#include <cstdio>
#include <sstream>

namespace BadInput {

namespace {

// Runs this long or longer are built by the script, not spelled out in it.
constexpr size_t kLongRun = 16;

const char kJScriptPrologue[] = R"(var tried, refused, counted, answer;
function Rep(c, n) { var s = c; while (s.length * 2 <= n) s += s; return s + s.substr(0, n - s.length); }
function Begin(kind) { tried = 0; refused = 0; counted = 0; answer = kind; }
function End(name) { WScript.Echo("COUNT " + name + " " + tried + " " + refused + " " + counted); }
function Counts(x) {
  if (answer == 1) return typeof x == "number" && (x & 0x1FFFF) == 0;
  return answer == 2 && x === true;
}
function Try(f) { tried++; try { if (Counts(f())) counted++; } catch (e) { refused++; } }
var r, r2, r3, none = null, props = [7101, 7102], vals = ["a", "b"];
)";

const char kVBScriptPrologue[] = R"(Option Explicit
Dim tried, refused, counted, answer, host, o, v, x, r, r2, r3, none, props, vals, square(1, 1), longList(99999)
Class Probe
End Class
Sub Begin(kind)
  tried = 0 : refused = 0 : counted = 0 : answer = kind
End Sub
Sub EndMethod(name)
  WScript.Echo "COUNT " & name & " " & tried & " " & refused & " " & counted
End Sub
Function Counts(x)
  Counts = False
  If answer = 1 Then
    If VarType(x) = vbLong Then Counts = ((x And &H1FFFF) = 0)
  ElseIf answer = 2 Then
    If VarType(x) = vbBoolean Then Counts = x
  End If
End Function
Sub Tally(failure, x)
  tried = tried + 1
  If failure <> 0 Then
    refused = refused + 1
  ElseIf Counts(x) Then
    counted = counted + 1
  End If
End Sub
Set none = Nothing
props = Array(7101, 7102)
vals = Array("a", "b")
)";

bool Printable(wchar_t c) { return c >= 0x20 && c < 0x7F && c != L'"' && c != L'\\'; }

std::string Utf8(const std::wstring& text) {
  char bytes[16];
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes,
                                           sizeof(bytes), nullptr, nullptr);
  return std::string(bytes, length > 0 ? length : 0);
}

// Wine's VBScript has no ChrW: a lone surrogate is cut from a pair spelled out in the (UTF-8)
// script, any other code unit is spelled out or, below 128, made by Chr.
std::string VBScriptCodeUnit(wchar_t unit) {
  if (unit < 0x80) return "Chr(" + std::to_string(unit) + ")";
  if (IS_HIGH_SURROGATE(unit)) return "Left(\"" + Utf8({unit, L'\xDC00'}) + "\", 1)";
  if (IS_LOW_SURROGATE(unit)) return "Right(\"" + Utf8({L'\xD800', unit}) + "\", 1)";
  return "\"" + Utf8({unit}) + "\"";
}

}  // namespace

bool ScriptCallGenerator::Usable(const CorpusValue& value) const {
  return value.text.has_value() || (language_ == Language::kJScript ? value.jscript : value.vbscript) != nullptr;
}

size_t ScriptCallGenerator::CallsOf(const ScriptMethod& method) const {
  size_t usable = 0;
  for (const CorpusValue& value : Corpus()) usable += Usable(value) ? 1 : 0;
  return usable * (method.arguments.empty() ? 1 : method.arguments.size());
}

// A string as a sequence of pieces: long runs built by the script, printable characters spelled
// out, anything else by its code unit (a lone surrogate cannot stand in a UTF-8 script file).
std::string ScriptCallGenerator::TextLiteral(const std::wstring& text) const {
  const bool js = language_ == Language::kJScript;
  std::vector<std::string> pieces;
  std::string literal;
  auto flush = [&] {
    if (!literal.empty()) pieces.push_back("\"" + literal + "\"");
    literal.clear();
  };
  for (size_t i = 0; i < text.size();) {
    size_t run = 1;
    while (i + run < text.size() && text[i + run] == text[i]) ++run;
    const unsigned unit = text[i];
    char piece[64];
    if (run >= kLongRun && Printable(text[i])) {
      flush();
      if (js) {
        std::snprintf(piece, sizeof(piece), "Rep(\"%c\", %zu)", static_cast<char>(unit), run);
      } else {
        std::snprintf(piece, sizeof(piece), "String(%zu, \"%c\")", run, static_cast<char>(unit));
      }
      pieces.push_back(piece);
      i += run;
      continue;
    }
    if (Printable(text[i])) {
      literal += static_cast<char>(unit);
    } else if (js) {
      std::snprintf(piece, sizeof(piece), "\\u%04X", unit);
      literal += piece;
    } else {
      flush();
      pieces.push_back(VBScriptCodeUnit(text[i]));
    }
    ++i;
  }
  flush();
  if (pieces.empty()) return "\"\"";
  std::string joined;
  for (const std::string& piece : pieces) joined += (joined.empty() ? "" : js ? " + " : " & ") + piece;
  return joined;
}

// Strings are built once into t<index>; JScript passes them by value, VBScript copies each into
// its variable v right before the call, so that a method writing through the reference it is
// handed spoils no later call.
std::string ScriptCallGenerator::Prologue(const std::string& progId, bool viaScriptHost) const {
  const bool js = language_ == Language::kJScript;
  std::ostringstream script;
  script << (js ? kJScriptPrologue : kVBScriptPrologue);
  for (size_t i = 0; i < Corpus().size(); ++i) {
    if (!Corpus()[i].text) continue;
    script << (js ? "var t" : "Dim t") << i << (js ? " = " : " : t") << (js ? "" : std::to_string(i) + " = ")
           << TextLiteral(*Corpus()[i].text) << (js ? ";\n" : "\n");
  }
  const std::string set = js ? "var " : "Set ";
  const std::string end = js ? ";\n" : "\n";
  if (viaScriptHost) {
    script << set << "host = WScript.CreateObject(\"ZelStandIns.ScriptHost\")" << end;
    script << set << "o = host.Create(\"" << progId << "\")" << end;
  } else {
    script << set << "o = WScript.CreateObject(\"" << progId << "\")" << end;
  }
  if (!js) script << "On Error Resume Next\n";
  return script.str();
}

std::string ScriptCallGenerator::Expression(size_t value) const {
  const CorpusValue& entry = Corpus()[value];
  if (entry.text) return "t" + std::to_string(value);
  return language_ == Language::kJScript ? entry.jscript : entry.vbscript;
}

std::string ScriptCallGenerator::Call(const ScriptMethod& method, size_t position, size_t value) const {
  const bool js = language_ == Language::kJScript;
  std::string arguments;
  const size_t count = method.arguments.empty() ? 1 : method.arguments.size();
  for (size_t i = 0; i < count; ++i) {
    if (i) arguments += ", ";
    arguments += i == position ? (js ? Expression(value) : std::string("v")) : method.arguments[i];
  }
  const std::string call = std::string("o.") + method.name + "(" + arguments + ")";
  if (js) return "Try(function () { return " + call + "; });\n";
  std::string expression = Expression(value);
  const bool object = expression.rfind("Set ", 0) == 0;
  std::string assignment = object ? "Set v = " + expression.substr(4) : "v = " + expression;
  return assignment + "\nErr.Clear : x = Empty\nx = " + call + "\nTally Err.Number, x\n";
}

std::string ScriptCallGenerator::Render(const std::string& progId, bool viaScriptHost,
                                        const std::vector<ScriptMethod>& methods) const {
  const bool js = language_ == Language::kJScript;
  std::string script = Prologue(progId, viaScriptHost);
  for (const ScriptMethod& method : methods) {
    script += "Begin(" + std::to_string(static_cast<int>(method.counted)) + ")\n";
    const size_t positions = method.arguments.empty() ? 1 : method.arguments.size();
    for (size_t position = 0; position < positions; ++position)
      for (size_t value = 0; value < Corpus().size(); ++value)
        if (Usable(Corpus()[value])) script += Call(method, position, value);
    script += std::string(js ? "End" : "EndMethod") + "(\"" + method.name + "\")\n";
  }
  script += js ? "o = null;\nhost = null;\nCollectGarbage();\nWScript.Echo(\"DONE\");\n"
               : "Set o = Nothing\nSet host = Nothing\nWScript.Echo \"DONE\"\n";
  return script;
}

std::vector<MethodCount> ScriptCallGenerator::ReadCounts(const std::string& output) {
  std::vector<MethodCount> counts;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    MethodCount count;
    char name[128];
    if (std::sscanf(line.c_str(), "COUNT %127s %zu %zu %zu", name, &count.tried, &count.refused, &count.counted) != 4)
      continue;
    count.method = name;
    counts.push_back(count);
  }
  return counts;
}

}  // namespace BadInput
