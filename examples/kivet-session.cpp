// kivet-session: builds, queries, lists and exports kivet sessions.
//
//   kivet-session build  [-c CONFIG] [-s SIMCONFIG] [--without-lost-texts] SESSION INPUT...
//   kivet-session query  [-c CONFIG] [-s SIMCONFIG] [--without-lost-texts] SESSION (INPUT | --id ID) [-n N]
//   kivet-session info   [-s SIMCONFIG] [--without-lost-texts] SESSION
//   kivet-session export [-s SIMCONFIG] [--without-lost-texts] SESSION (--text FILE [--mask M] | --riff FILE [-n N])
//
// What each command and option does is the help text below (--help). The
// session's files, their lock and their checks are examples/session_file.h,
// the outputs an export may not write examples/export_output.h; audio is
// read as examples/audio_file.h reads it, at 44100 Hz, and a build tells the
// files whose songs the session holds as examples/song_files.h does. Song
// texts show in tables as examples/table_cell.h shows them. The standard
// output carries the results alone (examples/result_output.h); every failure
// is one line on the standard error stream, and the exit status is then 1 (2
// for a wrong invocation, after a line naming what is wrong).

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "api/vra_kivet_exception.h"
#include "examples/audio_extraction.h"
#include "examples/command_line.h"
#include "examples/export_output.h"
#include "examples/host_failure.h"
#include "examples/result_output.h"
#include "examples/session_file.h"
#include "examples/signal_cleanup.h"
#include "examples/signature_input_check.h"
#include "examples/similarity_check.h"
#include "examples/song_files.h"
#include "examples/table_cell.h"

using namespace vemra_kivet;

namespace {

constexpr const char* kUsage =
    "usage: kivet-session build  [-c CONFIG] [-s SIMCONFIG] [--without-lost-texts] SESSION INPUT...\n"
    "       kivet-session query  [-c CONFIG] [-s SIMCONFIG] [--without-lost-texts] SESSION (INPUT | --id ID) [-n N]\n"
    "       kivet-session info   [-s SIMCONFIG] [--without-lost-texts] SESSION\n"
    "       kivet-session export [-s SIMCONFIG] [--without-lost-texts] SESSION\n"
    "                            (--text FILE [--mask M] | --riff FILE [-n N])\n"
    "       kivet-session --help\n";

constexpr const char* kHelp =
    "\n"
    "Keeps songs in a session file, SESSION, with their texts beside it (SESSION's name\n"
    "with the extension .meta), and tells which songs are most like a song.\n"
    "\n"
    "Commands:\n"
    "  build   Makes SESSION, or loads it, and adds every INPUT to it: an audio file\n"
    "          (anything libsndfile reads), extracted with CONFIG, with title and artist\n"
    "          from its tags and its absolute path as the file name; or a signature\n"
    "          file (.sig) made at 44100 Hz (as kivet-extract makes them), taken with\n"
    "          its texts. An INPUT whose song the session holds already is not added\n"
    "          again, and the summary counts it (\"12 songs (1 added, 11 already\n"
    "          there)\"): an audio file is there when a stored song's file name leads\n"
    "          to the same file, by whatever path or link INPUT names it (a relative\n"
    "          file name, as older versions stored, is taken from the working folder);\n"
    "          a signature file is there when the audio file its song names is. Only\n"
    "          the file counts, not its content: a file changed since its song was\n"
    "          added is not extracted again (a copy under another name is a new song).\n"
    "          A stored song's file that was moved or removed is not found at a new\n"
    "          place: a file moved since it was added is added again, and a line after\n"
    "          the summary counts the stored songs whose files were moved or removed.\n"
    "          A file given twice is added once. The session's own files among the\n"
    "          INPUTs (as \"*\" in its folder gives them: SESSION, its metadata file,\n"
    "          their lock files, names its saves take) are passed over in one line. A\n"
    "          bad input is named and left out, the others are added; when none could\n"
    "          be added to a new session, nothing is written. No new session is made\n"
    "          where its metadata file's name is taken (NAME.ses and NAME.db would share\n"
    "          NAME.meta): nothing is written.\n"
    "  query   Lists the N songs most like INPUT (an audio or signature file) or like\n"
    "          the stored song ID, best first, under a header line: rank, id, score\n"
    "          (1.000: the same song), artist and title, separated by tabs. At most\n"
    "          N: for INPUT, only songs at the head of some classifier's ranking are\n"
    "          listed (each classifier keeps its nearest songs until their distances\n"
    "          add up to a fifth of its sum over all songs), so a large N may list\n"
    "          fewer songs than the session holds; for ID, 250 at most.\n"
    "  info    Prints the session id, the number of songs, the rate songs are\n"
    "          extracted at, then per song: id, length (minutes:seconds.milliseconds),\n"
    "          artist and title, separated by tabs.\n"
    "  export  Writes FILE: with --text the listing of the songs, with --riff the\n"
    "          table of each song's nearest songs. FILE may not be the session file,\n"
    "          its metadata file or a lock file of either, by any name or link: such\n"
    "          an export is refused and nothing is written. A line then counts the\n"
    "          songs written; /dev/stdout (or /dev/fd/1) is the standard output,\n"
    "          which then carries the export alone; - is a file named -.\n"
    "  Where a song has no title, its file name without the folder stands instead;\n"
    "  a control character inside an artist or title (a tab, a line break, an\n"
    "  escape, a C1 control U+0080 to U+009F, ...) is shown as a space there.\n"
    "\n"
    "Options:\n"
    "  -c CONFIG     the feature-extraction configuration for audio inputs\n"
    "                (default: the sample configuration default.xml).\n"
    "  -s SIMCONFIG  the similarity configuration a new session is made with (default:\n"
    "                the sample configuration similarity.xml). An existing session\n"
    "                keeps the one stored in it; given with an existing session, -s\n"
    "                makes SIMCONFIG's similarity methods compare the songs of this\n"
    "                command instead, with a warning when it differs from the stored\n"
    "                one (the stored songs were adapted by the stored one); one whose\n"
    "                classifiers read what the stored songs lack is refused.\n"
    "  -n N          query: the number of songs listed (default 10); export --riff: the\n"
    "                number of nearest songs stored for each song (default 10, at most\n"
    "                250, as for a query by ID; a larger N stores 250, with a note).\n"
    "                N is a whole number from 0 to 4294967295.\n"
    "  --id ID       query: the stored song ID (0 to 4294967295) instead of an INPUT.\n"
    "  --text FILE   export: one line \"#SESSION-ID=id;\", then a line per song: its id\n"
    "                and seven fields, each followed by \";\"; texts are quoted.\n"
    "  --mask M      export --text: the sum of the fields written (the others stay\n"
    "                empty): 1 artist, 2 title, 4 length in whole seconds, 8 file\n"
    "                name, 16 extra text, 32 extra number, 64 second extra number.\n"
    "                Default 127: all of them; 0: the ids alone; M is at most 127.\n"
    "  --riff FILE   export: per song, the ids and scores of its N nearest songs in a\n"
    "                RIFF table (the session needs at least 5 songs).\n"
    "  --without-lost-texts\n"
    "                go on with a session whose metadata file is missing or damaged:\n"
    "                songs that lost their texts are shown without them. Without it\n"
    "                such a session is refused and left as it is; with it, a build\n"
    "                (even one that adds no song) saves the session with the texts\n"
    "                that are left and empty ones for the songs that lost theirs:\n"
    "                the lost texts are gone for good, and the session is whole\n"
    "                again, so later commands need no --without-lost-texts.\n"
    "  -h, --help    prints this help.\n"
    "  --            ends the options: every argument after it is SESSION or an\n"
    "                INPUT, also one that begins with - (build s.ses -- -take2.ogg).\n"
    "  Each option is given once at most. An INPUT - is a file named -, never the\n"
    "  standard input.\n"
    "\n"
    "Every audio input is resampled to 44100 Hz, the rate a session extracts its\n"
    "songs at, so that songs of any rate compare. The sample configurations are\n"
    "the ones installed beside the program (share/kivet), else the source tree's.\n"
    "\n"
    "Files: a session keeps three files beside it: its metadata file; SESSION.lock,\n"
    "which keeps commands apart (while one builds, another waits) and holds the\n"
    "record of a build's save; and NAME.meta.lock, which a build holds too, as every\n"
    "session of that name shares NAME.meta. A copy of a session takes its metadata\n"
    "file along under its new name (cp music.ses music.bak makes a second session of\n"
    "music.meta: once a build of one has added songs, a build of the other refuses\n"
    "the texts of songs it does not hold there, and writes nothing; its readers go on\n"
    "with a note). A build saves the session and its metadata file together: the\n"
    "library writes both under temporary names beside them (NAME.EXT.PID.tmp), keeps\n"
    "the old files aside (NAME.EXT.PID.old) while it puts the new ones in place, and\n"
    "puts the old ones back when a step fails. A session whose metadata file is\n"
    "missing or damaged is loaded through a folder of the program's own beside it\n"
    "(NAME.EXT.PID.load-XXXXXX). Before either, a build records it in SESSION.lock\n"
    "(its pid, start time and boot id, and which such names were there already), and\n"
    "clears the record when done; SIGINT, SIGTERM and SIGHUP wait until a save has\n"
    "ended (a build they end then says that its songs are saved). The next build,\n"
    "which holds the lock alone, finishes the save that a record there shows (its\n"
    "process no longer saves, whatever /proc says of it): it completes one cut\n"
    "between its two renames when the files prove the pair (else it stops, saying how\n"
    "to put the pair back by hand) and removes what else the save or load made. Names\n"
    "of those shapes that no record names stay (a user's backup, say), and a line\n"
    "names them (load folders, which hold nothing but copies of the session's files,\n"
    "can be removed). SESSION.lock is removed only by its holder, and is never opened\n"
    "through a symbolic link or with a second hard link, nor is NAME.meta.lock. No\n"
    "command makes one for a file that is not a session, and a command that finds no\n"
    "session (or a build that makes none, even when interrupted) leaves none.\n"
    "SESSION may be a symbolic link: the session is then the file it leads to, with\n"
    "its metadata file and its lock beside that file, and the link stays a link.\n"
    "A signature INPUT is checked against a song the program extracts and saves in a\n"
    "folder of its own, made under $TMPDIR (else /tmp) and removed when done or when\n"
    "the program is interrupted; without that folder the input is refused.\n"
    "\n"
    "Output: the standard output carries the results alone; the library's own\n"
    "messages, warnings and failures go to the standard error stream, one line each.\n"
    "A configuration that cannot be read is named with the reason (\"cannot read the\n"
    "configuration CONFIG: no such file or directory\", or where its XML breaks, as\n"
    "line and column), and so is a similarity configuration, which must name a\n"
    "similarity method (checked before the session is locked, completed, swept or\n"
    "loaded); a save or an export that fails names the system's reason, and so do\n"
    "results that cannot be written.\n"
    "A build checks before it extracts anything that it may write the session (its\n"
    "folder, the session file, its metadata file and SESSION.lock). A SESSION that\n"
    "is a file but not a session file (it does not begin as one does) is refused in\n"
    "one line saying whether it is an audio file, a signature file or another file,\n"
    "and that SESSION comes first; it stays as it is, and nothing is made beside it.\n"
    "A wrong command line gets one line naming what is wrong (an unknown command or\n"
    "option, an option given twice, a number out of its range, a missing SESSION or\n"
    "INPUT, two outputs), then the usage. An export --riff of a session of fewer\n"
    "than 5 songs is refused in one line that counts its songs. SIGINT, SIGTERM and\n"
    "SIGHUP during an export take away what it wrote beside FILE, which stays as it\n"
    "was; the status is then 128 + the signal's number.\n"
    "Exit status: 0 done, 1 a failure (a build still adds the other inputs), 2 a\n"
    "wrong invocation.\n";

// The text export's fields, one bit each: the mask that writes all seven.
constexpr unsigned kAllFields = 127;

struct Options {
  std::string command;
  std::string config = sampleConfiguration("default.xml");
  std::optional<std::string> similarity;
  std::string session;
  std::vector<std::string> inputs;
  std::optional<unsigned> id;
  unsigned count = 10;
  std::string textFile;
  std::string riffFile;
  unsigned mask = kAllFields;
  bool withoutLostTexts = false;
  bool help = false;
};

// The options each command takes (export's -n and --mask go with one output
// each), and its operands as the usage gives them.
struct Command {
  std::set<std::string> options;
  const char* operands;
};
const std::map<std::string, Command> kCommands = {
    {"build", {{"-c", "-s", "--without-lost-texts"}, "SESSION INPUT..."}},
    {"query", {{"-c", "-s", "--without-lost-texts", "-n", "--id"}, "SESSION (INPUT | --id ID)"}},
    {"info", {{"-s", "--without-lost-texts"}, "SESSION"}},
    {"export",
     {{"-s", "--without-lost-texts", "--text", "--riff", "--mask", "-n"}, "SESSION (--text FILE | --riff FILE)"}}};

// What is wrong with the command line once every argument has been read, or
// nothing.
std::string invocationSlip(const Options& o, const std::set<std::string>& given) {
  if (o.command.empty()) return "no command given";
  const auto command = kCommands.find(o.command);
  if (command == kCommands.end()) return "unknown command " + o.command;
  for (const std::string& option : given)
    if (command->second.options.count(option) == 0) return o.command + " takes no option " + option;
  if (o.session.empty()) return o.command + " needs SESSION";
  const size_t inputs = o.inputs.size();
  if (o.command == "build" && inputs == 0) return "build needs at least one INPUT after SESSION";
  if (o.command == "query" && inputs + (o.id ? 1 : 0) == 0) return "query needs an INPUT or --id ID";
  if (o.command == "query" && inputs + (o.id ? 1 : 0) > 1)
    return "query takes one INPUT or --id ID, not " + (inputs > 1 ? o.inputs[1] : "both");
  if ((o.command == "info" || o.command == "export") && inputs > 0)
    return o.command + " takes SESSION alone, not " + o.inputs.front();
  if (o.command != "export") return "";
  if (o.textFile.empty() && o.riffFile.empty()) return "export needs --text FILE or --riff FILE";
  if (!o.textFile.empty() && !o.riffFile.empty())
    return "export writes one output: --text FILE or --riff FILE, not both";
  if (given.count("--mask") != 0 && o.textFile.empty()) return "--mask goes with --text, not --riff";
  if (given.count("-n") != 0 && o.riffFile.empty()) return "-n goes with --riff, not --text";
  return "";
}

// Reads the command line into o. A wrong one gets one line naming what is
// wrong: false.
bool parseArguments(int argc, char** argv, Options& o) {
  CommandLine line("kivet-session", argc, argv);
  std::vector<std::string> positional;
  std::set<std::string> given;
  for (std::string arg; line.next(arg);) {
    if (line.isOperand()) {
      positional.push_back(arg);
      continue;
    }
    if (CommandLine::isHelp(arg)) {
      o.help = true;
      return true;
    }
    given.insert(arg);
    if (arg == "--without-lost-texts") {
      o.withoutLostTexts = true;
      continue;
    }
    if (arg == "-n" || arg == "--mask" || arg == "--id") {
      unsigned number = 0;
      if (!line.number(arg, arg == "--mask" ? kAllFields : UINT_MAX, number)) return false;
      if (arg == "-n") o.count = number;
      if (arg == "--mask") o.mask = number;
      if (arg == "--id") o.id = number;
      continue;
    }
    const bool takesText = arg == "-c" || arg == "-s" || arg == "--text" || arg == "--riff";
    if (!takesText) return line.slip("unknown option " + arg);
    std::string value;
    if (!line.value(arg, value)) return false;
    if (arg == "-c") o.config = value;
    if (arg == "-s") o.similarity = value;
    if (arg == "--text") o.textFile = value;
    if (arg == "--riff") o.riffFile = value;
  }
  if (line.failed()) return false;
  if (!positional.empty()) o.command = positional[0];
  if (positional.size() > 1) o.session = positional[1];
  if (positional.size() > 2) o.inputs.assign(positional.begin() + 2, positional.end());
  const std::string slip = invocationSlip(o, given);
  return slip.empty() || line.slip(slip);
}

SessionFile::Choices choicesOf(const Options& o) {
  SessionFile::Choices choices;
  choices.similarity = o.similarity;
  choices.newSimilarity = sampleConfiguration("similarity.xml");
  choices.withoutLostTexts = o.withoutLostTexts;
  return choices;
}

bool isSignatureFile(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".sig") == 0;
}

// "1 song", "2 songs".
std::string songs(unsigned count) { return std::to_string(count) + (count == 1 ? " song" : " songs"); }

// The signature of a signature file the check has passed.
ExtractedSong loadedSignature(const std::string& input, const AudioExtraction& extraction) {
  ExtractedSong song;
  step(input, [&] {
    song.signature = Held<vraISignature>(CreateSignature(extraction.configPath().c_str(), kExtractionRate));
    song.signature->load(input.c_str());
  });
  return song;
}

// A signature object for an input: a signature file loaded, or the song of an
// audio file extracted (and finished by whatever uses it first).
ExtractedSong signatureOf(const std::string& input, const AudioExtraction& extraction,
                          SignatureInputCheck& signatures) {
  if (!isSignatureFile(input)) return step(input, [&] { return extraction.extract(input); });
  step(input, [&] { signatures.check(input); });
  return loadedSignature(input, extraction);
}

// Adds the song of input unless the session holds a song of its audio file
// already (for a signature file, the file its song was made of): false then.
bool add(vraISession& session, const std::string& input, const AudioExtraction& extraction,
         SignatureInputCheck& signatures, SongFiles& stored) {
  const bool signature = isSignatureFile(input);
  const std::string file = signature ? step(input, [&] { return signatures.check(input); }) : input;
  if (stored.holds(file)) return false;
  ExtractedSong song =
      signature ? loadedSignature(input, extraction) : step(input, [&] { return extraction.extract(input); });
  bool refused = false;
  step(input, [&] {
    extraction.finish("adding to the session", song, [&] {
      try {
        session.addSignature(song.signature.get());
      } catch (const vraKivetException& e) {
        // A song too short for the configuration holds no data: finish says so.
        if (e.getCode() != VRA_INVALID_SIGNATURE || extraction.tooShort(song)) throw;
        refused = true;
      }
    });
  });
  // The session stores nothing of a song it cannot compare with its others:
  // the library has said why on its error stream.
  if (refused)
    throw HostFailure(input + ": the session refuses this song: its features do not fit the similarity "
                              "configuration or the session's other songs (Invalid signature (code 6))");
  stored.add(file);
  return true;
}

// text, or when it has more characters than that, "..." and its end, cut
// where a UTF-8 character begins.
std::string endOf(const std::string& text, size_t characters) {
  const auto begins = [&](size_t at) { return (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80; };
  size_t start = text.size();
  size_t kept = 0;
  while (start > 0 && kept < characters)
    if (begins(--start)) ++kept;
  if (start == 0) return text;
  const std::string marker = "...";
  for (size_t dropped = 0; dropped < marker.size(); ++start)
    if (begins(start)) ++dropped;
  while (!begins(start)) ++start;
  return marker + text.substr(start);
}

// A progress bar on the standard error stream when it is a terminal, with
// the name of the file at hand (its end, when it is long: the songs of a
// deep folder differ there).
class Progress {
 public:
  explicit Progress(size_t total) : total(total), shown(isatty(STDERR_FILENO) != 0) {}
  void show(size_t done, const std::string& what) const {
    if (!shown) return;
    const size_t width = 30;
    const size_t filled = total == 0 ? width : done * width / total;
    std::fprintf(stderr, "\r%80s\r[%s%s] %zu/%zu %s", "", std::string(filled, '#').c_str(),
                 std::string(width - filled, ' ').c_str(), done, total,
                 endOf(std::filesystem::path(what).filename().string(), kNameWidth).c_str());
    std::fflush(stderr);
  }
  void clear() const {
    if (shown) std::fprintf(stderr, "\r%80s\r", "");
  }

 private:
  static constexpr size_t kNameWidth = 40;
  size_t total;
  bool shown;
};

// The inputs with every file after its first mention left out, said in a note.
std::vector<std::string> distinctInputs(const std::vector<std::string>& inputs) {
  std::map<std::filesystem::path, std::string> seen;
  std::vector<std::string> distinct;
  for (const std::string& input : inputs) {
    std::error_code error;
    std::filesystem::path file = std::filesystem::weakly_canonical(input, error);
    if (error) file = input;
    const auto [first, isNew] = seen.emplace(file, input);
    if (isNew)
      distinct.push_back(input);
    else
      std::fprintf(stderr, "kivet-session: %s: the same file as %s, added once\n", input.c_str(),
                   first->second.c_str());
  }
  return distinct;
}

// The inputs without the session's own files, which a build in the
// session's folder is given with "*", named in one line.
std::vector<std::string> withoutOwnFiles(const std::vector<std::string>& inputs, const SessionFile& file,
                                         const std::string& session) {
  std::vector<std::string> others;
  std::string own;
  for (const std::string& input : inputs) {
    if (!file.isOwnFile(input))
      others.push_back(input);
    else
      own += (own.empty() ? "" : ", ") + input;
  }
  if (!own.empty())
    std::fprintf(stderr, "kivet-session: %s: passed over the session's own files among the inputs: %s\n",
                 session.c_str(), own.c_str());
  return others;
}

int build(const Options& o, std::FILE* out) {
  // A configuration that cannot be read fails before the session is touched.
  const AudioExtraction extraction(o.config);
  SessionFile file(o.session, SessionFile::Use::Write);
  vraISession& session = file.open(choicesOf(o));
  const unsigned before = session.getSongCount();
  SignatureInputCheck signatures(extraction);
  SongFiles stored(session);
  const std::vector<std::string> inputs = distinctInputs(withoutOwnFiles(o.inputs, file, o.session));
  const Progress progress(inputs.size());
  int status = 0;
  unsigned alreadyThere = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    progress.show(i, inputs[i]);
    try {
      if (!add(session, inputs[i], extraction, signatures, stored)) ++alreadyThere;
    } catch (const HostFailure& failure) {
      progress.clear();
      std::fprintf(stderr, "kivet-session: %s\n", failure.what());
      status = 1;
    }
  }
  const unsigned added = session.getSongCount() - before;
  if (added == 0 && file.isNew()) {
    progress.clear();
    std::fprintf(stderr, "kivet-session: %s: no song could be added; no session written\n", o.session.c_str());
    return 1;
  }
  // A session with nothing new stays as it was, metadata file and all,
  // unless the texts it had lost are to be mended.
  if (added > 0 || file.isMended()) {
    progress.show(inputs.size(), "saving");
    // A signal that comes during the save waits for it; the user hears that
    // the songs are saved (not to be added again) before it ends the build.
    const SignalCleanup::Held held;
    file.save();
    if (const char* signal = held.pending()) {
      progress.clear();
      std::fprintf(stderr, "kivet-session: %s: saved with %s (%u added) before %s ended the build\n",
                   o.session.c_str(), songs(session.getSongCount()).c_str(), added, signal);
    }
  }
  progress.clear();
  const std::string already = alreadyThere == 0 ? "" : ", " + std::to_string(alreadyThere) + " already there";
  std::fprintf(out, "%s: %s (%u added%s)\n", o.session.c_str(), songs(session.getSongCount()).c_str(), added,
               already.c_str());
  // Only the file counts: a song whose file moved is not found at the new
  // place, and the user hears why a moved folder's songs came in again.
  if (const unsigned gone = stored.gone())
    std::fprintf(out, "%s: the %s of %u stored %s moved or removed; a file moved since it was added is added again\n",
                 o.session.c_str(), gone == 1 ? "file" : "files", gone, gone == 1 ? "song was" : "songs were");
  return status;
}

// A song's artist and title, the last two cells of query's and info's lines.
std::string textCells(const SessionTexts& texts, unsigned id) {
  return tableCell(texts.song(id).artist) + '\t' + tableCell(texts.shownTitle(id));
}

int query(const Options& o, std::FILE* out) {
  SessionFile file(o.session, SessionFile::Use::Read);
  vraISession& session = file.open(choicesOf(o));
  if (session.getSongCount() == 0) throw HostFailure(o.session + ": the session holds no songs");
  Held<vraIResultList> results;
  if (o.id) {
    const std::string what = "song " + std::to_string(*o.id);
    results = Held<vraIResultList>(step(what, [&] { return session.queryById(*o.id, o.count); }));
  } else {
    const AudioExtraction extraction(o.config);
    SignatureInputCheck signatures(extraction);
    ExtractedSong song = signatureOf(o.inputs.front(), extraction, signatures);
    step(o.inputs.front(), [&] {
      extraction.finish("querying", song, [&] {
        results = Held<vraIResultList>(session.queryBySignature(song.signature.get(), o.count, false));
      });
    });
  }
  std::fprintf(out, "rank\tid\tscore\tartist\ttitle\n");
  for (unsigned i = 0; i < results->size(); ++i) {
    const vraResult result = results->getResult(i);
    std::fprintf(out, "%u\t%u\t%.3f\t%s\n", i + 1, result.id, result.score, textCells(file.texts(), result.id).c_str());
  }
  return 0;
}

int info(const Options& o, std::FILE* out) {
  SessionFile file(o.session, SessionFile::Use::Read);
  vraISession& session = file.open(choicesOf(o));
  std::fprintf(out, "session %s\n%s\nextracted at %u Hz\nid\tlength\tartist\ttitle\n", file.id().c_str(),
               songs(session.getSongCount()).c_str(), kExtractionRate);
  const Held<vraIIDList> ids(session.getAllIds());
  for (unsigned i = 0; i < ids->size(); ++i) {
    const unsigned id = ids->getId(i);
    const int ms = file.texts().song(id).milliseconds;
    std::fprintf(out, "%u\t%d:%02d.%03d\t%s\n", id, ms / 60000, ms / 1000 % 60, ms % 1000,
                 textCells(file.texts(), id).c_str());
  }
  return 0;
}

// The most nearest songs the RIFF table stores for a song: the library fills
// it with a query by id, which asks every method for this many.
constexpr unsigned kMostRiffNeighbours = 250;
// The fewest songs the library makes a RIFF table of (code 27 below).
constexpr unsigned kLeastRiffSongs = 5;

int exportSession(const Options& o, std::FILE* out) {
  SessionFile file(o.session, o.textFile.empty() ? SessionFile::Use::ReadSongs : SessionFile::Use::Read);
  vraISession& session = file.open(choicesOf(o));
  const std::string& output = o.textFile.empty() ? o.riffFile : o.textFile;
  const std::string target = exportTarget(output, file, fileno(out));
  // A signal while the library writes the export takes away what it staged.
  const std::unique_ptr<SignalCleanup> staged = SignalCleanup::ofWrite(target);
  if (!o.textFile.empty()) {
    writingStep(output, target, [&] { session.exportText(target.c_str(), o.mask); });
  } else {
    if (o.count > kMostRiffNeighbours)
      std::fprintf(stderr, "kivet-session: -n %u: the RIFF table stores %u nearest songs at most; storing %u\n",
                   o.count, kMostRiffNeighbours, kMostRiffNeighbours);
    const unsigned count = std::min(o.count, kMostRiffNeighbours);
    writingStep(output, target, [&] {
      try {
        session.exportSimilarityRiff(target.c_str(), count);
      } catch (const vraKivetException& e) {
        if (e.getCode() != VRA_SESSION_TOO_SMALL) throw;
        throw std::runtime_error("the RIFF table needs a session of at least " + std::to_string(kLeastRiffSongs) +
                                 " songs; " + o.session + " holds " + songs(session.getSongCount()) + " (" +
                                 describeCurrentException() + ")");
      }
    });
  }
  // The standard output carries the export alone.
  if (!namesStandardOutput(output))
    std::fprintf(out, "%s: %s\n", output.c_str(), songs(session.getSongCount()).c_str());
  return 0;
}

// A SESSION that is a file of another kind (build song.ogg other.ogg ..., the
// session forgotten) is refused before anything is made beside it, and the
// file stays as it is.
void refuseOtherFile(const Options& o) {
  const std::string other = otherThanSession(o.session);
  if (!other.empty())
    throw HostFailure(o.session + ": " + other + "; SESSION comes first (kivet-session " + o.command + " " +
                      kCommands.at(o.command).operands + ")");
}

// A similarity configuration that cannot serve is refused before the session
// is locked, completed or loaded, and only here: the one named, or for a
// build of a new session the installed one. (Whether the session is there is
// asked unlocked: a session made meanwhile needs no configuration, and one
// removed meanwhile meets the library's own failure of that configuration.)
void checkSimilarityChoice(const Options& o) {
  std::error_code error;
  if (o.similarity)
    checkSimilarityConfiguration(*o.similarity);
  else if (o.command == "build" && !std::filesystem::exists(o.session, error))
    checkSimilarityConfiguration(choicesOf(o).newSimilarity);
}

int run(int argc, char** argv, std::FILE* out) {
  Options o;
  if (!parseArguments(argc, argv, o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (o.help) {
    std::fputs(kUsage, out);
    std::fputs(kHelp, out);
    return 0;
  }
  try {
    refuseOtherFile(o);
    checkSimilarityChoice(o);
    if (o.command == "build") return build(o, out);
    if (o.command == "query") return query(o, out);
    if (o.command == "info") return info(o, out);
    return exportSession(o, out);
  } catch (...) {
    flushResults(out);
    std::fprintf(stderr, "kivet-session: %s\n", describeCurrentException().c_str());
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Before the library says anything: its lines go to the error stream.
  ResultOutput results;
  return finishResults("kivet-session", results.stream(), run(argc, argv, results.stream()));
}
