#include "com/co_song.h"

#include <string>

#include "com/bstr_conversion.h"

namespace vemra_kivet {

coSong::coSong(vraISong* song) : song(song), owner(nullptr) {}

coSong::coSong(vraISong* song, IUnknown* owner) : song(song), owner(owner) {}

coSong::~coSong() {
  if (owner == nullptr) song->release();
}

ULONG coSong::AddRef() { return owner != nullptr ? owner->AddRef() : coObject::AddRef(); }

ULONG coSong::Release() { return owner != nullptr ? owner->Release() : coObject::Release(); }

HRESULT coSong::getText(TextGetter getter, bool latin1, BSTR* out) {
  return comCallOut(out, [&] { *out = textToBstr((song->*getter)(latin1)); });
}

HRESULT coSong::setText(TextSetter setter, BSTR text) {
  return comCall([&] { (song->*setter)(bstrToText(text).c_str()); });
}

HRESULT coSong::getNumber(NumberGetter getter, int* out) {
  return comCallOut(out, [&] { *out = (song->*getter)(); });
}

HRESULT coSong::GetId(unsigned int* id) {
  return comCallOut(id, [&] { *id = song->getId(); });
}

HRESULT coSong::GetTitle(BSTR* title) { return getText(&vraISong::getTitle, false, title); }
HRESULT coSong::GetTitleLatin1(BSTR* title) { return getText(&vraISong::getTitle, true, title); }
HRESULT coSong::GetArtist(BSTR* artist) { return getText(&vraISong::getArtist, false, artist); }
HRESULT coSong::GetArtistLatin1(BSTR* artist) { return getText(&vraISong::getArtist, true, artist); }
HRESULT coSong::GetExtraText(BSTR* text) { return getText(&vraISong::getExtraText, false, text); }
HRESULT coSong::GetExtraTextLatin1(BSTR* text) { return getText(&vraISong::getExtraText, true, text); }
HRESULT coSong::GetFileName(BSTR* fileName) { return getText(&vraISong::getFileName, false, fileName); }
HRESULT coSong::GetFileNameLatin1(BSTR* fileName) { return getText(&vraISong::getFileName, true, fileName); }

HRESULT coSong::GetLength(int* milliseconds) { return getNumber(&vraISong::getLength, milliseconds); }

HRESULT coSong::GetSongValue(int* value) { return getNumber(&vraISong::getExtraNumber2, value); }

HRESULT coSong::SetTitle(BSTR title) { return setText(&vraISong::setTitle, title); }
HRESULT coSong::SetArtist(BSTR artist) { return setText(&vraISong::setArtist, artist); }
HRESULT coSong::SetExtraText(BSTR text) { return setText(&vraISong::setExtraText, text); }
HRESULT coSong::SetFileName(BSTR fileName) { return setText(&vraISong::setFileName, fileName); }

}  // namespace vemra_kivet
