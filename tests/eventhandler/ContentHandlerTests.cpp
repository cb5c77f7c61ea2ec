// The content handlers as the service drives them: what each one hands to the logging thread, and
// what its filters leave out. Every call answers S_OK.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "FailingAllocations.h"
#include "HandlerTestSupport.h"

namespace {

using namespace ZelTest;
using Calls = std::vector<std::wstring>;

wchar_t* Text(const wchar_t* text) { return const_cast<wchar_t*>(text); }

class ContentHandlerTest : public HandlerTest {
 protected:
  const DWORD self_ = ::GetCurrentProcessId();
  const std::wstring session_ = OwnSession();
};

TEST_F(ContentHandlerTest, AccessDeniedReportsOnlyTimeLimitsAndBlockedListHits) {
  {
    auto handler = CreateHandler<IKyGSAccessDeniedEvent>(CLSID_GSAccessDeniedEventHandler);
    ASSERT_TRUE(handler);
    const std::pair<int, const wchar_t*> events[] = {
        {0, L"http://unknown/"}, {1, L"http://time/"},  {2, L"http://not-allowed/"},
        {3, L"http://blocked/"}, {6, L"http://category/"}, {42, L"http://other/"},
    };
    for (const auto& [reason, url] : events) {
      KYGS_ACCESS_DENIED_DETAILS details{self_, KyGS_Content_Chat, static_cast<KyGS_AccessDeniedType>(reason), Text(url)};
      EXPECT_EQ(handler->OnAccessDeniedEvent(&details), S_OK);
    }
  }
  EXPECT_EQ(logger_.Calls(), (Calls{LogEvent(LogEvent_TimeLimit, L"http://time/", L"", session_),
                                    LogEvent(LogEvent_UrlBlocked, L"http://blocked/", L"", session_)}));
}

TEST_F(ContentHandlerTest, EveryBlockedImageIsReportedWhateverItsRating) {
  const DWORD exited = ExitedProcessId();
  ASSERT_NE(exited, 0u);
  {
    auto handler = CreateHandler<IKyGSImageBlockedEvent>(CLSID_GSImageBlockedEventHandler);
    ASSERT_TRUE(handler);
    KYGS_BLOCKED_IMAGE_DETAILS first{self_, KyGS_Content_Http, Text(L"http://img/1.png"), 0};
    KYGS_BLOCKED_IMAGE_DETAILS second{exited, KyGS_Content_Unknown, Text(L"http://img/2.png"), 100};
    EXPECT_EQ(handler->OnImageBlockedEvent(&first), S_OK);
    EXPECT_EQ(handler->OnImageBlockedEvent(&second), S_OK);
  }
  // A process that has gone has no session: the event still goes out, with the unknown session.
  EXPECT_EQ(logger_.Calls(), (Calls{LogEvent(LogEvent_ImageBlocked, L"http://img/1.png", L"", session_),
                                    LogEvent(LogEvent_ImageBlocked, L"http://img/2.png", L"", L"4294967295")}));
  const LogLine* failure = log_.Find(L"Failed to open process " + std::to_wstring(exited) + L"\r\n");
  ASSERT_NE(failure, nullptr);
  EXPECT_EQ(failure->level, ETWLogging::kLevelError);
}

TEST_F(ContentHandlerTest, KeywordOnTheWebNamesTheUrlAndOnAnUnknownChannelNothing) {
  {
    auto handler = CreateHandler<IKyGSKeywordBlockedEvent>(CLSID_GSKeywordBlockedEventHandler);
    ASSERT_TRUE(handler);
    KYGS_KEYWORD_DETAILS web{self_, KyGS_Content_Http, Text(L"badword"), Text(L"http://page/")};
    KYGS_KEYWORD_DETAILS unknown{self_, KyGS_Content_Unknown, Text(L"other"), Text(L"http://ignored/")};
    EXPECT_EQ(handler->OnKeywordBlockedEvent(&web), S_OK);
    EXPECT_EQ(handler->OnKeywordBlockedEvent(&unknown), S_OK);
  }
  EXPECT_EQ(logger_.Calls(), (Calls{LogEvent(LogEvent_Keyword, L"http://page/", L"badword", session_),
                                    LogEvent(LogEvent_Keyword, L"", L"other", session_)}));
  EXPECT_EQ(log_.Count(L"ZEL Event: OnKeywordBlockedEvent - Process[" + std::to_wstring(self_) + L"], Pattern[badword]\r\n"),
            1u);
}

TEST_F(ContentHandlerTest, SignInAndSignOutAreOnlyNoted) {
  {
    auto signIn = CreateHandler<IKyGSSignInEvent>(CLSID_GSSignInEventHandler);
    auto signOut = CreateHandler<IKyGSSignOutEvent>(CLSID_GSSignOutEventHandler);
    ASSERT_TRUE(signIn && signOut);
    EXPECT_EQ(signIn->OnSignInEvent(), S_OK);
    EXPECT_EQ(signOut->OnSignOutEvent(), S_OK);
  }
  EXPECT_EQ(logger_.Calls(), Calls{});
  EXPECT_EQ(log_.Count(L"ZEL Event: OnSignInEvent\r\n"), 1u);
  EXPECT_EQ(log_.Count(L"ZEL Event: OnSignOutEvent\r\n"), 1u);
}

class UrlVisitedTest : public ContentHandlerTest {
 protected:
  void Visit(DWORD processId, const wchar_t* domain, const wchar_t* path = L"/index.html") {
    KYGS_URL_VISITED_DETAILS details{processId, Text(domain), Text(path)};
    EXPECT_EQ(handler_->OnUrlVisitedEvent(&details), S_OK);
  }
  std::wstring Visited(const std::wstring& domain, const std::wstring& session) {
    return LogEvent(LogEvent_UrlVisited, domain, L"", session);
  }

  Microsoft::WRL::ComPtr<IKyGSUrlVisitedEvent> handler_ =
      CreateHandler<IKyGSUrlVisitedEvent>(CLSID_GSUrlVisitedEventHandler);
};

TEST_F(UrlVisitedTest, ARepeatedDomainOfOneProcessIsReportedOnce) {
  const DWORD other = ExitedProcessId();
  ASSERT_NE(other, 0u);
  ASSERT_TRUE(handler_);
  Visit(self_, L"a.example");
  Visit(self_, L"a.example", L"/another/page");
  Visit(self_, L"b.example");
  Visit(self_, L"a.example");
  Visit(other, L"a.example");
  Visit(self_, L"A.example");
  handler_.Reset();
  EXPECT_EQ(logger_.Calls(), (Calls{Visited(L"a.example", session_), Visited(L"b.example", session_),
                                    Visited(L"a.example", session_), Visited(L"a.example", L"4294967295"),
                                    Visited(L"A.example", session_)}));
}

TEST_F(UrlVisitedTest, EachHandlerObjectRemembersDomainsOfItsOwn) {
  ASSERT_TRUE(handler_);
  Visit(self_, L"a.example");
  auto second = CreateHandler<IKyGSUrlVisitedEvent>(CLSID_GSUrlVisitedEventHandler);
  KYGS_URL_VISITED_DETAILS details{self_, Text(L"a.example"), Text(L"/")};
  EXPECT_EQ(second->OnUrlVisitedEvent(&details), S_OK);
  second.Reset();
  handler_.Reset();
  EXPECT_EQ(logger_.Calls(), (Calls{Visited(L"a.example", session_), Visited(L"a.example", session_)}));
}

TEST_F(UrlVisitedTest, TheOwnClientVisitingOwnHostsIsLeftOutAndNotRemembered) {
  ASSERT_TRUE(handler_);
  RunningOwnClient client;
  ASSERT_NE(client.ProcessId(), 0u);
  const DWORD exited = ExitedProcessId();
  ASSERT_NE(exited, 0u);
  Visit(client.ProcessId(), L"api.zel.varant.com");
  Visit(client.ProcessId(), L"a.example");
  Visit(client.ProcessId(), L"zel.varant.com");
  Visit(client.ProcessId(), L"a.example");
  // Host names match whole and with case; another program reaching an own host is reported.
  Visit(client.ProcessId(), L"API.zel.varant.com");
  Visit(client.ProcessId(), L"x.api.zel.varant.com");
  Visit(self_, L"api.zel.varant.com");
  // A process that has gone cannot be told from the own client.
  Visit(exited, L"update.zel.varant.com");
  handler_.Reset();
  EXPECT_EQ(logger_.Calls(), (Calls{Visited(L"a.example", session_), Visited(L"API.zel.varant.com", session_),
                                    Visited(L"x.api.zel.varant.com", session_),
                                    Visited(L"api.zel.varant.com", session_)}));
}

// The service calls from its own threads, which an exception would take down: an allocation
// that fails anywhere inside a creation or an event ends as an HRESULT. Null details are refused.
TEST_F(ContentHandlerTest, AllocationFailuresAtEveryStepEndAsHResults) {
  auto visited = CreateHandler<IKyGSUrlVisitedEvent>(CLSID_GSUrlVisitedEventHandler);
  auto keyword = CreateHandler<IKyGSKeywordBlockedEvent>(CLSID_GSKeywordBlockedEventHandler);
  auto denied = CreateHandler<IKyGSAccessDeniedEvent>(CLSID_GSAccessDeniedEventHandler);
  ASSERT_TRUE(visited && keyword && denied);
  DWORD process = 1000;  // a new process each time, so that every visit is remembered anew
  KYGS_KEYWORD_DETAILS chat{self_, KyGS_Content_Chat, Text(L"badword"), Text(L"")};
  KYGS_ACCESS_DENIED_DETAILS time{self_, KyGS_Content_Http, KyGS_AccessDenied_TimeLimit, Text(L"http://t/")};
  const std::pair<const char*, std::function<HRESULT()>> boundaries[] = {
      {"creation", [] { return CreateHandler<IKyGSUrlVisitedEvent>(CLSID_GSUrlVisitedEventHandler) ? S_OK : E_FAIL; }},
      {"url visited", [&] {
         KYGS_URL_VISITED_DETAILS details{++process, Text(L"example.com"), Text(L"/")};
         return visited->OnUrlVisitedEvent(&details);
       }},
      {"keyword", [&] { return keyword->OnKeywordBlockedEvent(&chat); }},
      {"access denied", [&] { return denied->OnAccessDeniedEvent(&time); }},
  };
  for (const auto& [name, call] : boundaries) {
    for (long nth = 0;; ++nth) {
      bool threw = false;
      bool fired = false;
      {
        FailingAllocations failing(nth);
        try {
          call();
        } catch (...) {
          threw = true;
        }
        fired = failing.Fired();
      }
      EXPECT_FALSE(threw) << name << ", allocation " << nth;
      if (!fired || threw) break;
    }
  }
  EXPECT_EQ(visited->OnUrlVisitedEvent(nullptr), E_POINTER);
  EXPECT_EQ(keyword->OnKeywordBlockedEvent(nullptr), E_POINTER);
  EXPECT_EQ(denied->OnAccessDeniedEvent(nullptr), E_POINTER);
}

}  // namespace
