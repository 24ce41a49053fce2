#include "platform/new_file.h"

#include <algorithm>
#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <optional>
#endif

namespace platform {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
// Read at a time when a file is copied.
constexpr std::size_t kCopyChunk = 64 * 1024;

// Text files end their lines in a carriage return and a line feed on
// Windows, in a line feed alone elsewhere.
constexpr bool kTextLinesEndInCrLf =
#ifdef _WIN32
    true;
#else
    false;
#endif

#ifdef _WIN32

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool nameTaken(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

#endif

}  // namespace

#ifdef _WIN32

NewName NewFile::create(const std::string& path, Mode mode) {
  closeHandle();
  // CREATE_NEW fails on any name that exists; a reparse point (a link) at
  // the name is the name itself, never followed.
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nameTaken(GetLastError()) ? NewName::Taken : NewName::Failed;
  start(reinterpret_cast<std::intptr_t>(file), mode, false);
  return NewName::Made;
}

bool NewFile::openStream(const WriteTarget& target, Mode mode) {
  closeHandle();
  const HANDLE file = CreateFileA(target.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  start(reinterpret_cast<std::intptr_t>(file), mode, true);
  return true;
}

// A file made new takes the folder's permissions; a read-only file is
// refused before one is made (mayWrite).
bool NewFile::takePermissionsOf(const std::string&) { return true; }

bool NewFile::copyFrom(const std::string& existing) {
  // A reparse point (a link) is opened as itself, and then is no file to copy.
  const HANDLE from =
      CreateFileA(existing.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (from == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  bool whole = GetFileType(from) == FILE_TYPE_DISK && GetFileInformationByHandle(from, &information) &&
               (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
  if (!whole) errno = EINVAL;
  std::vector<char> chunk(kCopyChunk);
  while (whole) {
    DWORD count = 0;
    whole = ReadFile(from, chunk.data(), static_cast<DWORD>(chunk.size()), &count, nullptr) != 0;
    if (!whole || count == 0) break;
    whole = xsputn(chunk.data(), count) == static_cast<std::streamsize>(count);
  }
  CloseHandle(from);
  return whole;
}

bool NewFile::writeAll(const char* data, std::size_t count) {
  while (count > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(handleOf(handle), data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    count -= written;
  }
  return true;
}

void NewFile::closeHandle() {
  if (isOpen()) CloseHandle(handleOf(handle));
  handle = -1;
}

bool NewFile::flushToDiskAndClose() {
  bool whole = isOpen() && drain() && !failed;
  // A pipe's buffers are flushed only once its reader has read them.
  if (whole && !stream) whole = FlushFileBuffers(handleOf(handle)) != 0;
  if (isOpen() && !CloseHandle(handleOf(handle))) whole = false;
  handle = -1;
  return whole;
}

NewFile::pos_type NewFile::seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode) {
  if (!isOpen() || !drain()) return pos_type(off_type(-1));
  const DWORD method = direction == std::ios_base::beg   ? FILE_BEGIN
                       : direction == std::ios_base::cur ? FILE_CURRENT
                                                         : FILE_END;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER position;
  if (!SetFilePointerEx(handleOf(handle), distance, &position, method)) return pos_type(off_type(-1));
  return pos_type(off_type(position.QuadPart));
}

NewName makeHardLink(const std::string& existing, const std::string& name) {
  if (CreateHardLinkA(name.c_str(), existing.c_str(), nullptr)) return NewName::Made;
  return nameTaken(GetLastError()) ? NewName::Taken : NewName::Failed;
}

#else

NewName NewFile::create(const std::string& path, Mode mode) {
  closeHandle();
  // O_EXCL refuses any name that exists, a symbolic link included, even one
  // that leads nowhere; O_NOFOLLOW says the same where O_EXCL alone is not
  // trusted to.
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (file < 0) return errno == EEXIST || errno == ELOOP ? NewName::Taken : NewName::Failed;
  start(file, mode, false);
  return NewName::Made;
}

bool NewFile::openStream(const WriteTarget& target, Mode mode) {
  closeHandle();
  int file;
  if (target.descriptor >= 0) {
    file = fcntl(target.descriptor, F_DUPFD_CLOEXEC, 0);
    // Open for reading only, it would fail every write: refused at once.
    if (file >= 0 && (fcntl(file, F_GETFL) & O_ACCMODE) == O_RDONLY) {
      close(file);
      errno = EBADF;
      return false;
    }
  } else {
    // O_APPEND: an open file reached through another process's descriptor
    // gets the bytes after what that descriptor wrote.
    do {
      file = open(target.path.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC);
    } while (file < 0 && errno == EINTR);
  }
  if (file < 0) return false;
  start(file, mode, true);
  return true;
}

bool NewFile::takePermissionsOf(const std::string& existing) {
  struct stat status {};
  if (stat(existing.c_str(), &status) != 0) return errno == ENOENT;
  const int file = static_cast<int>(handle);
  // Owner and group before the bits, as a change of either clears the
  // set-id bits. Only root gives a file another owner, and others give it
  // only a group they are members of: what the caller may not set stays its
  // own, which no failure of the save is worth.
  if (fchown(file, status.st_uid, status.st_gid) != 0) (void)!fchown(file, static_cast<uid_t>(-1), status.st_gid);
  return fchmod(file, status.st_mode & 07777) == 0;
}

bool NewFile::copyFrom(const std::string& existing) {
  const int from = open(existing.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (from < 0) return false;
  struct stat status {};
  bool whole = fstat(from, &status) == 0;
  if (whole && !S_ISREG(status.st_mode)) {
    errno = EINVAL;
    whole = false;
  }
  std::vector<char> chunk(kCopyChunk);
  while (whole) {
    const ssize_t count = read(from, chunk.data(), chunk.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      whole = count == 0;
      break;
    }
    whole = xsputn(chunk.data(), count) == count;
  }
  const int error = errno;
  close(from);
  errno = error;
  return whole;
}

namespace {

// A pipe whose reader has gone answers a write with SIGPIPE, which would end
// the host. Held back while the write runs and taken away again unless it
// was pending before, it leaves the write's failure alone (EPIPE).
class PipeSignalHeld {
 public:
  PipeSignalHeld() {
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    pendingBefore = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe, &previous);
  }
  PipeSignalHeld(const PipeSignalHeld&) = delete;
  PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;
  ~PipeSignalHeld() {
    const int error = errno;
    sigset_t pending;
    if (!pendingBefore && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
      const timespec now{};
      sigtimedwait(&pipe, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
  }

 private:
  sigset_t pipe;
  sigset_t previous;
  bool pendingBefore = false;
};

}  // namespace

bool NewFile::writeAll(const char* data, std::size_t count) {
  std::optional<PipeSignalHeld> held;
  if (stream) held.emplace();
  while (count > 0) {
    const ssize_t written = write(static_cast<int>(handle), data, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    data += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

void NewFile::closeHandle() {
  if (isOpen()) close(static_cast<int>(handle));
  handle = -1;
}

bool NewFile::flushToDiskAndClose() {
  bool whole = isOpen() && drain() && !failed;
  if (whole && !stream) whole = fsync(static_cast<int>(handle)) == 0;
  // The reason a failed write or flush gave outlives the close.
  const int error = errno;
  if (isOpen() && close(static_cast<int>(handle)) != 0) whole = false;
  else errno = error;
  handle = -1;
  return whole;
}

NewFile::pos_type NewFile::seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode) {
  if (!isOpen() || !drain()) return pos_type(off_type(-1));
  const int whence = direction == std::ios_base::beg ? SEEK_SET : direction == std::ios_base::cur ? SEEK_CUR : SEEK_END;
  const off_t position = lseek(static_cast<int>(handle), static_cast<off_t>(offset), whence);
  return pos_type(off_type(position));
}

NewName makeHardLink(const std::string& existing, const std::string& name) {
  // Without AT_SYMLINK_FOLLOW a symbolic link at existing is linked itself.
  if (linkat(AT_FDCWD, existing.c_str(), AT_FDCWD, name.c_str(), 0) == 0) return NewName::Made;
  return errno == EEXIST ? NewName::Taken : NewName::Failed;
}

#endif

NewFile::~NewFile() { closeHandle(); }

void NewFile::start(std::intptr_t opened, Mode mode, bool isStream) {
  handle = opened;
  stream = isStream;
  crlf = mode == Mode::Text && kTextLinesEndInCrLf;
  failed = false;
  buffer.assign(kBufferSize, '\0');
  setp(buffer.data(), buffer.data() + buffer.size());
}

bool NewFile::isOpen() const { return handle != -1; }

bool NewFile::drain() {
  const std::size_t count = static_cast<std::size_t>(pptr() - pbase());
  setp(buffer.data(), buffer.data() + buffer.size());
  if (count == 0 || failed) return !failed;
  if (!writeAll(buffer.data(), count)) failed = true;
  return !failed;
}

NewFile::int_type NewFile::overflow(int_type c) {
  if (!isOpen() || !drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char ch = traits_type::to_char_type(c);
  return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
}

std::streamsize NewFile::xsputn(const char* data, std::streamsize count) {
  if (!isOpen() || failed) return 0;
  std::streamsize put = 0;
  while (put < count) {
    if (pptr() == epptr() && !drain()) return put;
    if (crlf && data[put] == '\n') {
      // The pair goes into the buffer whole.
      if (epptr() - pptr() < 2 && !drain()) return put;
      *pptr() = '\r';
      pbump(1);
    }
    const char* end = data + count;
    const char* stop = crlf ? std::find(data + put, std::min(end, data + put + (epptr() - pptr())), '\n') : end;
    std::streamsize run = std::min<std::streamsize>(stop - (data + put), epptr() - pptr());
    // A line feed itself, when the run would hold nothing else.
    if (run == 0) run = 1;
    std::copy_n(data + put, run, pptr());
    pbump(static_cast<int>(run));
    put += run;
  }
  return put;
}

int NewFile::sync() { return isOpen() && drain() ? 0 : -1; }

NewFile::pos_type NewFile::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

}  // namespace platform
