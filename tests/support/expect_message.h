#pragma once
// Asserts that a call throws a given type with a given message: an exception
// class through what(), or a plain std::string thrown by value.

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

template <typename Thrown, typename Call>
void expectThrowMessage(Call&& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected the failure \"" << message << "\"";
  } catch (const Thrown& thrown) {
    if constexpr (std::is_same_v<Thrown, std::string>)
      EXPECT_EQ(thrown, message);
    else
      EXPECT_EQ(std::string(thrown.what()), message);
  }
}
