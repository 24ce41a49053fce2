#pragma once
// The error of feature objects, their streams and the signature data built
// from them. Every message carries the prefix "CFeatureObject: ".

#include <exception>
#include <string>

class FeatureObjException : public std::exception {
 public:
  explicit FeatureObjException(const char* message) : message(std::string("CFeatureObject: ") + message) {}

  const char* what() const noexcept override { return message.c_str(); }

  std::string message;
};
