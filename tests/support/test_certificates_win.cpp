// Under Wine the certificates come from scripts/test-servers, which made them with openssl for
// the run. The CA is trusted through the session's CA file, as on POSIX; it is never added to
// the system's store.
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
  sessionCaFile_ = caFile_;
  auto files = [&](const std::string& name) {
    return CertificateFiles{folder + name + ".pem", folder + name + ".key"};
  };
  good_ = files("good");
  expired_ = files("expired");
  wrongHost_ = files("wronghost");
  selfSigned_ = files("self");
}
