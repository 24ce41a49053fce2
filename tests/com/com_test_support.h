#pragma once
// The fixture of the COM server tests, which checks that every test leaves no
// object of the server alive, with the owned BSTRs and references of
// com_objects.h.

#include <gtest/gtest.h>

#include <cstdint>

#include "com/server_entry_points.h"
#include "tests/com/com_objects.h"

namespace comtest {

// An HRESULT as the unsigned value its documentation writes.
inline uint32_t u32(HRESULT result) { return static_cast<uint32_t>(result); }

// Every test starts and ends with no lock held and no object alive: a
// reference count left unbalanced shows as a failure of its test.
class ComServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(DllCanUnloadNow(), S_OK) << "an earlier test left objects alive"; }
  void TearDown() override { EXPECT_EQ(DllCanUnloadNow(), S_OK) << "objects of the server are still alive"; }
};

}  // namespace comtest
