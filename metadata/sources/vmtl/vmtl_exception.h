#pragma once
// The exception of the vector and matrix library. Every check records the
// library header that made it and the line of the check, so that a report names
// the place of the check in a stable form whatever the build.

#include <exception>
#include <string>
#include <utility>

class VMTLException : public std::exception {
 public:
  VMTLException(std::string message, std::string file, int line)
      : message(std::move(message)), file(std::move(file)), line(line) {}

  const char* what() const noexcept override { return message.c_str(); }

  std::string message;
  std::string file;
  int line;
};

namespace vmtl {

// Header names as the checks report them.
inline constexpr const char* kBaseVectorHeader = "metadata\\sources\\vmtl\\base_vector";
inline constexpr const char* kBaseMatrixHeader = "metadata\\sources\\vmtl\\base_matrix";
inline constexpr const char* kHeapMatrixHeader = "metadata\\sources\\vmtl\\heap_matrix";
inline constexpr const char* kVectorOpsHeader = "metadata\\sources\\vmtl\\vector_ops";
inline constexpr const char* kVectorFuncHeader = "metadata\\sources\\vmtl\\vector_func";
inline constexpr const char* kMatrixOpsHeader = "metadata\\sources\\vmtl\\matrix_ops";
inline constexpr const char* kMatrixFuncHeader = "metadata\\sources\\vmtl\\matrix_func";
inline constexpr const char* kOperationsHeader = "metadata\\sources\\vmtl\\operations";
inline constexpr const char* kTypeInfoHeader = "metadata\\sources\\vmtl\\type_info";
inline constexpr const char* kWindowHeader = "metadata\\sources\\vmtl\\window";
inline constexpr const char* kFftWrapperHeader = "metadata\\sources\\vmtl\\fft_wrapper";

[[noreturn]] inline void fail(const char* message, const char* header, int line) {
  throw VMTLException(message, header, line);
}

}  // namespace vmtl
