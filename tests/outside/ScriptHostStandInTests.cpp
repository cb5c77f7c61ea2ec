// The script host stand-in driven the way later tests drive the bridge's classes: a JScript run by
// cscript asks the host for a class that answers only the suite factory interfaces and calls it.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "Handles.h"
#include "TestClassRegistration.h"
#include "TestSupport.h"

namespace {

// Prints what the calls answered, or the error number of what failed, and exits with 0 only when
// both answers are right. cscript ignores uncaught errors, hence the try.
const char kScript[] =
    "var code = 3;\n"
    "try {\n"
    "  var host = new ActiveXObject('ZelStandIns.ScriptHost');\n"
    "  var object = host.Create(WScript.Arguments(0));\n"
    "  var twice = object.Twice(21), greeting = object.Greet('Jamie');\n"
    "  WScript.Echo(twice + '|' + greeting);\n"
    "  code = twice == 42 && greeting == 'Hello, Jamie' ? 0 : 1;\n"
    "  object = null; host = null; CollectGarbage();\n"
    "} catch (e) {\n"
    "  WScript.Echo('error ' + (e.number < 0 ? e.number + 4294967296 : e.number).toString(16));\n"
    "  code = 2;\n"
    "}\n"
    "WScript.Quit(code);\n";

const char kDirectScript[] =
    "var code = 3;\n"
    "try {\n"
    "  var object = new ActiveXObject(WScript.Arguments(0));\n"
    "  code = 0;\n"
    "} catch (e) {\n"
    "  WScript.Echo('error ' + (e.number < 0 ? e.number + 4294967296 : e.number).toString(16));\n"
    "  code = 2;\n"
    "}\n"
    "WScript.Quit(code);\n";

class ScriptHostStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    Strata::UniqueModule library(::LoadLibraryW(ZelTest::SiblingPath(L"ZelScriptHost.dll").c_str()));
    ASSERT_TRUE(library);
    auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(::GetProcAddress(library.get(), "DllRegisterServer"));
    ASSERT_TRUE(registerServer);
    ASSERT_EQ(registerServer(), S_OK);
  }

  DWORD RunScript(const char* script, const std::wstring& argument, std::string* output) {
    std::wstring path = folder_ / L"test.js";
    std::ofstream(std::string(path.begin(), path.end()), std::ios::binary) << script;
    return ZelTest::RunProcess(L"cscript.exe //nologo \"" + path + L"\" " + argument, output);
  }

  ZelTest::TempFolder folder_;
  ZelTest::TestClassRegistration testClass_{ZelTest::SiblingPath(L"ScriptHostTestClass.dll"),
                                            ZelTest::TestClassRegistration::Server::InProcess};
};

TEST_F(ScriptHostStandIn, ScriptCallsAClassThatTheHostCreatedThroughTheSuiteFactory) {
  std::string output;
  EXPECT_EQ(RunScript(kScript, testClass_.ClsidText(), &output), 0u) << output;
  EXPECT_EQ(output, "42|Hello, Jamie\r\n");
}

TEST_F(ScriptHostStandIn, ScriptCannotCreateSuchAClassItself) {
  std::string output;
  EXPECT_EQ(RunScript(kDirectScript, testClass_.ClsidText(), &output), 2u) << output;
}

TEST_F(ScriptHostStandIn, UnknownClassReachesTheScriptAsAnError) {
  std::string output;
  EXPECT_EQ(RunScript(kScript, L"{" + ZelTest::NewGuidText() + L"}", &output), 2u);
  EXPECT_EQ(output, "error 80040154\r\n");
}

}  // namespace
