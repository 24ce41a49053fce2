#include "examples/result_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "examples/host_failure.h"

namespace {

std::optional<int> writeFailure;

}  // namespace

void openClosedStandardDescriptors() {
  // Each open takes the lowest free number: the closed descriptor's, as the
  // ones below it are open by then.
  for (int standard : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
    if (fcntl(standard, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDWR);
}

void flushResults(std::FILE* stream) {
  if (std::fflush(stream) == 0 && std::ferror(stream) == 0) return;
  if (!writeFailure) writeFailure = errno != 0 ? errno : EIO;
}

int finishResults(const char* program, std::FILE* stream, int status) {
  flushResults(stream);
  if (!writeFailure) return status;
  std::fprintf(stderr, "%s: cannot write the results: %s\n", program, systemText(*writeFailure).c_str());
  return status == 0 ? 1 : status;
}

ResultOutput::ResultOutput() {
  openClosedStandardDescriptors();
  std::fflush(stdout);
  saved = dup(STDOUT_FILENO);
  if (saved < 0) return;
  std::FILE* stream = fdopen(saved, "w");
  if (stream == nullptr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    if (stream != nullptr) std::fclose(stream);
    else close(saved);
    saved = -1;
    return;
  }
  results = stream;
  // The library's lines now share the error stream with the host's
  // messages: line by line, they stay in the order they were written.
  setvbuf(stdout, nullptr, _IOLBF, 0);
}

ResultOutput::~ResultOutput() {
  if (saved < 0) return;
  std::fflush(stdout);
  std::fflush(results);
  dup2(fileno(results), STDOUT_FILENO);
  std::fclose(results);
}
