#pragma once
// The COM object of a song (ISong): forwards each method to a vraISong,
// converting texts between BSTRs and 8-bit text.
//
// A song of the session is the wrapper's own and is released with it. The
// song of a signature belongs to the signature: its wrapper shares the
// signature object's reference count, so a host that holds the song keeps the
// whole signature alive, and the signature object deletes the wrapper when it
// goes.

#include "api/kivet.h"
#include "com/co_object.h"
#include "com/kivet_local.h"

namespace vemra_kivet {

class coSong : public coObject<ISong, IID_ISong> {
 public:
  // Takes over the caller's reference on `song`.
  explicit coSong(vraISong* song);
  // The song of a signature: `owner` is the signature object, whose count
  // this wrapper's AddRef and Release change.
  coSong(vraISong* song, IUnknown* owner);

  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetId(unsigned int* id) override;
  HRESULT STDMETHODCALLTYPE GetTitle(BSTR* title) override;
  HRESULT STDMETHODCALLTYPE GetTitleLatin1(BSTR* title) override;
  HRESULT STDMETHODCALLTYPE GetArtist(BSTR* artist) override;
  HRESULT STDMETHODCALLTYPE GetArtistLatin1(BSTR* artist) override;
  HRESULT STDMETHODCALLTYPE GetExtraText(BSTR* text) override;
  HRESULT STDMETHODCALLTYPE GetExtraTextLatin1(BSTR* text) override;
  HRESULT STDMETHODCALLTYPE GetFileName(BSTR* fileName) override;
  HRESULT STDMETHODCALLTYPE GetFileNameLatin1(BSTR* fileName) override;
  HRESULT STDMETHODCALLTYPE GetLength(int* milliseconds) override;
  HRESULT STDMETHODCALLTYPE GetSongValue(int* value) override;
  HRESULT STDMETHODCALLTYPE SetTitle(BSTR title) override;
  HRESULT STDMETHODCALLTYPE SetArtist(BSTR artist) override;
  HRESULT STDMETHODCALLTYPE SetExtraText(BSTR text) override;
  HRESULT STDMETHODCALLTYPE SetFileName(BSTR fileName) override;

 private:
  friend class coSignature;
  ~coSong() override;

  using TextGetter = const char* (vraISong::*)(bool);
  using TextSetter = void (vraISong::*)(const char*);
  using NumberGetter = int (vraISong::*)();
  HRESULT getText(TextGetter getter, bool latin1, BSTR* out);
  HRESULT setText(TextSetter setter, BSTR text);
  HRESULT getNumber(NumberGetter getter, int* out);

  vraISong* song;
  // The signature object this song belongs to; null for a song of its own.
  IUnknown* owner;
};

}  // namespace vemra_kivet
