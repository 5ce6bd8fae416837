// A complete host: copies one site and reports what happened. Built with the tests, so the
// README's example always compiles against the public header.
//
//   harvo_example_host http://127.0.0.1:8080/ mirror
#include <harvo.h>

#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s URL SAVE-FOLDER\n", argv[0]);
    return 2;
  }

  HvrOpenInfo open;
  open.Agent = "example-host/1.0";
  open.ConnectTimeout = 10000;  // milliseconds
  KtWdlManager* handle = nullptr;
  if (HvrOpen(&handle, &open) != 0) {
    std::fprintf(stderr, "cannot open a session (error %x)\n", static_cast<unsigned>(open.Error));
    HvrClose(&handle, &open);  // also after a failed open
    return 1;
  }

  HvrJobInfo job;  // lives until HvrEnd has returned: the worker writes its results into it
  job.SiteName = "example";
  job.Url = argv[1];
  job.SaveFolder = argv[2];
  job.Types = {".gif", ".jpg", ".png", ".css"};  // .html and .htm are always wanted
  int index = -1;
  if (HvrStart(&handle, &job, &index) != 0) {
    std::fprintf(stderr, "cannot start (error %x)\n", static_cast<unsigned>(job.Error));
    HvrEnd(&handle, &job, index);
    HvrClose(&handle, &open);
    return 1;
  }
  HvrLogStart(&job, "example-logs/job.log");

  char file[HVR_TEXT_BUFFER_SIZE];
  while (HvrIsDL(&handle, index) == 1) {
    if (HvrGetDLFileName(&handle, index, file) == 0) {
      std::printf("\r%4d saved  %-40.40s", HvrGetDLRestoredNum(&handle, index), file);
      std::fflush(stdout);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  int saved = HvrGetDLRestoredNum(&handle, index);
  int failed = HvrGetDLFailedNum(&handle, index);
  HvrEnd(&handle, &job, index);  // frees the job; the record's results stay readable
  std::printf("\n%d saved, %d failed, last error %x\n", saved, failed,
              static_cast<unsigned>(job.Error));
  HvrClose(&handle, &open);
  return failed == 0 ? 0 : 1;
}
