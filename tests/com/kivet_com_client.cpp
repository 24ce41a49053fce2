// A COM host of KivetLocal.dll, as a real client sees the server: through the
// registry, CoCreateInstance and the interfaces of com/kivet_local.h only
// (it links nothing of the library). scripts/test-windows.sh registers the
// server with regsvr32, runs this program under Wine and unregisters it.
//
//   kivet_com_client clsid              prints the class id
//   kivet_com_client CONFIG WORKDIR     runs the steps below; CONFIG is a
//                                       feature-extraction configuration,
//                                       WORKDIR a folder for the files made
//
// Each step is one entry of the table in main and checks what it calls; the
// last line counts the checks that passed and failed.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "com/kivet_local.h"
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
  std::string config;
  std::string workDir;
  ComRef<IKivetLocal> local;
  // A signature saved by the steps, for those that load one.
  std::string savedPath;
};

// The message GetErrorMessage gives for a result.
std::string messageOf(Context& context, HRESULT result) {
  Bstr message;
  if (FAILED(context.local->GetErrorMessage(result, message.out()))) return "<no message>";
  return ansi(message);
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

bool createRoot(Context& context) {
  checkResult(CoCreateInstance(CLSID_KivetLocal, nullptr, CLSCTX_INPROC_SERVER, IID_IKivetLocal,
                               context.local.outVoid()),
              S_OK, "CoCreateInstance of IKivetLocal");
  ComRef<IUnknown> unknown;
  checkResult(CoCreateInstance(CLSID_KivetLocal, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, unknown.outVoid()),
              E_NOINTERFACE, "CoCreateInstance of IUnknown");
  return context.local.get() != nullptr;
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
  checkResult(context.local->CreateSignature(ansiBstr(context.config).get(), 44100, signature.out()), S_OK,
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

  checkResult(context.local->CreateSignature(ansiBstr(context.config).get(), 22050, signature.out()), S_OK,
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

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "clsid") == 0) {
    const GUID& id = CLSID_KivetLocal;
    std::printf("{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}\n", static_cast<unsigned long>(id.Data1),
                id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5],
                id.Data4[6], id.Data4[7]);
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s CONFIG WORKDIR | %s clsid\n", argv[0], argv[0]);
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
      {"versions and messages", versionsAndMessages},
      {"signature from PCM", signatureFromPcm},
      {"stereo and failures", stereoAndFailures},
  };
  {
    Context context;
    context.config = argv[1];
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
