// A COM host of KivetLocal.dll, as a real client sees the server: through the
// registry, CoCreateInstance and the interfaces of com/kivet_local.h only
// (it links nothing of the library). scripts/test-windows.sh registers the
// installed server with regsvr32, runs this program under Wine and
// unregisters it.
//
//   kivet_com_client clsid                prints the class id
//   kivet_com_client multithreaded        a main thread in the multithreaded
//                                         apartment: exits 0 when it cannot
//                                         create the root object
//   kivet_com_client CONFIGDIR WORKDIR    runs the steps below; CONFIGDIR
//                                         holds the sample configurations
//                                         (mfcc.xml, default.xml,
//                                         similarity.xml), WORKDIR takes the
//                                         files made
//
// Each step is one entry of the table in main and checks what it calls; the
// last line counts the checks that passed and failed.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "com/kivet_local.h"
#include "examples/demo_clips.h"
#include "tests/com/com_objects.h"

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const std::string& what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

std::string hex(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
  return text;
}

void checkResult(HRESULT result, HRESULT expected, const std::string& what) {
  check(result == expected, what + ": " + hex(result) + ", expected " + hex(expected));
}

using comtest::Bstr;
using comtest::ComRef;

// A BSTR of an ANSI text.
Bstr ansiBstr(const std::string& text) {
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string converted(static_cast<size_t>(units), u'\0');
  std::vector<OLECHAR> wide(static_cast<size_t>(units) + 1);
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
  for (int i = 0; i < units; ++i) converted[static_cast<size_t>(i)] = static_cast<char16_t>(wide[static_cast<size_t>(i)]);
  return Bstr(converted);
}

// The ANSI text of a BSTR.
std::string ansi(const Bstr& text) {
  const int length = static_cast<int>(SysStringLen(text.get()));
  if (length == 0) return std::string();
  std::string converted(WideCharToMultiByte(CP_ACP, 0, text.get(), length, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.get(), length, &converted[0], static_cast<int>(converted.size()), nullptr,
                      nullptr);
  return converted;
}

struct Context {
  std::string configDir;
  std::string workDir;
  // Before the sessions: it outlives every session it is given to.
  comtest::HostCallback callback;
  ComRef<IKivetLocal> local;
  // A signature saved by the steps, for those that load one.
  std::string savedPath;
  // The session of the demo's clips, their ids in order, and its file.
  std::vector<demo::Clip> clips;
  ComRef<ISession> session;
  std::vector<unsigned> ids;
  std::string sessionPath;

  std::string config(const char* name) const { return configDir + "\\" + name; }
  std::string work(const char* name) const { return workDir + "\\" + name; }
};

// The message GetErrorMessage gives for a result.
std::string messageOf(Context& context, HRESULT result) {
  Bstr message;
  if (FAILED(context.local->GetErrorMessage(result, message.out()))) return "<no message>";
  return ansi(message);
}

// A failure that must arrive as `expected` with the message of its code.
void checkFailure(Context& context, HRESULT result, uint32_t expected, const std::string& message,
                  const std::string& what) {
  checkResult(result, static_cast<HRESULT>(expected), what);
  check(messageOf(context, result) == message, what + ": message '" + messageOf(context, result) + "'");
}

// A few seconds of a chord of sines with a click track: mono 16-bit PCM.
std::vector<short> music(unsigned rate, unsigned seconds) {
  std::vector<short> samples(rate * seconds);
  const double pi = std::acos(-1.0);
  for (size_t i = 0; i < samples.size(); ++i) {
    const double t = static_cast<double>(i) / rate;
    double value = 0.3 * std::sin(2 * pi * 220 * t) + 0.2 * std::sin(2 * pi * 277.2 * t) +
                   0.2 * std::sin(2 * pi * 329.6 * t);
    if (i % (rate / 2) < 64) value += 0.25;
    samples[i] = static_cast<short>(std::lround(value * 32767 * 0.9));
  }
  return samples;
}

std::string fileStart(const std::string& path, size_t bytes) {
  std::ifstream in(path, std::ios::binary);
  std::string start(bytes, '\0');
  in.read(&start[0], static_cast<std::streamsize>(bytes));
  return in ? start : std::string();
}

HRESULT createRoot(ComRef<IKivetLocal>& local) {
  return CoCreateInstance(CLSID_KivetLocal, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(local.out()));
}

bool createRoot(Context& context) {
  checkResult(createRoot(context.local), S_OK, "CoCreateInstance of IKivetLocal");
  ComRef<IUnknown> unknown;
  checkResult(CoCreateInstance(CLSID_KivetLocal, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, unknown.outVoid()),
              E_NOINTERFACE, "CoCreateInstance of IUnknown");
  return context.local.get() != nullptr;
}

// A thread's try to create the root object in an apartment of its own.
struct Attempt {
  DWORD apartment;
  HRESULT result;
};

DWORD WINAPI createInOwnApartment(void* argument) {
  auto& attempt = *static_cast<Attempt*>(argument);
  if (FAILED(CoInitializeEx(nullptr, attempt.apartment))) return 1;
  ComRef<IKivetLocal> local;
  attempt.result = createRoot(local);
  local.reset();
  CoUninitialize();
  return 0;
}

// The server's objects live in the main single-threaded apartment, and its
// interfaces have no proxies: threads of other apartments cannot have them.
// They ask the main thread by a message, which it handles while it waits.
bool otherApartments(Context&) {
  for (const DWORD apartment : {DWORD(COINIT_APARTMENTTHREADED), DWORD(COINIT_MULTITHREADED)}) {
    Attempt attempt{apartment, S_OK};
    HANDLE thread = CreateThread(nullptr, 0, createInOwnApartment, &attempt, 0, nullptr);
    if (thread == nullptr) return false;
    DWORD index = 0;
    checkResult(CoWaitForMultipleHandles(0, 60000, 1, &thread, &index), S_OK, "a thread of another apartment ends");
    CloseHandle(thread);
    checkResult(attempt.result, E_NOINTERFACE, "CoCreateInstance in apartment " + std::to_string(apartment));
  }
  return true;
}

bool versionsAndMessages(Context& context) {
  unsigned mainVersion = 9, subVersion = 9;
  checkResult(context.local->GetVersion(&mainVersion, &subVersion), S_OK, "GetVersion");
  check(mainVersion == 0 && subVersion == 91, "version 0.91");
  check(messageOf(context, static_cast<HRESULT>(0x80040205u)) == "Session format missmatch",
        "message of 0x80040205");
  Bstr message;
  checkResult(context.local->GetErrorMessage(E_FAIL, message.out()), static_cast<HRESULT>(0x8004020Eu),
              "GetErrorMessage of E_FAIL");
  Bstr name;
  checkResult(context.local->GetEventName(1, name.out()), S_OK, "GetEventName 1");
  check(ansi(name) == "Newer file version", "event name 1");
  return true;
}

bool signatureFromPcm(Context& context) {
  ComRef<ISignature> signature;
  checkResult(context.local->CreateSignature(ansiBstr(context.config("mfcc.xml")).get(), 44100, signature.out()), S_OK,
              "CreateSignature");
  if (!signature.get()) return false;
  ComRef<ISong> song;
  checkResult(signature->GetSong(song.out()), S_OK, "GetSong");
  checkResult(song->SetTitle(ansiBstr("Caf\xE9").get()), S_OK, "SetTitle");

  // In pieces that do not line up with the frames; the length grows by each
  // piece's whole milliseconds: 13 x 226 for 10007 samples, 50 for the last 2209.
  const std::vector<short> samples = music(44100, 3);
  for (size_t at = 0; at < samples.size(); at += 10007) {
    const auto count = static_cast<unsigned>(std::min<size_t>(10007, samples.size() - at));
    checkResult(signature->AddSamples(samples.data() + at, count), S_OK, "AddSamples");
  }
  Bstr title;
  checkResult(song->GetTitleLatin1(title.out()), S_OK, "GetTitleLatin1");
  check(ansi(title) == "Caf\xE9", "Latin-1 title");
  int length = 0;
  checkResult(song->GetLength(&length), S_OK, "GetLength");
  check(length == 2988, "song length " + std::to_string(length));

  context.savedPath = context.workDir + "\\chord.sig";
  checkResult(signature->Save(ansiBstr(context.savedPath).get()), S_OK, "Save");
  check(fileStart(context.savedPath, 4) == "AUID", "saved file is a signature stream");
  return true;
}

bool stereoAndFailures(Context& context) {
  ComRef<ISignature> signature;
  checkResult(context.local->CreateSignature(ansiBstr(context.workDir + "\\missing.xml").get(), 44100,
                                             signature.out()),
              static_cast<HRESULT>(0x80040204u), "CreateSignature of a missing configuration");
  check(signature.get() == nullptr, "no signature for a missing configuration");
  check(messageOf(context, static_cast<HRESULT>(0x80040204u)) == "File doesn't exist", "message of 0x80040204");

  checkResult(context.local->CreateSignature(ansiBstr(context.config("mfcc.xml")).get(), 22050, signature.out()), S_OK,
              "CreateSignature at 22050 Hz");
  if (!signature.get()) return false;
  const short stereo[] = {1, 2, -1, -2, 100, -300};
  short mono[3] = {};
  checkResult(signature->DownmixStereo(stereo, 6, mono), S_OK, "DownmixStereo");
  check(mono[0] == 1 && mono[1] == -1 && mono[2] == -100, "downmixed samples");
  checkResult(signature->DownmixStereo(stereo, 5, mono), static_cast<HRESULT>(0x8004020Eu),
              "DownmixStereo of an odd count");

  const std::vector<short> samples = music(22050, 1);
  checkResult(signature->AddSamples(samples.data(), static_cast<unsigned>(samples.size())), S_OK, "AddSamples");
  const HRESULT unsaved = signature->Save(ansiBstr(context.workDir + "\\no such folder\\x.sig").get());
  checkResult(unsaved, static_cast<HRESULT>(0x80040203u), "Save into a missing folder");
  check(messageOf(context, unsaved) == "Failed to save file", "message of a failed save");
  checkResult(signature->Load(ansiBstr(context.workDir + "\\missing.sig").get()), static_cast<HRESULT>(0x80040202u),
              "Load of a missing file");
  checkResult(signature->Load(ansiBstr(context.savedPath).get()), S_OK, "Load of the saved signature");
  const std::string again = context.workDir + "\\again.sig";
  checkResult(signature->Save(ansiBstr(again).get()), S_OK, "Save of the loaded signature");
  check(fileStart(again, 4096) == fileStart(context.savedPath, 4096), "loaded signature saved unchanged");
  return true;
}


constexpr unsigned kRate = 22050;

// A signature of a clip extracted with default.xml: a stereo clip is mixed
// down first; its texts go into the signature's song.
ComRef<ISignature> extract(Context& context, const demo::Clip& clip) {
  ComRef<ISignature> signature;
  checkResult(context.local->CreateSignature(ansiBstr(context.config("default.xml")).get(), kRate, signature.out()),
              S_OK, "CreateSignature with default.xml");
  if (!signature.get()) return signature;
  std::vector<short> pcm = demo::toPcm(clip);
  if (clip.channels.size() == 2) {
    std::vector<short> mono(pcm.size() / 2);
    checkResult(signature->DownmixStereo(pcm.data(), static_cast<unsigned>(pcm.size()), mono.data()), S_OK,
                "DownmixStereo of " + clip.file);
    pcm.swap(mono);
  }
  checkResult(signature->AddSamples(pcm.data(), static_cast<unsigned>(pcm.size())), S_OK, "AddSamples");
  ComRef<ISong> song;
  checkResult(signature->GetSong(song.out()), S_OK, "GetSong of a signature");
  song->SetTitle(ansiBstr(clip.title).get());
  song->SetArtist(ansiBstr(clip.family).get());
  song->SetFileName(ansiBstr(clip.file).get());
  return signature;
}

// The ids of a result list, best first.
std::vector<unsigned> ranked(Context& context, HRESULT result, ComRef<IResultList>& results, const std::string& what) {
  checkResult(result, S_OK, what);
  std::vector<unsigned> ids;
  unsigned count = 0, id = 0;
  float score = 0;
  if (FAILED(result) || FAILED(results->GetCount(&count))) return ids;
  for (unsigned i = 0; i < count; ++i) {
    if (SUCCEEDED(results->GetAt(i, &id, &score))) ids.push_back(id);
  }
  checkFailure(context, results->GetAt(count, &id, &score), 0x8004020Au, "Index exceeds dimension",
               what + ": GetAt past the end");
  results.reset();
  return ids;
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool sessionOfSongs(Context& context) {
  ComRef<ISession> none;
  checkFailure(context, context.local->CreateSession(ansiBstr(context.work("missing.xml")).get(), 1, none.out()),
               0x80040201u, "Unknown Error", "CreateSession of a missing configuration");
  checkResult(context.local->CreateSession(ansiBstr(context.config("similarity.xml")).get(), 1,
                                           context.session.out()),
              S_OK, "CreateSession with similarity.xml");
  if (!context.session.get()) return false;
  context.clips = demo::clips(static_cast<int>(kRate), 3.0);
  for (const demo::Clip& clip : context.clips) {
    unsigned id = 0;
    checkResult(context.session->AddSignature(extract(context, clip).get(), &id), S_OK, "AddSignature " + clip.file);
    check(id == context.ids.size() + 1, clip.file + " stored under id " + std::to_string(id));
    context.ids.push_back(id);
  }
  unsigned count = 0;
  checkResult(context.session->GetSongCount(&count), S_OK, "GetSongCount");
  check(count == context.clips.size(), "every clip stored, " + std::to_string(count));
  checkResult(context.session->ContainsId(3), S_OK, "ContainsId 3");
  checkResult(context.session->ContainsId(999), E_FAIL, "ContainsId 999");
  return count == context.clips.size();
}

bool queriesAndSongs(Context& context) {
  ISession& session = *context.session.get();
  ComRef<IResultList> results;
  for (unsigned id : context.ids) {
    const std::vector<unsigned> found = ranked(context, session.QueryById(id, 5, results.out()), results, "QueryById");
    check(!found.empty() && found.size() <= 5 && found.front() == id, "query by " + std::to_string(id) + " first");
  }
  // A noisy copy of the gliding tone, not stored, finds its original first.
  demo::Clip copy = context.clips[1];
  demo::addNoise(copy, 0.01, 7);
  const std::vector<unsigned> found = ranked(
      context, session.QueryBySignature(extract(context, copy).get(), 3, FALSE, results.out()), results,
      "QueryBySignature");
  check(found.size() == 3 && found.front() == context.ids[1], "query by a copy of the gliding tone");
  checkFailure(context, session.QueryById(999, 5, results.out()), 0x8004020Bu, "Signature ID doesn't exist",
               "QueryById 999");
  check(results.get() == nullptr, "no result list for a failed query");
  comtest::HostObject own;
  unsigned id = 0;
  checkFailure(context, session.AddSignature(&own, &id), 0x80040206u, "Invalid signature",
               "AddSignature of the client's own signature object");

  ComRef<IIDList> whitelist;
  checkResult(context.local->CreateIDList(whitelist.out()), S_OK, "CreateIDList");
  whitelist->Add(1), whitelist->Add(4);
  checkFailure(context, session.SetWhitelist(&own), 0x80040217u, "Invalid Object",
               "SetWhitelist of the client's own list");
  checkResult(session.SetWhitelist(whitelist.get()), S_OK, "SetWhitelist");
  const std::vector<unsigned> within = ranked(context, session.QueryById(4, 10, results.out()), results, "whitelisted");
  check(within == std::vector<unsigned>({4, 1}), "a whitelisted query finds the whitelist's ids only");
  checkFailure(context, session.QueryById(2, 10, results.out()), 0x80040219u, "ID not in whitelist",
               "QueryById outside the whitelist");
  checkResult(session.ClearWhitelist(), S_OK, "ClearWhitelist");

  ComRef<ISong> song;
  Bstr title, artist, file;
  checkResult(session.GetSong(context.ids[2], song.out()), S_OK, "GetSong");
  if (!song.get()) return false;
  song->GetTitle(title.out()), song->GetArtist(artist.out()), song->GetFileName(file.out());
  const demo::Clip& clip = context.clips[2];
  check(ansi(title) == clip.title && ansi(artist) == clip.family && ansi(file) == clip.file, "texts of song 3");
  checkResult(session.GetSongByFileName(ansiBstr(context.clips[4].file).get(), song.out()), S_OK, "GetSongByFileName");
  check(song.get() && SUCCEEDED(song->GetId(&id)) && id == context.ids[4], "song found by its file name");
  checkResult(session.GetSongByFileName(ansiBstr("none.wav").get(), song.out()), S_FALSE, "GetSongByFileName of none");
  return true;
}

bool exportsWithProgress(Context& context) {
  ISession& session = *context.session.get();
  comtest::HostCallback& callback = context.callback;
  checkResult(session.SetCallback(&callback), S_OK, "SetCallback");
  const size_t songs = context.ids.size();
  const std::string text = context.work("songs.txt");
  checkResult(session.ExportText(ansiBstr(text).get(), 127), S_OK, "ExportText");
  Bstr sessionId;
  checkResult(session.GetSessionId(sessionId.out()), S_OK, "GetSessionId");
  const std::string exported = readAll(text);
  check(exported.rfind("#SESSION-ID=" + ansi(sessionId) + ";", 0) == 0, "text export header");
  check(static_cast<size_t>(std::count(exported.begin(), exported.end(), '\n')) == songs + 1, "a line per song");
  check(exported.find("\"Click track\"") != std::string::npos, "titles in the text export");

  const std::string riff = context.work("similar.riff");
  checkResult(session.ExportSimilarityRiff(ansiBstr(riff).get(), 3), S_OK, "ExportSimilarityRiff");
  const std::string table = readAll(riff);
  check(table.size() == 32 + 4 * (songs * 3 + songs) && table.compare(0, 4, "RIFF") == 0 &&
            table.compare(8, 8, "PLDXVERS") == 0 && table.compare(24, 4, "SIM1") == 0,
        "RIFF export of " + std::to_string(table.size()) + " bytes");
  check(std::count(callback.log.begin(), callback.log.end(), '%') == static_cast<long>(2 * songs) &&
            callback.log.compare(callback.log.size() - 5, 5, "100% ") == 0,
        "progress reported per song of both exports: " + callback.log);
  callback.log.clear();
  return true;
}

bool saveLoadAndMerge(Context& context) {
  context.sessionPath = context.work("songs.ses");
  checkResult(context.session->Save(ansiBstr(context.sessionPath).get()), S_OK, "Save");
  check(readAll(context.sessionPath).compare(0, 7, std::string("\x03\0\0\0SES", 7)) == 0, "session file head");
  ComRef<ISession> loaded;
  checkResult(context.local->CreateSession(ansiBstr(context.config("similarity.xml")).get(), 1, loaded.out()), S_OK,
              "CreateSession for loading");
  if (!loaded.get()) return false;
  checkFailure(context, loaded->Load(ansiBstr(context.work("similar.riff")).get()), 0x80040205u,
               "Session format missmatch", "Load of a RIFF export");
  checkResult(loaded->Load(ansiBstr(context.sessionPath).get()), S_OK, "Load");
  Bstr savedId, loadedId;
  context.session->GetSessionId(savedId.out()), loaded->GetSessionId(loadedId.out());
  check(savedId.str() == loadedId.str(), "the loaded session keeps its id");
  // Loaded again, the file merges: every id is taken, so every song gets the
  // next free one and the callback hears of it.
  const unsigned songs = static_cast<unsigned>(context.ids.size());
  checkResult(loaded->SetCallback(&context.callback), S_OK, "SetCallback of the loaded session");
  checkResult(loaded->Load(ansiBstr(context.sessionPath).get()), S_OK, "Load into a session with songs");
  unsigned count = 0;
  loaded->GetSongCount(&count);
  check(count == 2 * songs, "merged songs: " + std::to_string(count));
  const std::string& changes = context.callback.log;
  check(std::count(changes.begin(), changes.end(), '>') == static_cast<long>(songs) &&
            changes.rfind("1>" + std::to_string(songs + 1) + " 2>", 0) == 0 &&
            changes.find(std::to_string(songs) + ">" + std::to_string(2 * songs) + " ") != std::string::npos,
        "onIdChanged for every merged song: " + changes);
  ComRef<IResultList> results;
  const std::vector<unsigned> found =
      ranked(context, loaded->QueryById(songs + 2, 2, results.out()), results, "QueryById of a merged song");
  check(found.size() == 2 && found.front() == songs + 2, "a merged song is found");
  return true;
}

bool textsFromTheCallback(Context& context) {
  ComRef<ISession> session;
  checkResult(context.local->CreateSession(ansiBstr(context.config("similarity.xml")).get(), 0, session.out()), S_OK,
              "CreateSession without metadata");
  if (!session.get()) return false;
  unsigned id = 0;
  for (size_t i = 0; i < 2; ++i) session->AddSignature(extract(context, context.clips[i]).get(), &id);
  const std::string text = context.work("host-texts.txt");
  checkFailure(context, session->ExportText(ansiBstr(text).get(), 3), 0x80040210u, "No Metadata / Callback",
               "ExportText without texts");
  checkFailure(context, session->ExportSimilarityRiff(ansiBstr(context.work("two.riff")).get(), 3), 0x8004021Bu,
               "Session too small", "ExportSimilarityRiff of 2 songs");
  comtest::HostCallback& callback = context.callback;
  checkResult(session->SetCallback(&callback), S_OK, "SetCallback");
  ComRef<ISong> song;
  Bstr title;
  checkResult(session->GetSongByFileName(ansiBstr("2.wav").get(), song.out()), S_OK, "GetSongByFileName 2.wav");
  check(song.get() && SUCCEEDED(song->GetTitle(title.out())) && ansi(title) == "Title 2", "title from the host");
  callback.unknown = 1;  // the export leaves song 1 out
  checkResult(session->ExportText(ansiBstr(text).get(), 3), S_OK, "ExportText of the host's texts");
  const std::string exported = readAll(text);
  // Written in text mode: lines end as Windows' text files do.
  check(exported.substr(exported.find('\n') + 1) == "2;\"Artist 2\";\"Title 2\";;;;;;\r\n",
        "the host's texts exported: " + exported);
  callback.failing = true;
  checkFailure(context, session->ExportText(ansiBstr(text).get(), 3), 0x80040212u, "Callback host-error",
               "ExportText with a failing host");
  return true;
}

std::string titleOf(ISong* song) {
  Bstr title;
  return song != nullptr && SUCCEEDED(song->GetTitleLatin1(title.out())) ? ansi(title) : "<no title>";
}

// Songs hold copies of texts; the metadata file is named after the session
// file up to its last point.
bool songsAndMetadataFiles(Context& context) {
  const demo::Clip& clip = context.clips[2];
  const std::string file = context.work("clip.sig");
  ComRef<ISignature> extracted = extract(context, clip);
  if (!extracted.get()) return false;
  checkResult(extracted->Save(ansiBstr(file).get()), S_OK, "Save of a clip's signature");
  ComRef<ISignature> loaded;
  ComRef<ISong> song;
  checkResult(context.local->CreateSignature(ansiBstr(context.config("default.xml")).get(), kRate, loaded.out()), S_OK,
              "CreateSignature to load into");
  if (!loaded.get()) return false;
  checkResult(loaded->Load(ansiBstr(file).get()), S_OK, "Load of the clip's signature");
  checkResult(loaded->GetSong(song.out()), S_OK, "GetSong of a loaded signature");
  check(titleOf(song.get()).empty(), "a loaded signature's song is blank");
  song->SetTitle(ansiBstr("Set on the loaded song").get());

  ComRef<ISession> session;
  unsigned id = 0;
  checkResult(context.local->CreateSession(ansiBstr(context.config("similarity.xml")).get(), 1, session.out()), S_OK,
              "CreateSession of one song");
  if (!session.get()) return false;
  checkResult(session->AddSignature(loaded.get(), &id), S_OK, "AddSignature of the loaded signature");
  checkResult(session->GetSong(id, song.out()), S_OK, "GetSong of the session");
  check(titleOf(song.get()) == clip.title, "the session has the file's texts: " + titleOf(song.get()));
  song->SetTitle(ansiBstr("Set on the session's song").get());
  checkResult(session->GetSong(id, song.out()), S_OK, "GetSong again");
  check(titleOf(song.get()) == clip.title, "a session's song is a copy");

  // stem.db's save writes stem.meta over the one of stem.ses.
  checkResult(context.session->Save(ansiBstr(context.work("stem.ses")).get()), S_OK, "Save as stem.ses");
  checkResult(session->Save(ansiBstr(context.work("stem.db")).get()), S_OK, "Save as stem.db");
  ComRef<ISession> fresh;
  checkResult(context.local->CreateSession(ansiBstr(context.config("similarity.xml")).get(), 1, fresh.out()), S_OK,
              "CreateSession to load stem.ses");
  if (!fresh.get()) return false;
  checkFailure(context, fresh->Load(ansiBstr(context.work("stem.ses")).get()), 0x8004021Du, "Corrupted Session",
               "Load of stem.ses, whose records stem.db replaced");
  checkResult(fresh->GetSong(1, song.out()), S_OK, "GetSong 1 of stem.ses");
  check(titleOf(song.get()) == clip.title, "song 1 of stem.ses reads the texts of stem.db's");
  return true;
}

// Paths cross the ANSI code page (1252 here) as texts do: a folder whose
// name it lacks cannot be used, whatever the folder holds.
bool pathsOutsideTheCodePage(Context& context) {
  for (const char16_t* name : {u"Z\u0142oty", u"\u591C\u306E\u66F2"}) {
    const std::u16string folder = ansiBstr(context.workDir).str() + u"\\" + name;
    const auto* wide = reinterpret_cast<const wchar_t*>(folder.c_str());
    check(CreateDirectoryW(wide, nullptr) != FALSE, "a folder named outside the code page");
    const Bstr session(folder + u"\\music.ses");
    checkResult(context.session->Save(session.get()), static_cast<HRESULT>(0x80040203u), "Save into that folder");
    ComRef<ISession> fresh;
    checkResult(context.local->CreateSession(ansiBstr(context.config("similarity.xml")).get(), 1, fresh.out()), S_OK,
                "CreateSession to load from that folder");
    if (fresh.get())
      checkResult(fresh->Load(session.get()), static_cast<HRESULT>(0x80040202u), "Load from that folder");
    // Nothing was written into it.
    check(RemoveDirectoryW(wide) != FALSE, "the folder stays empty");
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "multithreaded") == 0) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
    ComRef<IKivetLocal> local;
    const HRESULT result = createRoot(local);
    local.reset();
    CoUninitialize();
    std::printf("CoCreateInstance on a multithreaded main thread: %s\n", hex(result).c_str());
    return result == E_NOINTERFACE ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "clsid") == 0) {
    const GUID& id = CLSID_KivetLocal;
    std::printf("{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}\n", static_cast<unsigned long>(id.Data1),
                id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5],
                id.Data4[6], id.Data4[7]);
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s CONFIGDIR WORKDIR | %s clsid | %s multithreaded\n", argv[0], argv[0], argv[0]);
    return 2;
  }
  if (FAILED(CoInitialize(nullptr))) {
    std::fprintf(stderr, "CoInitialize failed\n");
    return 1;
  }
  const struct {
    const char* name;
    bool (*run)(Context&);
  } steps[] = {
      {"root object", createRoot},
      {"other apartments", otherApartments},
      {"versions and messages", versionsAndMessages},
      {"signature from PCM", signatureFromPcm},
      {"stereo and failures", stereoAndFailures},
      {"session of generated songs", sessionOfSongs},
      {"queries and songs", queriesAndSongs},
      {"exports with progress", exportsWithProgress},
      {"save, load and merge", saveLoadAndMerge},
      {"texts from the callback", textsFromTheCallback},
      {"songs and metadata files", songsAndMetadataFiles},
      {"paths outside the code page", pathsOutsideTheCodePage},
  };
  {
    Context context;
    context.configDir = argv[1];
    context.workDir = argv[2];
    for (const auto& step : steps) {
      std::printf("step: %s\n", step.name);
      // A step that cannot go on makes the later ones pointless.
      if (!step.run(context)) {
        check(false, std::string("step ") + step.name + " could not go on");
        break;
      }
    }
  }
  CoUninitialize();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
