#include <gtest/gtest.h>

#include <windows.h>

#include "Handles.h"
#include "TokenSession.h"

namespace {

using Strata::TokenSession;

// Each way of naming a process, and the step at which it must stop.
TEST(TokenSession, SessionOrTheStepThatFailed) {
  DWORD expected = 0;
  ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &expected)) << ::GetLastError();
  Strata::UniqueHandle byId(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ::GetCurrentProcessId()));
  ASSERT_TRUE(byId) << ::GetLastError();
  struct Case {
    const char* name;
    HANDLE process;
    TokenSession::Failure failure;
  } const cases[] = {
      {"pseudo handle", ::GetCurrentProcess(), TokenSession::Failure::None},
      {"handle by id", byId.get(), TokenSession::Failure::None},
      {"no handle", nullptr, TokenSession::Failure::OpenToken},
  };
  for (const Case& c : cases) {
    const TokenSession found = Strata::SessionOfProcessToken(c.process, L"TokenSessionTests", L"Case");
    EXPECT_EQ(found.failure, c.failure) << c.name;
    if (c.failure == TokenSession::Failure::None) EXPECT_EQ(found.session, expected) << c.name;
  }
}

}  // namespace
