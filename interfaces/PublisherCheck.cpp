// Authenticode verification of a module, followed by the checks that Wine's WinVerifyTrust leaves
// out and a product must not rely on anyway: the signer's chain against the machine's own roots,
// the code-signing usage and the publisher's name.
#include "PublisherCheck.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ComGuard.h"
#include "Handles.h"
#include "LogInstance.h"
#include "LoggingIf.h"
#include "SlimLock.h"
#include "OnceFlag.h"

#ifndef ZEL_PUBLISHER_NAME
#error "ZEL_PUBLISHER_NAME must be defined by the build"
#endif

namespace Ky {
namespace {

using Strata::UniqueCertChain;
using Strata::UniqueCertContext;
using Strata::UniqueCertStore;

// The WinVerifyTrust state of one verification, closed when the check is done.
class TrustVerification {
 public:
  // `file` is the open file; verifying the handle rather than the path leaves no moment in which
  // the file could be swapped for another.
  TrustVerification(const wchar_t* filePath, HANDLE file) noexcept {
    file_.cbStruct = sizeof(file_);
    file_.pcwszFilePath = filePath;
    file_.hFile = file;
    data_.cbStruct = sizeof(data_);
    data_.dwUIChoice = WTD_UI_NONE;
    // Revocation needs the network, which a module load must not wait for.
    data_.fdwRevocationChecks = WTD_REVOKE_NONE;
    data_.dwUnionChoice = WTD_CHOICE_FILE;
    data_.pFile = &file_;
    data_.dwStateAction = WTD_STATEACTION_VERIFY;
    data_.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    status_ = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
  }
  ~TrustVerification() {
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
  }
  TrustVerification(const TrustVerification&) = delete;
  TrustVerification& operator=(const TrustVerification&) = delete;

  HRESULT Status() const noexcept { return static_cast<HRESULT>(status_); }

  // The primary signer, or null when the provider kept none.
  CRYPT_PROVIDER_SGNR* Signer() const noexcept {
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data_.hWVTStateData);
    return provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  }

  // The certificates that came with the signature, for building the signer's chain.
  UniqueCertStore SignatureCertificates() const noexcept {
    UniqueCertStore collection(::CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data_.hWVTStateData);
    if (collection && provider) {
      for (DWORD i = 0; i < provider->chStores; ++i) {
        ::CertAddStoreToCollection(collection.get(), provider->pahStores[i], 0, 0);
      }
    }
    return collection;
  }

 private:
  GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_FILE_INFO file_{};
  WINTRUST_DATA data_{};
  LONG status_ = 0;
};

// Builds the signer's chain with the machine's chain engine, so that only roots the machine
// trusts count (a root a user added for themselves does not), and checks it with the base policy.
HRESULT CheckChainToMachineRoot(PCCERT_CONTEXT signerCert, HCERTSTORE extraCerts, FILETIME verifyAt) {
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof(chainPara);
  UniqueCertChain chain;
  if (!::CertGetCertificateChain(HCCE_LOCAL_MACHINE, signerCert, &verifyAt, extraCerts, &chainPara, 0, nullptr,
                                 chain.put())) {
    return HRESULT_FROM_WIN32(::GetLastError());
  }
  CERT_CHAIN_POLICY_PARA policyPara{};
  policyPara.cbSize = sizeof(policyPara);
  CERT_CHAIN_POLICY_STATUS policyStatus{};
  policyStatus.cbSize = sizeof(policyStatus);
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_BASE, chain.get(), &policyPara, &policyStatus)) {
    return HRESULT_FROM_WIN32(::GetLastError());
  }
  if (policyStatus.dwError != 0) return static_cast<HRESULT>(policyStatus.dwError);

  // Wine's base policy lets a chain end below its root; only a chain whose last certificate is
  // itself in the machine's Root store is trusted.
  const CERT_SIMPLE_CHAIN* simple = chain.get()->cChain ? chain.get()->rgpChain[0] : nullptr;
  if (!simple || simple->cElement == 0) return CERT_E_CHAINING;
  PCCERT_CONTEXT top = simple->rgpElement[simple->cElement - 1]->pCertContext;
  UniqueCertStore machineRoots(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                               CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, L"Root"));
  if (!machineRoots) return HRESULT_FROM_WIN32(::GetLastError());
  UniqueCertContext trustedTop(
      ::CertFindCertificateInStore(machineRoots.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, top, nullptr));
  return trustedTop ? S_OK : CERT_E_UNTRUSTEDROOT;
}

// A publisher certificate names code signing among its usages; one without the extension, which
// would allow every usage, is not accepted either.
HRESULT CheckCodeSigningUsage(PCCERT_CONTEXT signerCert) {
  DWORD size = 0;
  if (!::CertGetEnhancedKeyUsage(signerCert, 0, nullptr, &size) || size == 0) return CERT_E_WRONG_USAGE;
  std::vector<BYTE> buffer(size);
  auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
  if (!::CertGetEnhancedKeyUsage(signerCert, 0, usage, &size)) return CERT_E_WRONG_USAGE;
  for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
    if (std::string(usage->rgpszUsageIdentifier[i]) == szOID_PKIX_KP_CODE_SIGNING) return S_OK;
  }
  return CERT_E_WRONG_USAGE;
}

HRESULT CheckPublisherName(PCCERT_CONTEXT signerCert) {
  wchar_t name[256] = L"";
  ::CertGetNameStringW(signerCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, ARRAYSIZE(name));
  return std::wstring(name) == ProductPublisherName() ? S_OK : CERT_E_CN_NO_MATCH;
}

// Said once per process, so that a development build is never mistaken for a product build.
void NoteUnsignedModuleAccepted(const wchar_t* filePath) {
  static Strata::OnceFlag once;
  once.Run([filePath] {
    ZEL_LOG(ETWLogging::kLevelWarning, L"PublisherCheck", L"Ky::CheckPublisher",
            L"Development build: accepting unsigned modules, the first being \"%s\"\r\n", filePath);
  });
}

// What makes a file the same file: a file replaced under its name, or written to, is another.
struct FileIdentity {
  DWORD volume;
  DWORD indexHigh;
  DWORD indexLow;
  DWORD sizeHigh;
  DWORD sizeLow;
  FILETIME lastWrite;

  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow &&
           sizeHigh == other.sizeHigh && sizeLow == other.sizeLow &&
           lastWrite.dwLowDateTime == other.lastWrite.dwLowDateTime &&
           lastWrite.dwHighDateTime == other.lastWrite.dwHighDateTime;
  }
};

std::optional<FileIdentity> IdentityOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow,
                      info.nFileSizeHigh,        info.nFileSizeLow,   info.ftLastWriteTime};
}

// Files that passed the full check in this process. A verification reads and hashes the whole file
// and builds a certificate chain; the caller check of a class object runs on every creation.
class VerifiedFiles {
 public:
  bool Contains(const FileIdentity& identity) {
    std::lock_guard<Strata::SlimLock> guard(lock_);
    return std::find(files_.begin(), files_.end(), identity) != files_.end();
  }
  void Add(const FileIdentity& identity) {
    std::lock_guard<Strata::SlimLock> guard(lock_);
    // A process verifies a handful of modules; a bound keeps a process that sees many replaced
    // files from growing for ever.
    if (files_.size() >= kCapacity) files_.clear();
    files_.push_back(identity);
  }

 private:
  static constexpr size_t kCapacity = 64;
  // Guards files_; held for the look-up or the insertion only, never across a verification.
  Strata::SlimLock lock_;
  std::vector<FileIdentity> files_;
};

VerifiedFiles g_verifiedFiles;  // at namespace scope, unguarded (see OnceFlag.h)

VerifiedFiles& ProcessVerifiedFiles() { return g_verifiedFiles; }

HRESULT VerifyOpenFile(const wchar_t* filePath, HANDLE file, UnsignedModules unsignedPolicy) {
  TrustVerification verification(filePath, file);
  HRESULT hr = verification.Status();
  if (hr == TRUST_E_NOSIGNATURE && unsignedPolicy == UnsignedModules::Accept) {
    NoteUnsignedModuleAccepted(filePath);
    return S_OK;
  }
  if (FAILED(hr)) return hr;

  CRYPT_PROVIDER_SGNR* signer = verification.Signer();
  CRYPT_PROVIDER_CERT* signerCert = signer && signer->csCertChain ? ::WTHelperGetProvCertFromChain(signer, 0) : nullptr;
  if (!signerCert || !signerCert->pCert) return TRUST_E_NO_SIGNER_CERT;

  hr = CheckChainToMachineRoot(signerCert->pCert, verification.SignatureCertificates().get(), signer->sftVerifyAsOf);
  if (FAILED(hr)) return hr;
  hr = CheckCodeSigningUsage(signerCert->pCert);
  if (FAILED(hr)) return hr;
  return CheckPublisherName(signerCert->pCert);
}

}  // namespace

UnsignedModules BuildUnsignedModulePolicy() noexcept {
#ifdef ZEL_ACCEPT_UNSIGNED_MODULES
  return UnsignedModules::Accept;
#else
  return UnsignedModules::Refuse;
#endif
}

const wchar_t* ProductPublisherName() noexcept { return ZEL_PUBLISHER_NAME; }

HRESULT CheckPublisher(const wchar_t* filePath, UnsignedModules unsignedPolicy) noexcept {
  if (!filePath || !*filePath) return E_INVALIDARG;
  // A file that cannot be read is an error of its own, never an unsigned module.
  Strata::UniqueFile file(::CreateFileW(filePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  if (!file) return HRESULT_FROM_WIN32(::GetLastError());
  return CheckPublisherOfOpenFile(filePath, file.get(), unsignedPolicy);
}

HRESULT CheckPublisherOfOpenFile(const wchar_t* filePath, HANDLE file, UnsignedModules unsignedPolicy) noexcept {
  if (!filePath || !*filePath || !file || file == INVALID_HANDLE_VALUE) return E_INVALIDARG;
  return GuardHResult([&] {
    std::optional<FileIdentity> identity = IdentityOf(file);
    if (identity && ProcessVerifiedFiles().Contains(*identity)) return S_OK;
    // Verifying the handle rather than the path leaves no moment in which the file could be
    // swapped for another.
    HRESULT hr = VerifyOpenFile(filePath, file, unsignedPolicy);
    // An unsigned module accepted by a development build is not remembered as verified.
    if (hr == S_OK && identity && unsignedPolicy == UnsignedModules::Refuse) ProcessVerifiedFiles().Add(*identity);
    return hr;
  });
}

HRESULT CheckModulePublisher(HMODULE module, UnsignedModules unsignedPolicy) noexcept {
  if (!module) return E_INVALIDARG;
  try {
    std::wstring path = ModuleFileName(module);
    if (path.empty()) return HRESULT_FROM_WIN32(::GetLastError());
    return CheckPublisher(path.c_str(), unsignedPolicy);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CheckPublisherOfCode(const void* address, UnsignedModules unsignedPolicy) noexcept {
  HMODULE module = ModuleOfCode(address);
  if (!module) return HRESULT_FROM_WIN32(::GetLastError());
  return CheckModulePublisher(module, unsignedPolicy);
}

HMODULE ModuleOfCode(const void* address) noexcept {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module)) {
    return nullptr;
  }
  return module;
}

void NoteDevelopmentBuild(const wchar_t* sourceFile, const wchar_t* function) noexcept {
  if (BuildUnsignedModulePolicy() == UnsignedModules::Accept) {
    ZEL_LOG(ETWLogging::kLevelWarning, sourceFile, function,
            L"Development build: modules without a signature pass the publisher check\r\n");
  }
}

}  // namespace Ky
