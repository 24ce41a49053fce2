#pragma once
// Asserts that a call fails a vector-library check with the given message and
// the header and line that report it, or, for the few operations that throw a
// plain std::string, with the given text.

#include <gtest/gtest.h>

#include <string>

#include "metadata/sources/vmtl/vmtl_exception.h"

template <typename Call>
void expectVmtlFailure(Call&& call, const std::string& message, const std::string& header, int line) {
  try {
    call();
    ADD_FAILURE() << "expected VMTLException \"" << message << "\"";
  } catch (const VMTLException& e) {
    EXPECT_EQ(e.message, message);
    EXPECT_STREQ(e.what(), message.c_str());
    EXPECT_EQ(e.file, std::string("metadata\\sources\\vmtl\\") + header);
    EXPECT_EQ(e.line, line);
  }
}

template <typename Call>
void expectVmtlStringFailure(Call&& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected the std::string \"" << message << "\"";
  } catch (const std::string& thrown) {
    EXPECT_EQ(thrown, message);
  }
}
