#include "BadInputCorpus.h"

namespace BadInput {

namespace {

constexpr size_t kMegabyteChars = 1u << 20;

CorpusValue Text(const char* name, std::wstring text) { return {name, std::move(text), nullptr, nullptr, EventForm::kText}; }

CorpusValue Other(const char* name, const char* jscript, const char* vbscript) { return {name, std::nullopt, jscript, vbscript}; }

CorpusValue Number(const char* name, const char* jscript, const char* vbscript, const wchar_t* event) {
  return {name, std::nullopt, jscript, vbscript, EventForm::kNumber, event};
}

std::vector<CorpusValue> Build() {
  return {
      {"null", std::nullopt, "null", "Null", EventForm::kAbsent},
      Text("empty string", L""),
      Text("1 MB string", MegabyteText()),
      Text("lone high surrogate", L"\xD800"),
      Text("lone low surrogate inside text", L"a\xDC00z"),
      Text("format directives", L"%s%n%x%s%n%x%p"),
      Text("format directives in a URL", L"http://%s%n.test/%x%d"),
      Text("embedded line breaks and quotes", L"a\r\nb\"c'd<e>&"),
      Other("undefined, Empty", "undefined", "Empty"),
      Other("Nothing", nullptr, "Set Nothing"),
      Other("host object", "WScript", "Set WScript"),
      Other("script object", "new Object()", "Set New Probe"),
      Other("date", "new Date(0)", "#1/1/2000#"),
      Other("true", "true", "True"),
      Other("false", "false", "False"),
      Other("NaN", "0/0", nullptr),
      Other("1e300", "1e300", "1E+300"),
      Other("-1e300", "-1e300", "-1E+300"),
      Number("zero", "0", "0", L"0"),
      Number("-1", "-1", "-1", L"4294967295"),
      Number("2^31", "2147483648", "2147483648", L"2147483648"),
      Number("-2^31", "-2147483648", "-2147483648", L"0x80000000"),
      Number("a process id that does not exist", "0x7FFFFFF0", "&H7FFFFFF0", L"0x7FFFFFF0"),
      {"an ended process's id", std::nullopt, nullptr, nullptr, EventForm::kEndedProcess},
      Other("empty array", "[]", "Array()"),
      Other("array of one", "[7101]", "Array(7101)"),
      Other("array of three", "[7101, 7102, 7103]", "Array(7101, 7102, 7103)"),
      Other("nested arrays", "[[1, 2], [3]]", "Array(Array(1, 2), Array(3))"),
      // Not the host object: JScript reads an array's elements as texts, and the host object has
      // no default value, which the engine would report to the host as an error of the script.
      Other("array of objects and nulls", "[new Object(), null, undefined]", "Array(New Probe, Null, Empty)"),
      Other("array longer than any list", "new Array(100000)", "longList"),
      Other("2-D array", nullptr, "square"),
  };
}

}  // namespace

const std::wstring& MegabyteText() {
  static const std::wstring text = L"[" + std::wstring(kMegabyteChars - 2, L'x') + L"]";
  return text;
}

const std::vector<CorpusValue>& Corpus() {
  static const std::vector<CorpusValue> corpus = Build();
  return corpus;
}

}  // namespace BadInput
