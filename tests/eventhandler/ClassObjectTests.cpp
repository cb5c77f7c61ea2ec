// The library's class objects and the life of a handler object: which factory interfaces each kind
// answers, reference counts, and the module lock an object or a server lock holds.
#include <gtest/gtest.h>

#include "ClassObject.h"
#include "HandlerTestSupport.h"
#include "InterfaceTestSupport.h"
#include "KyClassFactory.h"
#include "KyUserManager.h"

namespace {

using namespace ZelTest;
using Microsoft::WRL::ComPtr;

const CLSID* const kServedClasses[] = {
    &CLSID_GSAccessDeniedEventHandler, &CLSID_GSImageBlockedEventHandler, &CLSID_GSKeywordBlockedEventHandler,
    &CLSID_GSSignInEventHandler,       &CLSID_GSSignOutEventHandler,      &CLSID_GSUrlVisitedEventHandler,
    &CLSID_GSSignInRequiredEventHandler,
};

ULONG References(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

class ClassObjectTest : public HandlerTest {};

TEST_F(ClassObjectTest, ServedClassesHaveOneCachedStandardFactory) {
  for (const CLSID* clsid : kServedClasses) {
    ComPtr<IClassFactory> first;
    ComPtr<IClassFactory> second;
    ASSERT_EQ(GetEventHandlerClassObject(*clsid, IID_IClassFactory, reinterpret_cast<void**>(first.GetAddressOf())),
              S_OK);
    ASSERT_EQ(GetEventHandlerClassObject(*clsid, IID_IUnknown, reinterpret_cast<void**>(second.GetAddressOf())), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(first.Get()), static_cast<IUnknown*>(second.Get()));
    // The cache's own reference and the two handed out.
    EXPECT_EQ(References(first.Get()), 3u);
    ComPtr<IKyClassFactory> suite;
    EXPECT_EQ(first.As(&suite), E_NOINTERFACE);
    ComPtr<IUnknown> object;
    ComPtr<IUnknown> outer = first;
    EXPECT_EQ(first->CreateInstance(outer.Get(), IID_IUnknown, reinterpret_cast<void**>(object.GetAddressOf())),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
  }
}

TEST_F(ClassObjectTest, ClassesNotBuiltYetAndUnknownClassesAreNotAvailable) {
  const CLSID* const unavailable[] = {
                                      &CLSID_GSPIIDetectedEventHandler, &CLSID_NULL};
  for (const CLSID* clsid : unavailable) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(GetEventHandlerClassObject(*clsid, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(GetEventHandlerClassObject(CLSID_GSSignInEventHandler, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(ClassObjectTest, AHandlerAnswersOnlyItsEventInterfaceAndHoldsTheModuleWhileItLives) {
  EXPECT_EQ(g_module.GetLockCount(), 0);
  auto handler = CreateHandler<IKyGSAccessDeniedEvent>(CLSID_GSAccessDeniedEventHandler);
  ASSERT_TRUE(handler);
  EXPECT_EQ(g_module.GetLockCount(), 1);
  EXPECT_EQ(References(handler.Get()), 1u);

  ComPtr<IUnknown> identity;
  ASSERT_EQ(handler.As(&identity), S_OK);
  EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(handler.Get()));
  EXPECT_EQ(References(handler.Get()), 2u);
  identity.Reset();

  ComPtr<IKyGSImageBlockedEvent> otherEvent;
  EXPECT_EQ(handler.As(&otherEvent), E_NOINTERFACE);
  ComPtr<IDispatch> dispatch;
  EXPECT_EQ(handler.As(&dispatch), E_NOINTERFACE);

  auto second = CreateHandler<IKyGSUrlVisitedEvent>(CLSID_GSUrlVisitedEventHandler);
  EXPECT_EQ(g_module.GetLockCount(), 2);
  second.Reset();
  handler.Reset();
  EXPECT_EQ(g_module.GetLockCount(), 0);
  EXPECT_EQ(g_module.CanUnloadNow(), S_OK);
  EXPECT_EQ(log_.Count(L"Lock count is 1... creating logging thread\r\n"), 1u);
  EXPECT_EQ(log_.Count(L"Lock count is 0... releasing cached objects\r\n"), 1u);
}

TEST_F(ClassObjectTest, AServerLockAndAHeldClassObjectHoldTheModule) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(GetEventHandlerClassObject(CLSID_GSSignOutEventHandler, IID_IClassFactory,
                                       reinterpret_cast<void**>(factory.GetAddressOf())),
            S_OK);
  // A caller may keep the class object and create later: unloading under it would crash it.
  EXPECT_EQ(g_module.CanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(g_module.GetLockCount(), 1);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(g_module.GetLockCount(), 0);

  // An unlock without its lock must not take the count of a live object down.
  auto handler = CreateHandler<IKyGSUrlVisitedEvent>(CLSID_GSUrlVisitedEventHandler);
  EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED);
  EXPECT_EQ(g_module.GetLockCount(), 1);
  handler.Reset();
  EXPECT_EQ(g_module.CanUnloadNow(), S_FALSE);

  // Two more references of the same class object, as two callers hold it.
  ComPtr<IUnknown> again;
  ASSERT_EQ(GetEventHandlerClassObject(CLSID_GSSignOutEventHandler, IID_PPV_ARGS(&again)), S_OK);
  factory.Reset();
  EXPECT_EQ(g_module.CanUnloadNow(), S_FALSE);
  again.Reset();
  EXPECT_EQ(g_module.CanUnloadNow(), S_OK);
}

TEST_F(ClassObjectTest, TheUserEventsClassObjectServesOnlySignedCallersThroughTheSuiteFactories) {
  ComPtr<IUnknown> classObject;
  ASSERT_EQ(GetEventHandlerClassObject(CLSID_UserEvents, IID_PPV_ARGS(&classObject)), S_OK);
  ExpectOnlySignedCallersServed(classObject.Get(), IID_IKyUserEvents);
  ComPtr<IKyClassFactory_PreComponentization> older;
  ASSERT_EQ(classObject.As(&older), S_OK);
  ComPtr<IKyUserSettings> settings;
  EXPECT_EQ(older->CreateInstance(IID_IKyUserSettings, reinterpret_cast<IUnknown**>(settings.GetAddressOf())), S_OK);
  EXPECT_EQ(g_module.GetLockCount(), 1);
}

}  // namespace
