#include "platform/new_file.h"

#include <algorithm>
#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

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
  start(reinterpret_cast<std::intptr_t>(file), mode);
  return NewName::Made;
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
  if (whole) whole = FlushFileBuffers(handleOf(handle)) != 0;
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
  start(file, mode);
  return NewName::Made;
}

bool NewFile::writeAll(const char* data, std::size_t count) {
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
  if (whole) whole = fsync(static_cast<int>(handle)) == 0;
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

void NewFile::start(std::intptr_t made, Mode mode) {
  handle = made;
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
