#include "api/vra_kivet_exception.h"

#include <gtest/gtest.h>

#include <string>

using namespace vemra_kivet;

TEST(VraKivetException, MessageTableByCode) {
  // Written out from the table of error codes; codes without a row are empty.
  const char* const expected[30] = {
      "", "Unknown Error", "Failed to open file", "Failed to save file", "File doesn't exist",
      "Session format missmatch", "Invalid signature", "Invalid session", "Signature not initialized",
      "Out of memory", "Index exceeds dimension", "Signature ID doesn't exist", "Loading shared library failed",
      "Invalid buffer", "Invalid parameter", "Memory Error", "No Metadata / Callback",
      "Error in Callback Interface", "Callback host-error", "Callback error: Unknown ID", "Session not initialized",
      "", "", "Invalid Object", "", "ID not in whitelist", "Invalid Whitelist", "Session too small",
      "UTF-8 conversion error", "Corrupted Session"};
  for (int code = 0; code < 30; ++code) {
    const vraKivetException e(code);
    EXPECT_EQ(e.getCode(), code);
    EXPECT_EQ(std::string(e.what()), expected[code]) << "code " << code;
  }
  EXPECT_STREQ(vraKivetException(-1).what(), "");
  EXPECT_STREQ(vraKivetException(30).what(), "");
}

TEST(VraKivetException, CaughtAsStandardException) {
  try {
    throw vraKivetException(VRA_SESSION_FORMAT_MISMATCH);
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Session format missmatch");
  }
}

TEST(VraKivetException, NotificationNames) {
  EXPECT_STREQ(notificationName(0), "General Notification");
  EXPECT_STREQ(notificationName(1), "Newer file version");
  try {
    notificationName(2);
    ADD_FAILURE() << "index 2 must be refused";
  } catch (const vraKivetException& e) {
    EXPECT_EQ(e.getCode(), 14);
  }
}

TEST(KivetVersion, MainAndSub) {
  EXPECT_EQ(GetMainVersion(), 0u);
  EXPECT_EQ(GetSubVersion(), 91u);
  EXPECT_EQ(std::to_string(GetMainVersion()) + std::to_string(GetSubVersion()), "091");
}
