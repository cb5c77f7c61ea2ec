// The bindings told to the service's event registry, against a recording registry that this
// process registers as the registry's class (process-wide, so other tests never see it).
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include <wrl/client.h>

#include "ComObject.h"
#include "EventBindings.h"
#include "KyClassFactory.h"
#include "KyGSService.h"

namespace {

constexpr long kSuccess = 0x08020000;
constexpr long kRefused = 0x08020001;

// Records every call in order; answers each operation as the test says. The test holds the
// creation reference.
class RecordingRegistry : public Ky::ComObject<Ky::NoModuleLock, IKyClassFactory, IKyGSEventRegistry> {
 public:
  using ComObject::References;

  std::vector<std::wstring> calls;
  long openResult = kSuccess;
  long addResult = kSuccess;
  HRESULT saveHr = S_OK;
  long saveResult = kSuccess;

  STDMETHODIMP CreateInstance(REFIID iid, IUnknown** object) override {
    calls.push_back(L"Create");
    return QueryInterface(iid, reinterpret_cast<void**>(object));
  }
  STDMETHODIMP OpenProduct(BSTR product, long* result) override {
    calls.push_back(L"Open " + std::wstring(product));
    *result = openResult;
    return S_OK;
  }
  STDMETHODIMP AddBinding(BSTR eventIid, BSTR handler, long reserved, long* result) override {
    calls.push_back(L"Add " + std::wstring(eventIid) + L" " + handler + L" " + std::to_wstring(reserved));
    *result = addResult;
    return S_OK;
  }
  STDMETHODIMP RemoveBinding(BSTR eventIid, BSTR handler, long* result) override {
    calls.push_back(L"Remove " + std::wstring(eventIid) + L" " + handler);
    *result = kSuccess;
    return S_OK;
  }
  STDMETHODIMP Save(long* result) override {
    calls.push_back(L"Save");
    *result = saveResult;
    return saveHr;
  }
  STDMETHODIMP FindBinding(BSTR, BSTR, BSTR*, long*) override { return E_NOTIMPL; }
};

const std::pair<const wchar_t*, const wchar_t*> kExpectedBindings[] = {
    {L"{C4C934D0-4BD7-44cb-B6A3-84B06A6C8D7A}", L"{50B3C7E2-1E4E-42CB-8F11-734A87E18F25}"},
    {L"{EFE55865-5455-402c-93F1-4973A0EB26D2}", L"{C2D3A0F4-584D-4617-89FE-8A08113BD71B}"},
    {L"{47B95115-84B0-46ca-A4E5-8F8E537510BE}", L"{343C9095-4E7B-4417-9467-1D638D2DE268}"},
    {L"{DAE60262-42CB-4406-BAF4-24B7E29D7772}", L"{79F78D68-A5FF-4920-B38E-200385A406A8}"},
    {L"{0A5E1C69-91C4-4e4b-85A8-3B56EDC04217}", L"{1B47A83C-697F-465F-9B04-CF76FB0F053B}"},
    {L"{F1DB377E-6701-411c-B31B-53A187FAAF15}", L"{43A5E230-848D-486A-B2F6-85E52B4BCEDE}"},
    {L"{662FEFCB-D7F9-47fe-A4AB-328E123594BF}", L"{AB4F3859-A195-45A2-B3BE-69DC97AA40E6}"},
    {L"{F976049B-8A30-4267-BDCA-69C36AC94E10}", L"{861E9B2B-5008-404C-883E-B24919D22616}"},
};

class EventBindingTest : public ::testing::Test {
 protected:
  EventBindingTest() { ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~EventBindingTest() override {
    if (cookie_) ::CoRevokeClassObject(cookie_);
    ::CoUninitialize();
  }
  void ServeRecordingRegistry() {
    ASSERT_EQ(::CoRegisterClassObject(CLSID_KyGSEventRegistry, static_cast<IKyClassFactory*>(&registry_),
                                      CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_),
              S_OK);
  }
  static std::vector<std::wstring> Expected(const wchar_t* change) {
    std::vector<std::wstring> calls{L"Create", L"Open ZEL"};
    for (const auto& [eventIid, handler] : kExpectedBindings)
      calls.push_back(std::wstring(change) + L" " + eventIid + L" " + handler + (change[0] == L'A' ? L" 0" : L""));
    calls.push_back(L"Save");
    return calls;
  }

  RecordingRegistry registry_;
  DWORD cookie_ = 0;
};

TEST_F(EventBindingTest, EightBindingsAreAddedInOrderWithBracedUpperCaseClassIds) {
  ServeRecordingRegistry();
  EXPECT_TRUE(registerEventHandlers());
  EXPECT_EQ(registry_.calls, Expected(L"Add"));
}

TEST_F(EventBindingTest, UnbindingRemovesTheSameEightInTheSameOrder) {
  ServeRecordingRegistry();
  EXPECT_TRUE(unregisterEventHandlers());
  EXPECT_EQ(registry_.calls, Expected(L"Remove"));
}

TEST_F(EventBindingTest, RefusedSingleBindingsDoNotChangeTheOutcome) {
  registry_.addResult = kRefused;
  ServeRecordingRegistry();
  EXPECT_TRUE(registerEventHandlers());
}

TEST_F(EventBindingTest, ARefusedOpenAddsNothing) {
  registry_.openResult = kRefused;
  ServeRecordingRegistry();
  EXPECT_FALSE(registerEventHandlers());
  EXPECT_EQ(registry_.calls, (std::vector<std::wstring>{L"Create", L"Open ZEL"}));
}

TEST_F(EventBindingTest, ASaveFailingByItsResultOrItsHresultFails) {
  ServeRecordingRegistry();
  const ULONG references = registry_.References();
  registry_.saveResult = kRefused;
  EXPECT_FALSE(registerEventHandlers());
  registry_.saveResult = kSuccess;
  registry_.saveHr = E_FAIL;
  EXPECT_FALSE(unregisterEventHandlers());
  EXPECT_EQ(registry_.References(), references);
}

}  // namespace
