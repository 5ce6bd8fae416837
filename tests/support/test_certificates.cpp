#include "support/test_certificates.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

extern char** environ;

namespace {

constexpr const char* kOpenssl = "/usr/bin/openssl";

// Runs openssl with the arguments, its output thrown away; throws when it fails.
void Openssl(const std::vector<std::string>& args, const std::string& errorLog) {
  std::vector<std::string> all{kOpenssl};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, kOpenssl, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot run openssl (scripts/setup)");
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("openssl " + args.front() + " failed: " + ReadFileText(errorLog));
  }
}

const std::vector<std::string> kNewKey = {"-newkey", "ec", "-pkeyopt",
                                          "ec_paramgen_curve:prime256v1", "-nodes"};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

bool TestCertificates::Available() {
  return access(kOpenssl, X_OK) == 0;
}

TestCertificates::TestCertificates() {
  caFile_ = dir_ / "ca.pem";
  sessionCaFile_ = caFile_;
  caKey_ = dir_ / "ca.key";
  Openssl(Join({"req", "-x509"},
               Join(kNewKey, {"-keyout", caKey_, "-out", caFile_, "-days", "2", "-subj",
                              "/CN=Harvo Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
                              "-addext", "keyUsage=critical,keyCertSign,cRLSign"})),
          dir_ / "openssl.log");
  good_ = Signed("good", "IP:127.0.0.1", 2);
  // A negative day count makes a certificate whose validity ended a day before it began.
  expired_ = Signed("expired", "IP:127.0.0.1", -1);
  wrongHost_ = Signed("wronghost", "DNS:other.example", 2);
  selfSigned_ = {dir_ / "self.pem", dir_ / "self.key"};
  Openssl(Join({"req", "-x509"},
               Join(kNewKey, {"-keyout", selfSigned_.key, "-out", selfSigned_.cert, "-days", "2",
                              "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"})),
          dir_ / "openssl.log");
}

CertificateFiles TestCertificates::Signed(const std::string& name, const std::string& altName,
                                          int days) {
  CertificateFiles files{dir_ / (name + ".pem"), dir_ / (name + ".key")};
  const std::string request = dir_ / (name + ".csr");
  const std::string extensions = dir_ / (name + ".ext");
  WriteFileText(extensions, "subjectAltName=" + altName + "\nbasicConstraints=CA:FALSE\n");
  Openssl(Join({"req", "-new"}, Join(kNewKey, {"-keyout", files.key, "-out", request, "-subj",
                                               "/CN=" + altName.substr(altName.find(':') + 1)})),
          dir_ / "openssl.log");
  Openssl({"x509", "-req", "-in", request, "-CA", caFile_, "-CAkey", caKey_, "-CAcreateserial",
           "-out", files.cert, "-days", std::to_string(days), "-extfile", extensions},
          dir_ / "openssl.log");
  return files;
}
