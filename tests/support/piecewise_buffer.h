#pragma once
// A source that hands its bytes over a few at a time and never takes back a
// byte of an earlier piece, as a refilled file buffer or a pipe. With seekable
// set it can seek (as a file can); without it, it cannot (as a pipe).

#include <algorithm>
#include <cstring>
#include <streambuf>
#include <vector>

class PiecewiseBuffer : public std::streambuf {
 public:
  PiecewiseBuffer(const std::vector<unsigned char>& bytes, std::size_t piece, bool seekable)
      : bytes(bytes), window(piece), seekable(seekable) {}

 protected:
  int_type underflow() override {
    if (next == bytes.size()) return traits_type::eof();
    const std::size_t n = std::min(window.size(), bytes.size() - next);
    std::memcpy(window.data(), bytes.data() + next, n);
    next += n;
    setg(window.data(), window.data(), window.data() + n);
    return traits_type::to_int_type(window[0]);
  }

  pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode) override {
    if (!seekable) return pos_type(off_type(-1));
    const off_type here = static_cast<off_type>(next) - (egptr() - gptr());
    const off_type base = dir == std::ios_base::beg ? 0 : dir == std::ios_base::cur ? here : off_type(bytes.size());
    const off_type target = base + offset;
    if (target < 0 || target > static_cast<off_type>(bytes.size())) return pos_type(off_type(-1));
    next = static_cast<std::size_t>(target);
    setg(window.data(), window.data(), window.data());
    return pos_type(target);
  }

  pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
    return seekoff(off_type(position), std::ios_base::beg, which);
  }

 private:
  std::vector<unsigned char> bytes;
  std::vector<char> window;
  bool seekable;
  std::size_t next = 0;
};
