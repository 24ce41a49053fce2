#pragma once
// The exception with one message text that the signature, similarity and
// session layers throw for failed operations. Thrown by value.

#include <exception>
#include <string>

class StandardException : public std::exception {
 public:
  explicit StandardException(const std::string& message) : message(message) {}

  const char* what() const noexcept override { return message.c_str(); }

  std::string message;
};
