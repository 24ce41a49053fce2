#pragma once
// A failure in a user's terms: one line that a host prints as it is, and
// the way library calls become such lines.

#include <stdexcept>
#include <string>

#include "examples/signature_listing.h"

class HostFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Runs call; anything it throws but a HostFailure becomes one: what was
// being done, then the text of what was thrown.
template <typename Call>
auto step(const std::string& what, Call&& call) -> decltype(call()) {
  try {
    return call();
  } catch (const HostFailure&) {
    throw;
  } catch (...) {
    throw HostFailure(what + ": " + describeCurrentException());
  }
}
