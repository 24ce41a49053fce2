#include "api/vra_kivet_exception.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

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

// The header a host reads lists every code beside vraKivetException: each
// code once, with exactly the message what() gives, and no message for a
// code that has none.
TEST(VraKivetException, InterfaceHeaderListsEveryCodeWithItsMessage) {
  std::ifstream header(KIVET_INTERFACE_HEADER);
  ASSERT_TRUE(header.is_open()) << KIVET_INTERFACE_HEADER;
  // A row opens an entry: the code right-aligned in four columns after "//",
  // two blanks, then the quoted message or "no message".
  const std::regex row(R"(^//(?: {4}(\d)| {3}(\d\d))  (.*)$)");
  std::map<int, std::vector<std::string>> rows;
  std::string line;
  while (std::getline(header, line)) {
    std::smatch m;
    if (std::regex_match(line, m, row)) rows[std::stoi(m[1].matched ? m[1].str() : m[2].str())].push_back(m[3]);
  }
  ASSERT_FALSE(rows.empty());
  EXPECT_LT(rows.rbegin()->first, kVraErrorCodeCount) << "a code beyond the table";
  for (int code = 0; code < kVraErrorCodeCount; ++code) {
    const std::string message = vraKivetException(code).what();
    const std::vector<std::string>& texts = rows[code];
    ASSERT_EQ(texts.size(), 1u) << "code " << code;
    if (message.empty())
      EXPECT_EQ(texts.front().rfind("no message", 0), 0u) << "code " << code << ": " << texts.front();
    else
      EXPECT_EQ(texts.front(), '"' + message + '"') << "code " << code;
  }
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
