#include "com/co_kivet_local.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

#include "com/com_result.h"
#include "tests/api/api_test_support.h"
#include "tests/com/com_test_support.h"

using namespace vemra_kivet;
using comtest::Bstr;
using comtest::ComRef;
using comtest::u32;

namespace {

class CoKivetLocal : public comtest::ComServerTest {
 protected:
  void SetUp() override {
    ComServerTest::SetUp();
    local = new coKivetLocal;
  }
  void TearDown() override {
    EXPECT_EQ(local->Release(), 0u);
    ComServerTest::TearDown();
  }
  IKivetLocal* local = nullptr;
};

}  // namespace

TEST(ComResult, ExceptionsBecomeHresults) {
  const struct {
    void (*work)();
    uint32_t result;
  } cases[] = {
      {[] {}, 0},
      {[] { throw vraKivetException(VRA_SIGNATURE_ID_DOES_NOT_EXIST); }, 0x8004020Bu},
      {[] { throw vraKivetException(VRA_NO_ERROR); }, 0x80040200u},
      {[] { throw vraKivetException(VRA_CORRUPTED_SESSION); }, 0x8004021Du},
      {[] { throw std::bad_alloc(); }, 0x80040201u},
      {[] { throw std::string("plain text"); }, 0x80040201u},
      {[] { throw -3; }, 0x80040201u},
  };
  for (const auto& c : cases) EXPECT_EQ(u32(comCall(c.work)), c.result);
}

TEST_F(CoKivetLocal, ErrorMessagesOfHresults) {
  const struct {
    uint32_t asked;
    uint32_t result;
    const char16_t* message;  // null: none given
  } cases[] = {
      {0x80040200u, 0, u"No error"},
      {0x80040205u, 0, u"Session format missmatch"},
      {0x80040215u, 0, u""},  // code 21 has no message
      {0x8004021Du, 0, u"Corrupted Session"},
      {0x00000205u, 0, u"Session format missmatch"},  // only the low 12 bits count
      {0x80004005u, 0x8004020Eu, nullptr},
      {0x8004021Eu, 0x8004020Eu, nullptr},
      {0x800401FFu, 0x8004020Eu, nullptr},
  };
  for (const auto& c : cases) {
    Bstr message;
    EXPECT_EQ(u32(local->GetErrorMessage(static_cast<HRESULT>(c.asked), message.out())), c.result) << c.asked;
    EXPECT_EQ(message.get() == nullptr, c.message == nullptr);
    if (c.message) {
      EXPECT_EQ(message.str(), c.message) << c.asked;
    }
  }
  // Every code's HRESULT gives back the code's message.
  for (int code = 1; code < kVraErrorCodeCount; ++code) {
    Bstr message;
    ASSERT_EQ(local->GetErrorMessage(hresultOfCode(code), message.out()), S_OK);
    const std::string expected = errorMessage(code);
    EXPECT_EQ(message.str(), std::u16string(expected.begin(), expected.end())) << code;
  }
  EXPECT_EQ(local->GetErrorMessage(0, nullptr), E_POINTER);
}

TEST_F(CoKivetLocal, VersionAndEventNames) {
  unsigned mainVersion = 7, subVersion = 7;
  EXPECT_EQ(local->GetVersion(&mainVersion, &subVersion), S_OK);
  EXPECT_EQ(mainVersion * 1000 + subVersion, 91u);
  EXPECT_EQ(local->GetVersion(&mainVersion, nullptr), E_POINTER);
  Bstr name;
  EXPECT_EQ(local->GetEventName(1, name.out()), S_OK);
  EXPECT_EQ(name.str(), u"Newer file version");
  EXPECT_EQ(u32(local->GetEventName(2, name.out())), 0x8004020Eu);
  EXPECT_EQ(name.get(), nullptr);
}

TEST_F(CoKivetLocal, CreateSignature) {
  const struct {
    std::string path;
    uint32_t result;
  } cases[] = {
      {apitest::writeFile("raw.xml", apitest::rawFramesConfig()), 0},
      {apitest::tempPath("missing.xml"), 0x80040204u},  // code 4
      {apitest::writeFile("none.xml", apitest::rawFramesConfig("")), 0x8004020Eu},  // no frame length: 14
  };
  for (const auto& c : cases) {
    ComRef<ISignature> signature;
    EXPECT_EQ(u32(local->CreateSignature(comtest::asciiBstr(c.path).get(), 44100, signature.out())), c.result)
        << c.path;
    EXPECT_EQ(signature.get() != nullptr, c.result == 0) << c.path;
  }
  EXPECT_EQ(local->CreateSignature(nullptr, 44100, nullptr), E_POINTER);
}

// A null path reads no configuration; an empty one names a file that is not
// there, which the configuration reader reports without a code.
TEST_F(CoKivetLocal, CreateSessionAndIdList) {
  const std::string config = apitest::writeFile("similarity.xml", "<session/>");
  const std::string missing = apitest::tempPath("missing.xml"), empty;
  const std::pair<const std::string*, uint32_t> cases[] = {
      {&config, 0}, {nullptr, 0}, {&empty, 0x80040201u}, {&missing, 0x80040201u}};
  for (const auto& [given, result] : cases) {
    ComRef<ISession> session;
    const Bstr path = given != nullptr ? comtest::asciiBstr(*given) : Bstr();
    EXPECT_EQ(u32(local->CreateSession(path.get(), 0, session.out())), result);
    EXPECT_EQ(session.get() != nullptr, result == 0);
  }
  EXPECT_EQ(local->CreateSession(nullptr, 1, nullptr), E_POINTER);
  ComRef<IIDList> ids;
  unsigned count = 7;
  ASSERT_EQ(local->CreateIDList(ids.out()), S_OK);
  EXPECT_EQ(ids->GetCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(local->CreateIDList(nullptr), E_POINTER);
}
