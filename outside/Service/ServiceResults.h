// What the service stand-in answers and where it keeps its state: result codes, the ids of its
// objects and properties, and its registry layout. Tests and the programs they start include this
// to steer the stand-in and read what it recorded.
//
// Everything lives under HKEY_LOCAL_MACHINE\Software\ZelStandIns\Service (see StandInKnobs.h for
// the per-process subkey "Processes\<pid>", whose values win over the key's own):
//   Users\<user id>\<property id>     applied users and their properties ("<vt>:<text>", REG_SZ)
//   Global, AdminSettings, AgeGroups\<n>   the other configuration objects' applied properties
//   Sessions\<session id>              REG_SZ name of the user signed in to that session
//   EventBindings\<product>\<IID>      REG_SZ handler CLSID bound to that event interface
//   DllCanDefer\<pid>\Count, \<n>      every DllCanDefer call of a process: "code flag 0xVALUE"
// Knobs, read on every call:
//   AdminPassword, SecurityAnswer (REG_SZ)  what properties 202 and 205 accept (absent: only "")
//   Kills (DWORD)  raising it "kills" the service: every object handed out before answers
//                  0x800706BA to every call (QueryInterface of the root included), as a dead
//                  process's proxies do
//   ApplyRaisesUserEvent (REG_SZ, "EVENT INFO")  the next Apply of a users collection first raises
//                  this platform user event on its caller's thread (UsersCollection.cpp)
//   EnumeratorExtraItems (DWORD)  a users enumeration hands out this many empty items after the users
//   <Operation>.HResult (DWORD)  answer this HRESULT instead of doing the operation
//   <Operation>.Result  (DWORD)  answer this result code instead (with S_OK unless HResult says
//                                otherwise; 0x08020000 when only HResult is set)
//   <Operation>.Times   (DWORD)  when present, the two above hold only this many more times
//   <Operation>.After   (DWORD)  when present, this many more calls are answered normally before
//                                the two above hold (the call after them fails)
// Operations: GetValue, SignIn, SignOut (root object); ConfigGetValue, ConfigSetValue, ConfigApply
// (configuration objects); Enumerator, Add, Remove, Count, Apply, Revert, CreateItem (users
// collection); OpenProduct, AddBinding, RemoveBinding, Save, FindBinding (event registry);
// Create (creation of a root object) and Enumerator answer only a failure HRESULT. Each call of an
// operation is counted as "<Operation>.Calls" in the per-process subkey when a test created it.
#pragma once

#include <windows.h>

namespace ZelService {

// Result codes; the low 17 bits are the error part, zero on success.
constexpr long kResultSuccess = 0x08020000;
constexpr long kResultInvalidArgument = 0x08020001;
constexpr long kResultNotFound = 0x08020002;
constexpr long kResultUnknownUser = 0x08020003;
constexpr long kResultAlreadyExists = 0x08020004;
constexpr long kResultValueRefused = 0x08020005;
constexpr long kResultNoProduct = 0x08020006;

constexpr long kErrorMask = 0x1FFFF;
constexpr bool Succeeded(HRESULT hr, long result) { return SUCCEEDED(hr) && (result & kErrorMask) == 0; }

// Objects of the root's GetValue.
constexpr long kGlobalSettings = 100;
constexpr long kUsersCollection = 102;
constexpr long kAdminSettings = 109;
constexpr long kAgeGroups = 110;

// Properties with a meaning of their own.
constexpr long kUserName = 200;
constexpr long kAgeGroupSelection = 200;
constexpr long kAdminPassword = 202;
constexpr long kSecurityAnswer = 205;

constexpr const wchar_t kStandInName[] = L"Service";
constexpr const wchar_t kServiceKey[] = L"Software\\ZelStandIns\\Service";

}  // namespace ZelService
