// Throw-away TLS certificates made with openssl when a test asks for them: a CA, and server
// certificates for 127.0.0.1 signed by it (a good one, an expired one, one for another host
// name) besides a self-signed one. Everything lives in a temporary folder removed with the
// object. On Windows (tests under Wine) the files are those that scripts/test-servers made for
// the run.
#ifndef HARVO_TESTS_SUPPORT_TEST_CERTIFICATES_H
#define HARVO_TESTS_SUPPORT_TEST_CERTIFICATES_H

#include <string>

#include "support/temp_dir.h"

struct CertificateFiles {
  std::string cert;  // PEM certificate
  std::string key;   // PEM private key, unencrypted
};

class TestCertificates {
 public:
  // Throws std::runtime_error when openssl is missing or fails.
  TestCertificates();
  TestCertificates(const TestCertificates&) = delete;
  TestCertificates& operator=(const TestCertificates&) = delete;

  const std::string& caFile() const { return caFile_; }
  // What a session is given as its CA file to trust the CA (caFile()).
  const std::string& sessionCaFile() const { return sessionCaFile_; }
  const CertificateFiles& good() const { return good_; }
  const CertificateFiles& expired() const { return expired_; }
  const CertificateFiles& wrongHost() const { return wrongHost_; }
  const CertificateFiles& selfSigned() const { return selfSigned_; }

  static bool Available();

 private:
  CertificateFiles Signed(const std::string& name, const std::string& altName, int days);
  TempDir dir_;
  std::string caFile_;
  std::string sessionCaFile_;
  std::string caKey_;
  CertificateFiles good_, expired_, wrongHost_, selfSigned_;
};

#endif  // HARVO_TESTS_SUPPORT_TEST_CERTIFICATES_H
