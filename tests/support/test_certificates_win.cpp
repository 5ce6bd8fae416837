// Under Wine the certificates come from scripts/test-servers, which made them with openssl for
// the run; the CA is added to the user's root store, the store WinInet trusts.
#include <windows.h>

#include <wincrypt.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/nginx_process.h"
#include "support/test_certificates.h"

namespace {

std::string CertificateFolder() {
  const char* folder = std::getenv("HARVO_TEST_SERVERS");
  return folder != nullptr ? "Z:" + std::string(folder) + "/certs/" : "";
}

// Adds the PEM certificate to the current user's root store (kept there: the Wine prefix of a
// test run is thrown away with the run, and the CA's key with the broker's folder).
void TrustCa(const std::string& pemFile) {
  const std::string pem = ReadFileText(pemFile);
  DWORD size = 0;
  if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            nullptr, &size, nullptr, nullptr)) {
    throw std::runtime_error("cannot read the test CA " + pemFile);
  }
  std::string der(size, '\0');
  CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                       reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr);
  HCERTSTORE store = CertOpenSystemStoreA(0, "ROOT");
  if (store == nullptr) throw std::runtime_error("cannot open the root store");
  BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                                reinterpret_cast<const BYTE*>(der.data()), size,
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(store, 0);
  if (!added) throw std::runtime_error("cannot add the test CA to the root store");
}

}  // namespace

bool TestCertificates::Available() {
  const std::string folder = CertificateFolder();
  return nginx_process::Available() && std::filesystem::is_regular_file(folder + "ca.pem");
}

TestCertificates::TestCertificates() {
  if (!Available()) throw std::runtime_error("no test certificates (scripts/test-servers)");
  const std::string folder = CertificateFolder();
  caFile_ = folder + "ca.pem";
  caKey_ = folder + "ca.key";
  TrustCa(caFile_);
  auto files = [&](const std::string& name) {
    return CertificateFiles{folder + name + ".pem", folder + name + ".key"};
  };
  good_ = files("good");
  expired_ = files("expired");
  wrongHost_ = files("wronghost");
  selfSigned_ = files("self");
}
