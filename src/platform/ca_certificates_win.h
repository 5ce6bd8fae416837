// The CA certificates of a PEM file that a WinInet session trusts besides the system's store.
// WinInet itself trusts the system's store only; a request of a session with a CA file is made
// without WinInet's check of the issuer (host name and dates are still WinInet's to check), and
// the chain the server showed is then checked here: trusted when the system's store trusts it
// or when it leads up to one of the file's certificates.
#ifndef HARVO_PLATFORM_CA_CERTIFICATES_WIN_H
#define HARVO_PLATFORM_CA_CERTIFICATES_WIN_H

#include <string>

// http.h before the Windows headers, whose macros take the names of its flags.
#include "platform/http.h"
#include "platform/win32.h"
// wincrypt.h and wininet.h after windows.h.
#include <wincrypt.h>
#include <wininet.h>

namespace hvhttp {

class CaCertificates {
 public:
  // Reads every "BEGIN CERTIFICATE" block of the file. Throws CInternetException when the file
  // cannot be read or holds no certificate.
  explicit CaCertificates(const std::string& path);
  ~CaCertificates();
  CaCertificates(const CaCertificates&) = delete;
  CaCertificates& operator=(const CaCertificates&) = delete;

  // The security flags a request of the session adds: the issuer and revocation checks are
  // this object's (a CA of one's own publishes no revocation list).
  static constexpr DWORD kRequestFlags =
      SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_REVOCATION;

  // After a request over TLS has been sent: 0 when the server's chain is trusted, else the
  // WinInet error that tells why not (ERROR_INTERNET_INVALID_CA,
  // ERROR_INTERNET_SEC_CERT_DATE_INVALID, ERROR_INTERNET_SEC_INVALID_CERT).
  DWORD Check(HINTERNET request) const;

  int count() const { return count_; }

 private:
  HCERTSTORE store_ = nullptr;
  int count_ = 0;
};

}  // namespace hvhttp

#endif  // HARVO_PLATFORM_CA_CERTIFICATES_WIN_H
