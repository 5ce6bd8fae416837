#include "platform/ca_certificates_win.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace hvhttp {
namespace {

// No PEM file of CA certificates comes near this; a larger file is not one.
constexpr std::streamoff kMaxFileBytes = 16 * 1024 * 1024;

constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kEnd = "-----END CERTIFICATE-----";

// Where WinInet keeps it: INTERNET_OPTION_SERVER_CERT_CHAIN_CONTEXT, which not every header set
// names.
constexpr DWORD kServerCertChainOption = 105;

struct ChainDeleter {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const { ::CertFreeCertificateChain(chain); }
};
using ChainPtr = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainDeleter>;

struct StoreDeleter {
  void operator()(HCERTSTORE store) const { ::CertCloseStore(store, 0); }
};
using StorePtr = std::unique_ptr<void, StoreDeleter>;

[[noreturn]] void Refuse(const std::string& path, const char* why) {
  throw CInternetException(CInternetException::kOther, "CA file " + path + ": " + why);
}

}  // namespace

CaCertificates::CaCertificates(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) Refuse(path, "cannot be read");
  const std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxFileBytes) Refuse(path, "is no PEM file of certificates");
  in.seekg(0);
  const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  store_ = ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (store_ == nullptr) Refuse(path, "no certificate store could be made");
  for (size_t at = pem.find(kBegin); at != std::string::npos; at = pem.find(kBegin, at)) {
    size_t end = pem.find(kEnd, at);
    if (end == std::string::npos) break;
    end += kEnd.size();
    const std::string block = pem.substr(at, end - at);
    at = end;
    DWORD length = 0;
    if (!::CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                                CRYPT_STRING_BASE64HEADER, nullptr, &length, nullptr, nullptr)) {
      continue;
    }
    std::vector<BYTE> der(length);
    if (::CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                               CRYPT_STRING_BASE64HEADER, der.data(), &length, nullptr, nullptr) &&
        ::CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, der.data(), length,
                                           CERT_STORE_ADD_USE_EXISTING, nullptr)) {
      ++count_;
    }
  }
  if (count_ == 0) {
    ::CertCloseStore(store_, 0);
    store_ = nullptr;
    Refuse(path, "holds no certificate");
  }
}

CaCertificates::~CaCertificates() {
  if (store_ != nullptr) ::CertCloseStore(store_, 0);
}

DWORD CaCertificates::Check(HINTERNET request) const {
  PCCERT_CHAIN_CONTEXT shown = nullptr;
  DWORD size = sizeof shown;
  if (!::InternetQueryOptionA(request, kServerCertChainOption, &shown, &size) || shown == nullptr) {
    return ERROR_INTERNET_SEC_INVALID_CERT;
  }
  ChainPtr served(shown);
  if (served->cChain == 0 || served->rgpChain[0]->cElement == 0) {
    return ERROR_INTERNET_SEC_INVALID_CERT;
  }
  PCCERT_CONTEXT leaf = served->rgpChain[0]->rgpElement[0]->pCertContext;

  // The chain again, with the file's certificates and those the server sent to build it from.
  StorePtr extra(::CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
  if (!extra) return ERROR_INTERNET_SEC_INVALID_CERT;
  ::CertAddStoreToCollection(extra.get(), store_, 0, 0);
  if (leaf->hCertStore != nullptr) ::CertAddStoreToCollection(extra.get(), leaf->hCertStore, 0, 0);
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!::CertGetCertificateChain(nullptr, leaf, nullptr, extra.get(), &para, 0, nullptr, &built) ||
      built == nullptr) {
    return ERROR_INTERNET_SEC_INVALID_CERT;
  }
  ChainPtr chain(built);
  const DWORD ignored = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION |
                        CERT_TRUST_IS_NOT_TIME_NESTED;
  const DWORD status = chain->TrustStatus.dwErrorStatus & ~ignored;
  if (status == 0) return 0;  // the system's store trusts it
  if ((status & CERT_TRUST_IS_NOT_TIME_VALID) != 0) return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
  if (status != CERT_TRUST_IS_UNTRUSTED_ROOT || chain->cChain == 0) {
    return ERROR_INTERNET_INVALID_CA;
  }
  // Every signature up to the root holds; the root must be one of the file's.
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  if (simple->cElement == 0) return ERROR_INTERNET_INVALID_CA;
  PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
  PCCERT_CONTEXT ours =
      ::CertFindCertificateInStore(store_, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr);
  if (ours == nullptr) return ERROR_INTERNET_INVALID_CA;
  ::CertFreeCertificateContext(ours);
  return 0;
}

}  // namespace hvhttp
