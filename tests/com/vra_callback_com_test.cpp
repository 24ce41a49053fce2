#include "com/vra_callback_com.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "api/vra_kivet_exception.h"
#include "tests/api/api_test_support.h"

using namespace vemra_kivet;
using apitest::expectCode;

namespace {

// A host callback that records which of its methods (by slot, 3 to 12) was
// called with which arguments. Its getters write "<e-acute> <slot> <id>" or
// slot * 100 + id, then answer `result` or throw as told.
class RecordingHost : public ICallback {
 public:
  enum class Failure { none, plain, coded };
  HRESULT result = S_OK;
  Failure failure = Failure::none;
  bool writeNothing = false;
  int slot = 0;
  std::string arguments;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE GetTitle(unsigned id, BSTR* out) override { return text(3, id, out); }
  HRESULT STDMETHODCALLTYPE GetArtist(unsigned id, BSTR* out) override { return text(4, id, out); }
  HRESULT STDMETHODCALLTYPE GetExtraText(unsigned id, BSTR* out) override { return text(5, id, out); }
  HRESULT STDMETHODCALLTYPE GetFileName(unsigned id, BSTR* out) override { return text(6, id, out); }
  HRESULT STDMETHODCALLTYPE GetLength(unsigned id, int* out) override { return number(7, id, out); }
  HRESULT STDMETHODCALLTYPE GetExtraNumber(unsigned id, int* out) override { return number(8, id, out); }
  HRESULT STDMETHODCALLTYPE GetExtraNumber2(unsigned id, int* out) override { return number(9, id, out); }
  HRESULT STDMETHODCALLTYPE OnIdChanged(unsigned oldId, unsigned newId) override {
    return answer(10, std::to_string(oldId) + " " + std::to_string(newId));
  }
  HRESULT STDMETHODCALLTYPE ReportProgress(float progress) override { return answer(11, std::to_string(progress)); }
  HRESULT STDMETHODCALLTYPE Notify(int notification) override { return answer(12, std::to_string(notification)); }

 private:
  HRESULT answer(int calledSlot, const std::string& args) {
    slot = calledSlot;
    arguments = args;
    if (failure == Failure::plain) throw std::runtime_error("host failure");
    if (failure == Failure::coded) throw vraKivetException(VRA_SESSION_FORMAT_MISMATCH);
    return result;
  }
  HRESULT text(int calledSlot, unsigned id, BSTR* out) {
    if (!writeNothing) {
      const std::string ascii = " " + std::to_string(calledSlot) + " " + std::to_string(id);
      *out = SysAllocStringLen(nullptr, static_cast<UINT>(ascii.size() + 1));
      (*out)[0] = 0xE9;
      for (size_t i = 0; i < ascii.size(); ++i) (*out)[i + 1] = static_cast<OLECHAR>(ascii[i]);
    }
    return answer(calledSlot, std::to_string(id));
  }
  HRESULT number(int calledSlot, unsigned id, int* out) {
    if (!writeNothing) *out = calledSlot * 100 + static_cast<int>(id);
    return answer(calledSlot, std::to_string(id));
  }
};

}  // namespace

TEST(VraCallbackCom, GettersCallTheirHostMethodAndJudgeItsResult) {
  RecordingHost host;
  vraCallbackCOM adapter(&host);
  // Each operation as text: getters of numbers print their value.
  const std::function<std::string(unsigned)> getters[] = {
      [&](unsigned id) { return std::string(adapter.getTitle(id)); },
      [&](unsigned id) { return std::string(adapter.getArtist(id)); },
      [&](unsigned id) { return std::string(adapter.getExtraText(id)); },
      [&](unsigned id) { return std::string(adapter.getFileName(id)); },
      [&](unsigned id) { return std::to_string(adapter.getLength(id)); },
      [&](unsigned id) { return std::to_string(adapter.getExtraNumber(id)); },
      [&](unsigned id) { return std::to_string(adapter.getExtraNumber2(id)); },
  };
  const struct {
    HRESULT result;
    RecordingHost::Failure failure;
    int code;  // 0: success
  } outcomes[] = {
      {S_OK, RecordingHost::Failure::none, 0},
      {S_FALSE, RecordingHost::Failure::none, 0},
      {E_OUTOFMEMORY, RecordingHost::Failure::none, 0},
      {E_NOTIMPL, RecordingHost::Failure::none, 19},
      {E_FAIL, RecordingHost::Failure::none, 18},
      {S_OK, RecordingHost::Failure::plain, 17},
      {S_OK, RecordingHost::Failure::coded, 5},
  };
  for (int k = 0; k < 7; ++k) {
    const int slot = k + 3;
    for (const auto& outcome : outcomes) {
      host.result = outcome.result;
      host.failure = outcome.failure;
      host.slot = 0;
      const unsigned id = 40 + static_cast<unsigned>(k);
      if (outcome.code != 0) {
        expectCode([&] { getters[k](id); }, outcome.code);
      } else {
        const std::string expected = k < 4 ? "\xE9 " + std::to_string(slot) + " " + std::to_string(id)
                                           : std::to_string(slot * 100 + static_cast<int>(id));
        EXPECT_EQ(getters[k](id), expected) << "slot " << slot;
      }
      EXPECT_EQ(host.slot, slot);
      EXPECT_EQ(host.arguments, std::to_string(id));
    }
  }
}

TEST(VraCallbackCom, TextsStayUntilTheSameOperationRunsAgain) {
  RecordingHost host;
  vraCallbackCOM adapter(&host);
  vraCallbackCOM other(&host);
  const char* title = adapter.getTitle(1);
  const char* artist = adapter.getArtist(2);
  EXPECT_STREQ(title, "\xE9 3 1");
  EXPECT_STREQ(artist, "\xE9 4 2");
  // Each adapter holds its own texts: another's call leaves them (sessions
  // of other threads have adapters of their own).
  EXPECT_STREQ(other.getTitle(3), "\xE9 3 3");
  EXPECT_STREQ(title, "\xE9 3 1");
  EXPECT_STREQ(artist, "\xE9 4 2");
  // A host that answers without a text gives the empty text.
  host.writeNothing = true;
  EXPECT_STREQ(adapter.getFileName(4), "");
  EXPECT_EQ(adapter.getLength(4), 0);
}

TEST(VraCallbackCom, NotificationsPassThrough) {
  RecordingHost host;
  vraCallbackCOM adapter(&host);
  host.result = E_FAIL;  // only the getters judge the result
  EXPECT_EQ(adapter.onIdChanged(2, 9), static_cast<int>(E_FAIL));
  EXPECT_EQ(host.slot, 10);
  EXPECT_EQ(host.arguments, "2 9");
  adapter.reportProgress(0.5f);
  EXPECT_EQ(host.slot, 11);
  EXPECT_EQ(host.arguments, "0.500000");
  adapter.notify(1);
  EXPECT_EQ(host.slot, 12);
  EXPECT_EQ(host.arguments, "1");
  host.failure = RecordingHost::Failure::plain;
  expectCode([&] { adapter.onIdChanged(1, 2); }, 17);
  expectCode([&] { adapter.reportProgress(1.0f); }, 17);
  expectCode([&] { adapter.notify(0); }, 17);
}
