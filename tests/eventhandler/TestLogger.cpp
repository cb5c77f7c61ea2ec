// An in-process server standing in for the bridge library's logger: its class objects answer only
// the suite factory interface, like the real library's, and its loggers record every LogEvent and
// LogInfoUser call and answer as the test ordered (see TestLoggerLayout.h).
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

#include "ComObject.h"
#include "Handles.h"
#include "KyClassFactory.h"
#include "TestLoggerLayout.h"
#include "TypelessDispatch.h"
#include "ZelTARN.h"

namespace {

std::atomic<long> g_objects{0};
// Serialises the read-modify-write steps on a class's key (call numbers, counters).
std::mutex g_registryLock;

class ClassKey {
 public:
  explicit ClassKey(REFCLSID clsid) {
    ::RegCreateKeyExW(HKEY_CURRENT_USER, ZelTest::TestLoggerKeyPath(clsid).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, key_.put(), nullptr);
  }
  DWORD ReadDword(const wchar_t* name) const {
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    ::RegGetValueW(key_.get(), nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &bytes);
    return value;
  }
  void WriteDword(const wchar_t* name, DWORD value) const {
    ::RegSetValueExW(key_.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  }
  void Increment(const wchar_t* name) const { WriteDword(name, ReadDword(name) + 1); }
  // The order for call `index`, "ok" when none was given.
  std::wstring Answer(DWORD index) const {
    DWORD bytes = 0;
    if (::RegGetValueW(key_.get(), nullptr, L"Answers", RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
      return L"ok";
    std::vector<wchar_t> texts(bytes / sizeof(wchar_t) + 2, L'\0');
    ::RegGetValueW(key_.get(), nullptr, L"Answers", RRF_RT_REG_MULTI_SZ, nullptr, texts.data(), &bytes);
    const wchar_t* text = texts.data();
    for (DWORD i = 0; *text; ++i, text += wcslen(text) + 1)
      if (i == index) return text;
    return L"ok";
  }
  // Appends a record and returns its call number.
  DWORD Record(const std::wstring& record) const {
    Strata::UniqueHkey calls;
    ::RegCreateKeyExW(key_.get(), L"Calls", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, calls.put(), nullptr);
    DWORD count = 0;
    ::RegQueryInfoKeyW(calls.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                       nullptr, nullptr);
    wchar_t name[16];
    swprintf(name, 16, L"%06lu", count);
    ::RegSetValueExW(calls.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(record.c_str()),
                     static_cast<DWORD>((record.size() + 1) * sizeof(wchar_t)));
    return count;
  }

 private:
  Strata::UniqueHkey key_;
};

std::wstring Text(BSTR text) { return text ? std::wstring(text) : std::wstring(L"(null)"); }

// Carries out an order; the answer's HRESULT, with *result set for "result".
HRESULT Obey(const std::wstring& order, long* result) {
  if (order == L"hang") {
    ::Sleep(15000);
  } else if (order == L"wait") {
    Strata::UniqueHandle go(::OpenEventW(SYNCHRONIZE, FALSE, ZelTest::kTestLoggerGo));
    if (go) ::WaitForSingleObject(go.get(), 30000);
  } else if (order == L"fault") {
    *static_cast<volatile long*>(nullptr) = 1;
  } else if (order.rfind(L"result ", 0) == 0) {
    *result = static_cast<long>(wcstoul(order.c_str() + 7, nullptr, 16));
  } else if (order.rfind(L"hr ", 0) == 0) {
    return static_cast<HRESULT>(wcstoul(order.c_str() + 3, nullptr, 16));
  }
  return S_OK;
}

// Every live object of the library keeps it loaded.
struct LiveObjectCount {
  static void Lock() noexcept { ++g_objects; }
  static void Unlock() noexcept { --g_objects; }
};

template <typename Interface>
using CountedObject = Ky::ComObject<LiveObjectCount, Interface>;

class TestLogger : public CountedObject<Ky::TypelessDispatch<IZelLogger>> {
 public:
  explicit TestLogger(REFCLSID clsid) : clsid_(clsid) {
    std::lock_guard<std::mutex> guard(g_registryLock);
    ClassKey(clsid_).Increment(L"Created");
  }
  ~TestLogger() override {
    std::lock_guard<std::mutex> guard(g_registryLock);
    ClassKey(clsid_).Increment(L"Released");
  }

  STDMETHODIMP LogInfoUser(long* action, BSTR target, BSTR responsible, long* result) override {
    return RecordAndObey(L"LogInfoUser|" + std::to_wstring(*action) + L"|" + Text(target) + L"|" + Text(responsible),
                         result);
  }
  STDMETHODIMP LogEvent(long* type, BSTR webPage, BSTR content, ULONG session, long* result) override {
    return RecordAndObey(L"LogEvent|" + std::to_wstring(*type) + L"|" + Text(webPage) + L"|" + Text(content) + L"|" +
                             std::to_wstring(session),
                         result);
  }
  STDMETHODIMP LogBlockingFeature(long, long*, long*) override { return E_NOTIMPL; }
  STDMETHODIMP LogWebsite(long*, long*, BSTR, long*) override { return E_NOTIMPL; }
  STDMETHODIMP LogPersonalInfo(long*, BSTR, long*) override { return E_NOTIMPL; }
  STDMETHODIMP LogKeyword(BSTR, BSTR, long*) override { return E_NOTIMPL; }
  STDMETHODIMP LogInetTimeLimit(BSTR, VARIANT, VARIANT, VARIANT, long*) override { return E_NOTIMPL; }

 private:
  HRESULT RecordAndObey(const std::wstring& record, long* result) {
    std::wstring order;
    {
      std::lock_guard<std::mutex> guard(g_registryLock);
      ClassKey key(clsid_);
      order = key.Answer(key.Record(record));
    }
    return Obey(order, result);
  }

  const CLSID clsid_;
};

class TestFactory : public CountedObject<IKyClassFactory> {
 public:
  explicit TestFactory(REFCLSID clsid) : clsid_(clsid) {}
  STDMETHODIMP CreateInstance(REFIID iid, IUnknown** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (RefuseCreation()) return E_FAIL;
    return TestLogger::CreateInstance<TestLogger>(iid, reinterpret_cast<void**>(object), clsid_);
  }

 private:
  bool RefuseCreation() const {
    std::lock_guard<std::mutex> guard(g_registryLock);
    ClassKey key(clsid_);
    DWORD left = key.ReadDword(L"FailCreations");
    if (left == 0) return false;
    key.WriteDword(L"FailCreations", left - 1);
    return true;
  }

  const CLSID clsid_;
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return TestFactory::ComObject::CreateInstance<TestFactory>(iid, object, clsid);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }
