#pragma once
// The host callback of a COM session: implements vraICallback over the
// host's ICallback object, each operation calling the host method of the same
// place (getTitle the first, notify the last).
//
// For the getters the host's HRESULT decides: E_NOTIMPL raises code 19
// ("Callback error: Unknown ID"), E_FAIL code 18 ("Callback host-error"), any
// other result is success. Any exception other than a coded one while the
// host is called raises code 17.
//
// A text operation returns the host's text in 8-bit form, held by the
// adapter (one holder per text operation) until the next call of the same
// operation on it: adapters of sessions in different threads share nothing.
// The adapter takes no reference on the host object: the host keeps it alive
// while a session may call it. A session never frees its callback: the COM
// session that makes an adapter deletes it, as a vraCallbackCOM (vraICallback
// has no virtual destructor).

#include <string>

#include "api/kivet.h"
#include "com/kivet_local.h"

namespace vemra_kivet {

class vraCallbackCOM final : public vraICallback {
 public:
  explicit vraCallbackCOM(ICallback* host) : host(host) {}
  vraCallbackCOM(const vraCallbackCOM&) = delete;
  vraCallbackCOM& operator=(const vraCallbackCOM&) = delete;

  const char* getTitle(unsigned id) override;
  const char* getArtist(unsigned id) override;
  const char* getExtraText(unsigned id) override;
  const char* getFileName(unsigned id) override;
  int getLength(unsigned id) override;
  int getExtraNumber(unsigned id) override;
  int getExtraNumber2(unsigned id) override;
  // The host's result.
  int onIdChanged(unsigned oldId, unsigned newId) override;
  void reportProgress(float progress) override;
  void notify(int notification) override;

 private:
  // The last text one operation received: the host's BSTR, freed when the
  // next one comes (or with the adapter), and its 8-bit form, which the
  // library reads.
  struct TextHolder {
    BSTR received = nullptr;
    std::string text;

    TextHolder() = default;
    TextHolder(const TextHolder&) = delete;
    TextHolder& operator=(const TextHolder&) = delete;
    ~TextHolder();
  };

  ICallback* host;
  TextHolder title;
  TextHolder artist;
  TextHolder extraText;
  TextHolder fileName;
};

}  // namespace vemra_kivet
