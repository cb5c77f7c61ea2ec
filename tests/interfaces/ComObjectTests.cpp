// The one COM object base: what QueryInterface answers for each way of listing interfaces, the
// module lock an object holds for exactly its lifetime, and creations that fail (a refused
// FinalConstruct, an interface the class does not have, allocations that fail) leaving nothing alive.
#include <windows.h>
#include <oaidl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ComObject.h"
#include "FailingAllocations.h"
#include "KyReportLog.h"

namespace ComObjectTest {

struct IShape : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Corners(int* count) = 0;
};

struct IScriptable : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Run() = 0;
};

}  // namespace ComObjectTest

__CRT_UUID_DECL(ComObjectTest::IShape, 0x3f1c2a60, 0x58d4, 0x4b0e, 0x9a, 0x61, 0x27, 0xd3, 0x0e, 0x84, 0xc1, 0x5b)
__CRT_UUID_DECL(ComObjectTest::IScriptable, 0x7b9e4d12, 0x0c36, 0x4f8a, 0xb2, 0x47, 0x91, 0x5a, 0x6e, 0x03, 0xd8, 0x2c)

namespace ComObjectTest {
namespace {

using ZelTest::FailingAllocations;

// Module locks held by the objects of these tests; each test starts and ends at zero.
int g_locks = 0;
// Objects whose constructor ran and whose destructor has not.
int g_alive = 0;

struct CountingLock {
  static void Lock() noexcept { ++g_locks; }
  static void Unlock() noexcept { --g_locks; }
};

struct Alive {
  Alive() { ++g_alive; }
  ~Alive() { --g_alive; }
};

template <typename Base>
struct ShapeMethods : public Base {
  STDMETHODIMP Corners(int* count) override {
    *count = 4;
    return S_OK;
  }
};

// An implementation base of a dual interface, as the bridge's type-library dispatch is.
template <typename Dual>
struct DispatchOf : public Dual {
  using DualInterface = Dual;
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Run() override { return S_OK; }
};

class PlainShape : public Ky::ComObject<CountingLock, IShape> {
 public:
  STDMETHODIMP Corners(int* count) override {
    *count = 3;
    return S_OK;
  }
};

class DualFirst : public ShapeMethods<Ky::ComObject<CountingLock, DispatchOf<IScriptable>, IShape>> {};

class DualSecond : public Ky::ComObject<CountingLock, IShape, DispatchOf<IScriptable>> {
 public:
  STDMETHODIMP Corners(int* count) override {
    *count = 5;
    return S_OK;
  }
};

// Refuses to be made once constructed.
class RefusingShape : public PlainShape {
 public:
  HRESULT FinalConstruct() noexcept { return E_ACCESSDENIED; }

 private:
  Alive alive_;
};

// Allocates while it is constructed.
class AllocatingShape : public PlainShape {
 public:
  explicit AllocatingShape(const std::wstring& name) : names_{name, name + L" (copy)"} {}

 private:
  Alive alive_;
  std::vector<std::wstring> names_;
};

using Creator = HRESULT (*)(REFIID iid, void** object);

template <typename T>
HRESULT Create(REFIID iid, void** object) {
  return T::template CreateInstance<T>(iid, object);
}

struct Listing {
  const char* name;
  Creator create;
  std::vector<IID> listed;
  bool answersDispatch;
};

const Listing kListings[] = {
    {"one plain interface", &Create<PlainShape>, {__uuidof(IShape)}, false},
    {"a dual implementation base first", &Create<DualFirst>, {__uuidof(IScriptable), __uuidof(IShape)}, true},
    {"a dual implementation base second", &Create<DualSecond>, {__uuidof(IShape), __uuidof(IScriptable)}, true},
};

// A creation that must fail, and how.
struct Failure {
  const char* name;
  Creator create;
  REFIID iid;
  HRESULT expected;
};

class ComObjectTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(g_locks, 0);
    EXPECT_EQ(g_alive, 0);
  }

  static IUnknown* Identity(IUnknown* object) {
    IUnknown* identity = nullptr;
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    if (identity) identity->Release();
    return identity;
  }
};

TEST_F(ComObjectTest, EveryListedInterfaceAndIUnknownShareOneIdentity) {
  for (const Listing& listing : kListings) {
    IUnknown* object = nullptr;
    ASSERT_EQ(listing.create(IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK) << listing.name;
    IUnknown* identity = Identity(object);
    EXPECT_EQ(identity, object) << listing.name;
    for (const IID& iid : listing.listed) {
      IUnknown* answer = nullptr;
      ASSERT_EQ(object->QueryInterface(iid, reinterpret_cast<void**>(&answer)), S_OK) << listing.name;
      EXPECT_EQ(Identity(answer), identity) << listing.name;
      answer->Release();
    }
    EXPECT_EQ(object->Release(), 0u) << listing.name;
  }
}

TEST_F(ComObjectTest, IDispatchIsAnsweredOnlyThroughAListedDispatchInterface) {
  for (const Listing& listing : kListings) {
    IUnknown* object = nullptr;
    ASSERT_EQ(listing.create(IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK) << listing.name;
    IDispatch* dispatch = nullptr;
    const HRESULT hr = object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    EXPECT_EQ(hr, listing.answersDispatch ? S_OK : E_NOINTERFACE) << listing.name;
    if (dispatch) {
      EXPECT_EQ(Identity(dispatch), object) << listing.name;
      // The dispatch methods are the listed dual interface's own.
      EXPECT_EQ(dispatch->GetTypeInfoCount(nullptr), E_NOTIMPL) << listing.name;
      dispatch->Release();
    }
    object->Release();
  }
}

TEST_F(ComObjectTest, AnInterfaceNotListedIsRefusedWithANullAnswer) {
  const IID notListed[] = {IID_IKyReportLog, IID_IClassFactory, IID_IPersist};
  for (const Listing& listing : kListings) {
    IUnknown* object = nullptr;
    ASSERT_EQ(listing.create(IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK) << listing.name;
    for (const IID& iid : notListed) {
      void* answer = &object;  // anything but null
      EXPECT_EQ(object->QueryInterface(iid, &answer), E_NOINTERFACE) << listing.name;
      EXPECT_EQ(answer, nullptr) << listing.name;
    }
    object->Release();
  }
}

TEST_F(ComObjectTest, ANullOutPointerIsRefused) {
  for (const Listing& listing : kListings) {
    EXPECT_EQ(listing.create(IID_IUnknown, nullptr), E_POINTER) << listing.name;
    IUnknown* object = nullptr;
    ASSERT_EQ(listing.create(IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK) << listing.name;
    for (const IID& iid : listing.listed) EXPECT_EQ(object->QueryInterface(iid, nullptr), E_POINTER) << listing.name;
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER) << listing.name;
    object->Release();
  }
}

TEST_F(ComObjectTest, TheModuleLockIsHeldExactlyWhileTheObjectLives) {
  for (const Listing& listing : kListings) {
    IUnknown* object = nullptr;
    ASSERT_EQ(listing.create(IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK) << listing.name;
    EXPECT_EQ(g_locks, 1) << listing.name;
    EXPECT_EQ(object->AddRef(), 2u) << listing.name;
    EXPECT_EQ(object->Release(), 1u) << listing.name;
    EXPECT_EQ(g_locks, 1) << listing.name;
    IUnknown* second = nullptr;
    ASSERT_EQ(listing.create(IID_IUnknown, reinterpret_cast<void**>(&second)), S_OK) << listing.name;
    EXPECT_EQ(g_locks, 2) << listing.name;
    EXPECT_EQ(object->Release(), 0u) << listing.name;
    EXPECT_EQ(g_locks, 1) << listing.name;
    second->Release();
    EXPECT_EQ(g_locks, 0) << listing.name;
  }
}

TEST_F(ComObjectTest, AFailedCreationFreesTheObjectAndItsLock) {
  const Failure failures[] = {
      {"FinalConstruct refuses", &Create<RefusingShape>, __uuidof(IShape), E_ACCESSDENIED},
      {"the class lacks the interface", &Create<PlainShape>, IID_IKyReportLog, E_NOINTERFACE},
      {"the class lacks IDispatch", &Create<PlainShape>, IID_IDispatch, E_NOINTERFACE},
  };
  for (const Failure& failure : failures) {
    void* object = &g_locks;  // anything but null
    EXPECT_EQ(failure.create(failure.iid, &object), failure.expected) << failure.name;
    EXPECT_EQ(object, nullptr) << failure.name;
    EXPECT_EQ(g_locks, 0) << failure.name;
    EXPECT_EQ(g_alive, 0) << failure.name;
  }
}

// Whichever allocation fails (the object's own or one its constructor makes), the creation answers
// E_OUTOFMEMORY instead of throwing, and nothing it made is left alive.
TEST_F(ComObjectTest, CreationUnderFailingAllocationsAnswersOutOfMemoryAndLeavesNothing) {
  const std::wstring name(64, L'n');  // past any short-string buffer, so that a copy allocates
  long failed = 0;
  for (long nth = 0;; ++nth) {
    IShape* shape = nullptr;
    HRESULT hr = E_UNEXPECTED;
    bool fired = false;
    {
      FailingAllocations failing(nth);
      hr = PlainShape::CreateInstance<AllocatingShape>(__uuidof(IShape), reinterpret_cast<void**>(&shape), name);
      fired = failing.Fired();
    }
    if (!fired) {
      ASSERT_EQ(hr, S_OK) << "allocation " << nth;
      int corners = 0;
      EXPECT_EQ(shape->Corners(&corners), S_OK);
      EXPECT_EQ(corners, 3);
      shape->Release();
      break;
    }
    ++failed;
    EXPECT_EQ(hr, E_OUTOFMEMORY) << "allocation " << nth;
    EXPECT_EQ(shape, nullptr) << "allocation " << nth;
    EXPECT_EQ(g_locks, 0) << "allocation " << nth;
    EXPECT_EQ(g_alive, 0) << "allocation " << nth;
  }
  // The object, the list and its two texts.
  EXPECT_GE(failed, 4);
}

}  // namespace
}  // namespace ComObjectTest
