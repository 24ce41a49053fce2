#pragma once
// The exported programming interface of kivet: the interface classes a host
// works with, the record of one query result, the coded exception and the
// exported free functions.
//
// Every object behind an interface is made by the library and is
// reference-counted: it is handed out with a count of 1 and freed by its
// release(); the destructors are protected, so a host can neither delete nor
// destroy one directly.
//
// Every failure arrives as an exception derived from std::exception, so a host
// that catches vraKivetException and then std::exception catches them all:
// - vraKivetException, carrying an error code, for every failure that an
//   operation has a code for; the codes, their messages and the operations
//   that raise them are listed at vraKivetException below;
// - the similarity engine's own exceptions, whose types are not part of this
//   interface and whose what() names the failing step, where the engine fails
//   in a way no code names: CreateSession and reinitialize with a
//   configuration that cannot be read (a missing or malformed file, an
//   unknown classifier type or metric, a model file that cannot be read);
//   loadSession of a file whose body the session store cannot read (one cut
//   short or damaged inside the block after its header, which holds its
//   stored configuration: "Session::load() corrupted session format", or
//   whose stored configuration is no longer well-formed XML), or beside
//   which the metadata file a session with songs needs is missing, and
//   loadSession into a session with songs of a file that cannot be opened or
//   is no session file; queryById, queryBySignature and exportSimilarityRiff
//   when a query fails inside the engine (a partition tree no query vector
//   finds its way through); addSignature when the methods cannot take the
//   session's first song (a partition tree naming songs no longer held: the
//   session stays as it was);
// - errors of the standard library (allocation failures, length errors),
//   unchanged, except where the list of codes names them (code 1 from
//   CreateSignature, load, save, addSamples and saveSession; code 17 from
//   exportText; code 28 from vraISong's setters and its getters with
//   latin1).
//
// Threads. The library starts none of its own; a host may call it from any
// number of threads at once, each working with objects of its own:
// - Different objects run in parallel, every operation included: creating,
//   extracting into, saving and loading signatures; creating, reinitialising,
//   filling, querying, loading, saving and exporting sessions; the songs and
//   lists they hand out, which are objects of their own (a session's song is
//   a copy of its texts).
// - One object is used by one thread at a time; threads that share one take
//   turns under a lock of their own. An operation uses the objects it is
//   given as well (addSignature and queryBySignature finish their signature
//   and set its id), and a session uses its whitelist and its callback while
//   they are set; it calls the callback on the thread that called the
//   session. The song of vraISignature::getSong is part of its signature,
//   and reference counts are plain counters: a release is a use like any
//   other.
// - A file is not written by two threads at once, nor read while another
//   thread writes it (saveSession and loadSession of one session file).
// - The tempo bounds of the overall similarity's "acfsimilarity" metric
//   (its classifiers' "lowbpm" and "highbpm") are shared by every session of
//   the process: the last configuration read that carries them sets them
//   (CreateSession, reinitialize, and loadSession, which reads the
//   configuration stored in the file). While a session of other bounds reads its configuration, a
//   query in another thread may use either bounds, each bound taken on its
//   own. A process whose configurations all carry the same bounds, or none
//   (as the sample similarity.xml), is not affected.
// - Diagnostic lines that the library writes to the standard streams (listed
//   below) from threads running at once may interleave.
// - The XML parser's platform (Xerces-C) is initialised once, by the first
//   similarity configuration any thread reads, and terminated when the
//   library unloads or the process ends: threads are done with the library
//   by then. A host that uses Xerces-C itself calls XMLPlatformUtils::
//   Initialize and Terminate while no other thread is inside the library;
//   Xerces-C counts the calls, so the host's Terminate leaves the library's
//   initialisation standing.
//
// Lines the library prints. Besides raising its errors, the library writes
// lines of its own to the process's standard streams. Each is quoted below
// on a line of its own, as printed: words in capitals (PATH, ID, ...) stand
// for what varies, "(empty line)" for a line with nothing on it, and a line
// that ends in blanks is put in double quotes.
// On the standard output (std::cout), where a host's own output goes:
// - CreateSession, reinitialize and loadSession into a session without
//   songs (which reads the session's own configuration and the one stored
//   in the file), for a similarity configuration without exactly one
//   "semanticlayer" element (an extraction configuration, say):
//     SLManager::loadConfiguration() more than one or no semantic layer given!
// - addSignature and queryBySignature, when a method cannot adapt the
//   signature (which is then refused with code 6): the failure's own text,
//   for a signature made with another extraction configuration
//     OverallSimilarity::adapt() MSE could not be found in signature to create onset mask
//   and for a failure without a text
//     Exception in SLManager::adaptSignature()
// - queryById, queryBySignature and exportSimilarityRiff, for a stored song
//   that a classifier cannot compare (it is left out of that classifier's
//   candidates): the reason, such as
//     OverallSimilarity::process() distance is not a number
//   followed by
//     Feature: NAME Tuid: ID
// - loadSession, into a session with songs or without, of a session file
//   cut short or damaged after its stored configuration (then code 29): for
//   each entry of its songs that cannot be read, the reader's text, one of
//     stream mismatch!
//     incompatible file version!
//     readMetaStream: corrupted stream
//     cannot parse wholestream!
//     FeatPara member already instantiated
//     Quant: max<minval
//     Quant: steps<1
//     rising must be greater or equal zero
//     polynomial doesn't rise in all points between 0 and 1
//     AdaptedFeatureDb::loadImage() invalid signature in image
//     AdaptedFeatureDb::loadImage() invalid signature id in image
//     AdaptedFeatureDb::loadImage() signature id out of range: ID
//   or, for any other failure of the entry,
//     Unknown error adding signature!
//   for a file that ends before its last entry
//     AdaptedFeatureDb::loadImage() unexpected end of stream
//   and for each song left out
//     AdaptedFeatureDb::loadImage() signature id out of order in image: ID
//     Session::load() song id above the last id and without a record: ID
//   (the last with metadata on).
// On the standard error stream (std::cerr):
// - save, saveSession, exportText and exportSimilarityRiff, for a target
//   refused with code 3 (see save), ORIGIN being vraSignature::save(),
//   vraSession::saveSession(), vraSession::exportText() or
//   vraSession::exportSimilarityRiff():
//     ORIGIN refused PATH, which the caller may not write; nothing written
//     ORIGIN refused PATH: the link LINK, in a sticky folder that others may write, belongs to another user; nothing written
// - loadSession with metadata on, for a metadata file that lacks the
//   records of songs that are kept (then code 29):
//     Session::load() the metadata file PATH lacks the records of K of N songs
// - CreateSession, reinitialize and loadSession into a session without
//   songs, for a similarity configuration the XML parser refuses, before the
//   engine's exception (whose what() says where the XML breaks); for an
//   error of the DOM parser (CODE 81 for a file that is not well-formed
//   XML):
//     (empty line)
//     DOM Error during parsing: 'PATH'
//     DOMException code is:  CODE
//   for another failure of the parser
//     (empty line)
//     Error during parsing: 'PATH'
//     "Exception message is:  "
//     (empty line)
//   or
//     (empty line)
//     Unexpected exception during parsing: 'PATH'
//   and, for the configuration stored in a session file, the same with
//   " memory config" in place of ": 'PATH'":
//     DOM Error during parsing memory config
//     Error during parsing memory config
//     Unexpected exception during parsing memory config
//   When the parser's platform cannot start:
//     Error during initialization! :
//     (empty line)
// - vraISignature::load, loadSession's reading of the entries of its songs,
//   and CreateSession, reinitialize and loadSession reading the model files
//   that an "aspectsimilarity" method names, for a signature that is damaged
//   or in the older chunk format:
//     ERROR: not an Meta Tag
//     ERROR bad stream or sub chunk format)
//     ERROR no sub chunk found!
//     ERROR parsing Meta Tags
//     ERROR invalid TUID: use values > 0
//     Error: stream version mismatch
//     Error: tuid mismatch
//     FeatPara member already instantiated
// - CreateSignature, for extraction settings that a spectral module adapts
//   or cannot resolve (the second, for one, with default.xml at 48 kHz,
//   where its first logarithmic band is one frequency bin wide):
//     Warning: SfmModule: inconsistent settings ('uf'<->'nb'); adapted hiEdge !!!
//     Resolution of log-scaling to small
// The library's code holds a few more lines, which no operation of this
// interface reaches: those of signing and verifying signatures, which it
// does not offer; those of the relevance parameters of a query, which it
// gives no way to set; and checks that its own callers always satisfy. On
// the standard output:
//     WARNING: a0 not equal 1
//     Warning: RSA object loaded but without key for signing.
//     Fingerprints won't be signed!
//     CParameterization::getRelevances() Warning: Couldn't find parameterization of NAME
//     VALUE NAME
//     Parameterization
//       NAME  VALUE
// and on the standard error stream:
//     ERROR stream version not compatible
//     Error: bad md5 Signature
//     Error: wrong public key - it's not the correspondent of
//     the used encryption key. Cannot verify signature!
//     Error: signature failed security verification
//     ERROR container subscript out of range (size=N)
//     ERROR no meta data to write!
//     ERROR: CMetaVec frame not found
//     ERROR: CMetaVec index out of range (must be < N)
// The library prints on no other occasion. A host whose standard output
// carries its own data (a table a script reads) keeps these lines out of it
// as the example hosts do (examples/result_output.cpp in the source tree):
// it flushes its output (std::cout.flush() and fflush(stdout)), moves
// descriptor 1 aside (saved = dup(1)), points descriptor 1 at the standard
// error stream (dup2(2, 1)) while it calls the library, and writes its data
// through the saved descriptor (fdopen(saved, "w")); dup2(saved, 1) puts the
// standard output back (_dup and _dup2 on Windows). The descriptors belong
// to the process: the lines of every thread move with them.
//
// The virtual operations of each interface are declared in the order of their
// table slots, which a compiled host relies on: never reorder them.

#include <exception>

#if defined(_WIN32)
#if defined(KIVET_BUILDING_LIBRARY)
#define KIVET_API __declspec(dllexport)
#else
#define KIVET_API __declspec(dllimport)
#endif
#else
#define KIVET_API __attribute__((visibility("default")))
#endif

namespace vemra_kivet {

// One entry of a result list: a song id and its similarity score. The score
// fuses the ranked lists of the session's classifiers by the songs' ranks,
// not by their distances: a song met in k of the C lists that hold songs,
// with rank r in a list of n songs (r counts the distinct distances nearer
// than its own: 0 for the nearest), scores 0.5 x (the mean over its lists
// of 1 - r / n) + 0.5 x k / C. From 0 to 1, higher for more alike; 1 for a
// song nearest in every list, as the queried song itself in queryById. A
// score orders the songs of one answer; it measures no distance, and the
// scores of two answers do not compare.
struct KIVET_API vraResult {
  unsigned id;
  float score;
};

// The one error of the interface: an error code whose text comes from a fixed
// table of 30 entries (codes 0 to 29). A host compares getCode(); what() is
// the message below, byte for byte (misspellings included).
//
// Every code with its message, and the operations that raise it and when
// (the operations of vraISession unless another interface is named; a
// session "without songs" is one whose getSongCount() is 0):
//
//    0  no message; nothing raises it.
//    1  "Unknown Error"
//       A failure that has no code of its own, allocation failures included,
//       in CreateSignature, vraISignature::load, save and addSamples, and in
//       saveSession. load: the file is cut short, is not a signature file or
//       is of an unknown version, or the path names a folder where the system
//       opens one as a file (Linux; on Windows code 2) (the signature stays
//       as it was). addSamples:
//       a frame fails inside the extraction (the samples of the call and
//       those pending before it are dropped). save, and addSignature and
//       queryBySignature, which finish their signature as save does: the
//       extraction fails while it is finished, in a way code 6 does not name.
//    2  "Failed to open file"
//       vraISignature::load: the file cannot be opened (see code 1 for a
//       folder). loadSession into a session without songs: the file cannot
//       be opened or is a folder. Both: the path is null.
//    3  "Failed to save file"
//       vraISignature::save, saveSession, exportText, exportSimilarityRiff:
//       the path is null; the file cannot be made, written whole or put in
//       place (a folder, a missing folder, a full disk); a target refused as
//       vraISignature::save describes (with a line on the standard error
//       stream). saveSession also when the path would be its own metadata
//       file (NAME.meta, in any case). The files of an earlier save or
//       export stay as they were.
//    4  "File doesn't exist"
//       CreateSignature: the configuration file cannot be opened (or the
//       path is null or names a folder).
//    5  "Session format missmatch"
//       loadSession into a session without songs: the file does not begin
//       with a well-formed session header (another kind of file, or one cut
//       inside its header).
//    6  "Invalid signature"
//       vraISignature::save: the signature holds no data (no samples, or too
//       few for a frame to reach every feature). addSignature and
//       queryBySignature: the signature is not one of the library's, holds
//       no data, cannot be adapted by the session's methods (the reason is
//       printed on the standard output) or cannot be compared with the
//       stored songs (see addSignature: made with another extraction
//       configuration, or at a sampling rate that gives other vector
//       lengths than the session's first song's); nothing is stored. Every
//       addSignature and queryBySignature of a session created with an
//       extraction configuration (default.xml: it names no similarity
//       method, see CreateSession). loadSession into a session with songs:
//       a song of the file that addSignature would refuse; nothing is
//       merged.
//    7  "Invalid session"
//       nothing raises it.
//    8  "Signature not initialized"
//       vraISignature::addSamples, and save, addSignature and
//       queryBySignature unless the signature was loaded, for a signature
//       object that was never initialised; CreateSignature hands out none,
//       so a host of this interface does not meet it.
//    9  "Out of memory"
//       CreateSignature: the extractor cannot be made.
//   10  "Index exceeds dimension"
//       vraIIDList::getId and vraIResultList::getResult: an index not below
//       size(); getSongAt and removeSongAt: one not below getSongCount().
//   11  "Signature ID doesn't exist"
//       getSong, removeSong and queryById: an id the session does not hold.
//       With metadata on, getSong, getSongAt, removeSongAt, queryById,
//       getSongByFileName, exportText and exportSimilarityRiff also meet a
//       song the session holds no record of (after code 29 from a metadata
//       file that lacks it; removeSong removes it). queryById, exportText
//       and exportSimilarityRiff: the whitelist names an id the session no
//       longer holds (a song removed after it was set), found before
//       anything is done: no file is written, and the whitelist stays set,
//       for the host to set a mended one.
//   12  "Loading shared library failed"
//       CreateSignature: the extraction configuration is refused: not
//       well-formed XML, an unknown module type or a plug-in library that
//       cannot be loaded, a module graph that fails its checks, a module's
//       settings; and a similarity configuration (similarity.xml) in its
//       place. Not for a sampling rate of 0, which is code 14.
//   13  "Invalid buffer"
//       vraISignature::addSamples: samples is null and count above 0.
//       downmixStereo: stereo or mono is null and count even and above 0.
//   14  "Invalid parameter"
//       CreateSignature: a sampling rate of 0, refused before the
//       configuration is looked at; a configuration that gives no usable
//       frame length (its "frameDuration" is absent or not positive, or a
//       frame would exceed 2^24 samples, or be shorter than one sample).
//       vraISignature::downmixStereo: an odd count.
//       getSongByFileName: a null name. getWeightName, setWeight and
//       getWeight: always (a session holds no weights).
//   15  "Memory Error"
//       vraISignature::addSamples: the buffers of a frame cannot be
//       allocated.
//   16  "No Metadata / Callback"
//       With metadata off (CreateSession) and no callback set:
//       checkMetadataSource, getSongByFileName, exportText, and loadSession
//       into a session with songs.
//   17  "Error in Callback Interface"
//       exportText: a failure other than a vraKivetException while a song's
//       line is made, above all an exception the host's callback throws.
//   18  "Callback host-error"
//       the library raises it only in the COM server (a callback answering
//       E_FAIL); exportText passes it on as it does any code a callback
//       throws.
//   19  "Callback error: Unknown ID"
//       the library does not raise it here: a host's callback throws
//       vraKivetException(19) during exportText to have that song left out
//       (no line, no progress report); elsewhere it reaches the caller.
//   20  "Session not initialized"
//       every session operation but release, setCallback, clearWhitelist,
//       the weight operations and setWhitelist without ids, on a session
//       never initialised; CreateSession hands out none, and a reinitialize
//       that fails leaves the session as it was, so a host of this
//       interface does not meet it.
//   21  no message; nothing raises it.
//   22  no message; nothing raises it.
//   23  "Invalid Object"
//       setWhitelist: a list that is not one of the library's (getAllIds
//       makes them).
//   24  no message; nothing raises it.
//   25  "ID not in whitelist"
//       queryById: an id not in the whitelist set.
//   26  "Invalid Whitelist"
//       setWhitelist: an id of the list that the session does not hold (the
//       list stays set).
//   27  "Session too small"
//       exportSimilarityRiff: fewer than 5 songs (the whitelist's ids when
//       one is set); the file is not touched.
//   28  "UTF-8 conversion error"
//       vraISong::setTitle, setArtist, setExtraText and setFileName: a null
//       text. Not from a conversion, as every text converts (see vraISong):
//       besides a null text, only an allocation failure while a setter, or
//       a getter with latin1, converts gives this code.
//   29  "Corrupted Session"
//       loadSession into a session without songs of a file holding a song
//       that no query could compare (a feature name damaged on the disk):
//       nothing is loaded. loadSession either way, after what could be read
//       has been loaded, or merged with its onIdChanged calls: entries of a
//       file cut short or damaged could not be read, or carry ids that
//       damage changed (those songs are left out), or, with metadata on, a
//       song id above the file's last id has no record (left out) or the
//       metadata file lacks the record of a song that is kept. The lines
//       printed then are listed at the top of this file.
class KIVET_API vraKivetException : public std::exception {
 public:
  explicit vraKivetException(int code);

  // The message of the code; the empty text for codes without a message.
  const char* what() const noexcept override;
  int getCode() const { return code; }

 private:
  int code;
};

// Implemented by the host: the library asks it for song texts and numbers of
// song ids and reports id changes and progress. Texts returned are copied at
// once and never freed by the library. A callback object stays the host's
// however the host made it: the library never destroys or frees one (the
// interface has no destructor), not even when the session it was given to
// is released.
class KIVET_API vraICallback {
 public:
  vraICallback() = default;
  vraICallback(const vraICallback&) = default;

  // Asked only with metadata off (CreateSession): getSongByFileName asks
  // getFileName of each song until one matches, then getTitle, getArtist and
  // getLength of that one; exportText asks all but getExtraNumber2 of each
  // song it writes. A text is taken as a setter of vraISong takes it (UTF-8
  // or Latin-1); null is the empty text.
  virtual const char* getTitle(unsigned id) = 0;
  virtual const char* getArtist(unsigned id) = 0;
  virtual const char* getExtraText(unsigned id) = 0;
  virtual const char* getFileName(unsigned id) = 0;
  // Milliseconds. With metadata off this is the length the session gives the
  // song: getSongByFileName's song has it, and exportText writes it in whole
  // seconds, rounded down.
  virtual int getLength(unsigned id) = 0;
  virtual int getExtraNumber(unsigned id) = 0;
  // Never asked.
  virtual int getExtraNumber2(unsigned id) = 0;
  // A song took another id than it carried: from addSignature (and
  // queryBySignature with add) at once, from loadSession into a session
  // with songs once all of the file's songs are in. The result is ignored.
  virtual int onIdChanged(unsigned oldId, unsigned newId) = 0;
  // 0 to 1: exportText and exportSimilarityRiff call it after each song they
  // write, with (songs written) / (songs to write).
  virtual void reportProgress(float progress) = 0;
  // Never called: no operation sends a notification. (The two that are
  // named, for the COM server's GetEventName, are 0 "General Notification"
  // and 1 "Newer file version".)
  virtual void notify(int notification) = 0;
};

// One song's texts and numbers. Texts are kept in UTF-8; setters take UTF-8
// or Latin-1, and getters give UTF-8 or, with latin1, Latin-1.
//
// A setter keeps a text unchanged, as UTF-8, as soon as it holds one
// well-formed UTF-8 sequence of two, three or four bytes (a four-byte one of
// a code point from U+10000 to U+10FFFF, such as an emoji) before any byte
// from 0x80 to 0xBF that no sequence holds; any other text is taken for
// Latin-1 and converted (every byte from 0x80 up becomes two bytes). Pure
// ASCII is the same either way. So a Latin-1 text is kept unchanged only in
// the rare case that it reads as UTF-8 (the Latin-1 bytes C3 A9 are kept,
// and read as U+00E9), and one whose Latin-1 bytes follow such a sequence
// is kept as given. Texts stored by an earlier version of the library read
// as they were stored.
//
// A getter with latin1 converts what is stored, and no conversion fails: in
// well-formed UTF-8, a character of Latin-1 (U+0000 to U+00FF) becomes its
// byte, one of two or three bytes beyond Latin-1 becomes one byte, the low
// eight bits of its code point (the euro sign, E2 82 AC, gives 0xAC), and
// one of four bytes (an emoji) is dropped; a byte from 0x80 to 0xBF, 0xFE
// or 0xFF where a character should begin, and a sequence cut off by the end
// of the text, are dropped. Code 28 comes from a null text given to a
// setter, not from a conversion.
class KIVET_API vraISong {
 public:
  vraISong() = default;
  vraISong(const vraISong&) = default;
  vraISong& operator=(const vraISong&) = default;

  virtual void release() = 0;
  // The stored UTF-8, or with latin1 its Latin-1 conversion (characters
  // beyond Latin-1 dropped or cut to one byte, as said above: the
  // conversion never fails). The text stays valid while the song lives,
  // until the same text is set again or, for a Latin-1 reading, read again
  // with latin1.
  virtual const char* getTitle(bool latin1) = 0;
  virtual const char* getArtist(bool latin1) = 0;
  virtual const char* getExtraText(bool latin1) = 0;
  virtual const char* getFileName(bool latin1) = 0;
  virtual int getExtraNumber() = 0;
  // Milliseconds. A signature's song: what its addSamples calls have added
  // (see vraISignature::addSamples: it depends on the sizes of the blocks).
  // A session's song with metadata on: the length its signature had when it
  // was added; with metadata off: 0, but for getSongByFileName, which asks
  // the callback's getLength.
  virtual int getLength() = 0;
  virtual int getExtraNumber2() = 0;
  virtual unsigned getId() = 0;
  virtual void setTitle(const char* text) = 0;
  virtual void setArtist(const char* text) = 0;
  virtual void setExtraText(const char* text) = 0;
  virtual void setFileName(const char* text) = 0;

 protected:
  virtual ~vraISong() = default;
};

// An ordered list of song ids without duplicates.
class KIVET_API vraIIDList {
 public:
  vraIIDList() = default;
  vraIIDList(const vraIIDList&) = default;

  virtual void release() = 0;
  virtual unsigned size() = 0;
  virtual unsigned getId(unsigned index) = 0;
  // The same operation for a constant list.
  virtual unsigned getId(unsigned index) const = 0;
  virtual void add(unsigned id) = 0;
  virtual void remove(unsigned id) = 0;
  virtual bool contains(unsigned id) = 0;

 protected:
  virtual ~vraIIDList() = default;
};

// The ranked answer of a similarity query, the best match first.
class KIVET_API vraIResultList {
 public:
  vraIResultList() = default;
  vraIResultList(const vraIResultList&) = default;

  virtual void release() = 0;
  virtual unsigned size() = 0;
  virtual vraResult getResult(unsigned index) = 0;
  // The same operation for a constant list.
  virtual vraResult getResult(unsigned index) const = 0;

 protected:
  virtual ~vraIResultList() = default;
};

// A song's audio signature, extracted from 16-bit PCM with the configuration
// named at its creation, or loaded from a signature file.
class KIVET_API vraISignature {
 public:
  vraISignature() = default;
  vraISignature(const vraISignature&) = default;

  virtual void release() = 0;
  // Replaces the signature by the one of a signature file and makes it
  // finished, with the file's own text tags; needs no configuration. The
  // song record is not touched: a new signature's song keeps an empty
  // title and length 0 (getSong), and its setters do not reach the loaded
  // signature: saving it writes, and addSignature stores, the file's tags.
  // Codes 2 (no such file) and 1 (not a signature file; a folder, see code
  // 1); the signature then stays as it was.
  virtual void load(const char* path) = 0;
  // Every write of a file (save here, saveSession, exportText and
  // exportSimilarityRiff) goes to what path names, which stays what it is: a
  // regular file or a new name gets a file written aside and renamed into
  // place whole; a symbolic link stays a link, and the file it leads to is
  // replaced so, beside that file; a device or a FIFO (/dev/null) is written
  // into as it stands, never replaced, once everything else of the write is
  // in place. The system's link to a descriptor of the caller (/dev/stdout,
  // /dev/fd/N, /proc/self/fd/N) is written through that descriptor, at its
  // position: a file, a pipe or a socket gets the bytes after what the
  // caller wrote through it, and what it writes next follows them (flush
  // your own buffered output first). A replaced file keeps its permission
  // bits, and its owner and group as far as the caller may set them. Refused
  // with code 3, with a line on the error stream and nothing written: a file
  // the caller may not write (on Windows, one with the read-only attribute),
  // and, at any step of a chain of links, a link in a sticky folder that
  // others may write (/tmp) that belongs neither to the caller nor to the
  // folder's owner: the rule of the system's fs.protected_symlinks, applied
  // whatever that setting is.
  //
  // save writes the signature as it is once finished: its features and, as
  // text tags, the song's title, artist and file name (UTF-8) and length.
  // The first save (or addSignature, queryBySignature) after samples were
  // added finishes it; texts set on the song after that reach it only when
  // samples are added again. Code 6 when it holds no data.
  virtual void save(const char* path) = 0;
  // count 16-bit values of interleaved stereo into count/2 mono values.
  virtual void downmixStereo(const short* stereo, unsigned count, short* mono) = 0;
  // Mono samples at the signature's sampling rate, in blocks of any size.
  // Frames run across the calls, so the features are the same whatever the
  // block sizes; the song's length is not. Each call adds
  // floor(count x 1000 / rate) milliseconds to getSong()->getLength(),
  // rounding down on its own: a block of a whole number of milliseconds (a
  // multiple of rate / gcd(rate, 1000) samples: 441 at 44.1 kHz, 48 at
  // 48 kHz; a whole second at any rate) adds its length exactly; any other
  // block loses its fraction of a millisecond, and a block shorter than a
  // millisecond (count x 1000 < rate: 44 samples or fewer at 44.1 kHz) adds
  // nothing. A song of 180 s at 44.1 kHz (7 938 000 samples) is stored as:
  //   blocks of 44100 or 441     180 000 ms  (exact)
  //   blocks of 1152             179 156 ms  (6890 x 26 ms + 16 for the last 720)
  //   blocks of 4096             178 295 ms  (1937 x 92 ms + 91 for the last 4048)
  //   blocks of 64               124 031 ms  (124 031 x 1 ms + 0 for the last 16)
  //   blocks of 44 or fewer            0 ms
  // The length goes into the signature when it is finished (save,
  // addSignature, queryBySignature) and is the length of its song in a
  // session. It is a 32-bit count that wraps.
  //
  // A signature is one song however it is used: samples added after a save
  // or an addSignature go on after the earlier ones, into the same
  // signature, and its length goes on growing (a signature of 3000 ms given
  // 3 s more is one of 6000 ms, and saving or adding it again stores that
  // one). A new song needs a new signature object.
  virtual void addSamples(const short* samples, unsigned count) = 0;
  // The signature's own song record, with a reference added for the caller:
  // the texts and the length that a save or an add writes into the
  // signature (see save). The song is part of the signature: a reference to
  // either keeps both, so the two may be released in either order. Its id
  // stays 0: adding the signature to a session does not set it
  // (addSignature returns the id). After load it is as it was before (see
  // load).
  virtual vraISong* getSong() = 0;

 protected:
  virtual ~vraISignature() = default;
};

// A database of songs under 32-bit ids, queried for similar songs.
class KIVET_API vraISession {
 public:
  vraISession() = default;
  vraISession(const vraISession&) = default;

  virtual void release() = 0;
  // Into a session without songs, the file's songs, session id and last id;
  // into one with songs, the file's songs are merged, under new ids where
  // theirs are taken (onIdChanged for each of those). With metadata on, the
  // metadata file beside it (NAME.meta, see saveSession) is read too, and
  // must be there when the file holds songs.
  virtual void loadSession(const char* path) = 0;
  // Writes the session file and, with metadata on, the songs' texts into
  // NAME.meta beside it (NAME: the path up to the last point of its file
  // name), which loadSession needs; with metadata off it writes no metadata
  // file and removes one that an earlier save left. See vraISignature::save
  // for where a write goes.
  virtual void saveSession(const char* path) = 0;
  // Empties the session: reads its configuration file (the path given to
  // CreateSession) again into a session without songs, whitelist or last
  // id, under a new session id; the metadata flag and the callback stay. A
  // configuration that can no longer be read leaves the session as it was.
  virtual void reinitialize() = 0;
  // Returns the id the song was stored under: the way to learn it, as the
  // signature's song (getSong()->getId()) stays 0. A signature without an id
  // (every new one) gets the next free id; one that carries an id (it was
  // added before, or saved after an add and loaded) keeps it, unless the
  // session holds that id already: then it gets the next free one, and the
  // callback hears onIdChanged(old id, new id). So adding a signature to the
  // same session again stores its song a second time, under a new id.
  //
  // The session keeps what it needs of the signature (its features as its
  // methods adapt them and, with metadata on, its text tags): the signature
  // may be released right after. The session's first song decides which
  // later ones it takes: each classifier compares vectors of the first
  // song's lengths, so a signature of another extraction configuration, or
  // made at a sampling rate at which the configuration covers other bands,
  // is refused with code 6 (with default.xml, beside songs made at 44.1 kHz:
  // every rate of 32 001 Hz or less). A host extracts all songs of a
  // session at one rate.
  virtual unsigned addSignature(vraISignature* signature) = 0;
  virtual void removeSongAt(unsigned index) = 0;
  virtual void removeSong(unsigned id) = 0;
  virtual unsigned getWeightCount() = 0;
  virtual unsigned getWeightName(unsigned index) = 0;
  virtual void setWeight(unsigned key, unsigned value) = 0;
  virtual unsigned getWeight(unsigned key) = 0;
  // The songs most like the stored song id, best first, and the song itself
  // first when it is among them (with the sample similarity.xml it always
  // is, at score 1: see vraResult): at most count, and at most 250, as the
  // query asks each method for 250 songs. With a whitelist set, only its
  // songs are compared (code 25 for an id outside it, code 11 when it names
  // a song removed since it was set).
  virtual vraIResultList* queryById(unsigned id, unsigned count) = 0;
  // 0 when the session has a source of song texts: metadata on, or a
  // callback set; code 16 otherwise. The four arguments are not used.
  virtual int checkMetadataSource(bool title, bool artist, bool extraText, bool fileName) = 0;
  // At most count results, the best match first; a session without songs
  // answers an empty list. It may hold fewer than count even when count is
  // at least the number of songs: each classifier of the overall similarity
  // (the one method of the sample similarity.xml) keeps only the head of
  // its ranking, its nearest songs until their distances add up to a fifth
  // of the sum of its distances to all songs (songs at distance 0 always
  // stay), and the answer holds the songs of those heads alone (30 of 40
  // songs, say). The whitelist is not used. With add, the signature is
  // added as by addSignature after the query: its own song is not among
  // the results, and its new id is given nowhere (the signature's song
  // still says 0). A host that needs the id queries with add false, then
  // calls addSignature, which returns it.
  virtual vraIResultList* queryBySignature(vraISignature* signature, unsigned count, bool add) = 0;
  virtual unsigned getSongCount() = 0;
  virtual vraIIDList* getAllIds() = 0;
  virtual bool containsId(unsigned id) = 0;
  // getSongAt, getSong and getSongByFileName hand out a new song object
  // each, a copy of the session's texts: its setters change the copy only.
  // With metadata on it carries the song's title, artist, file name and
  // length; with metadata off only its id (but see getSongByFileName).
  virtual vraISong* getSongAt(unsigned index) = 0;
  virtual vraISong* getSong(unsigned id) = 0;
  // Null when no song has that file name. With metadata off, the file names,
  // and the title, artist and length of the song found, come from the
  // callback.
  virtual vraISong* getSongByFileName(const char* fileName) = 0;
  // The callback is borrowed, like the whitelist: it must stay alive while it
  // is set, and the session never frees it.
  virtual void setCallback(vraICallback* callback) = 0;
  // A text listing of the songs (those of the whitelist, in its order, when
  // one is set; else all, in ascending id order), written in text mode, so
  // that lines end as the system's text files do (CR LF on Windows):
  //   #SESSION-ID=SESSIONID;
  //   ID;ARTIST;TITLE;SECONDS;FILENAME;EXTRATEXT;NUMBER;NUMBER2;
  // one line per song: its id (as a signed 32-bit number), then seven
  // fields, each followed by ";" and each written only when its bit is set
  // in fieldMask (else empty): 1 artist, 2 title, 4 length in whole seconds
  // (rounded down), 8 file name, 16 extra text, 32 extra number, 64 second
  // extra number (always 0). Texts are UTF-8 in double quotes, with each
  // double quote inside doubled. With metadata on they are the session's
  // (the extra text empty, the extra number 0); with metadata off they come
  // from the callback, and a song whose callback raises code 19 is left
  // out. Codes 16, 11 (the whitelist), 3 and 17.
  virtual void exportText(const char* path, unsigned fieldMask) = 0;
  // For each song (those of the whitelist, when one is set), its count
  // nearest songs as queryById gives them, as a RIFF table. Codes 27 (fewer
  // than 5 songs), 11 (the whitelist), 3.
  virtual void exportSimilarityRiff(const char* path, unsigned count) = 0;
  // The list is borrowed: the host keeps it alive and unchanged while it is
  // set. queryById compares only its songs, and exportText and
  // exportSimilarityRiff write only them; queryBySignature does not use it.
  // Every id of it must be a song of the session (code 26, the list staying
  // set); when one is removed afterwards, those three raise code 11 before
  // they do anything, until a mended list is set or the list is cleared.
  virtual void setWhitelist(vraIIDList* whitelist) = 0;
  virtual void clearWhitelist() = 0;

 protected:
  virtual ~vraISession() = default;
};

KIVET_API unsigned GetMainVersion();
KIVET_API unsigned GetSubVersion();

// The sample configurations are installed in one folder (share/kivet under
// the prefix), which the CMake package names as KIVET_CONFIG_DIR
// (find_package(kivet)) and pkg-config as its variable configdir
// (pkg-config --variable=configdir kivet): default.xml and mfcc.xml for
// CreateSignature, similarity.xml for CreateSession.

// A session for the similarity-engine configuration file (similarity.xml),
// already initialised. metadata on: the session keeps its songs' texts
// itself, the text tags of each signature added (title, artist, file name,
// length and other text tags), gives them with its songs and writes them
// into NAME.meta beside a saved session (see saveSession); metadata off: it
// keeps none, and asks the callback where it needs texts (getSongByFileName,
// exportText: code 16 without a callback). A null configPath makes a
// session without similarity methods, which refuses every song (code 6)
// until it loads a session file, which brings its configuration. Given an
// extraction configuration in place of a similarity configuration
// (default.xml), the session is made all the same, with no similarity
// method, and prints the line of a missing "semanticlayer" element; every
// addSignature and queryBySignature then raises code 6.
KIVET_API vraISession* CreateSession(const char* configPath, bool metadata);

// A signature object for the feature-extraction configuration file
// (default.xml or mfcc.xml) and the sampling rate (Hz) of the samples it
// will be given. Code 14 for a rate of 0; a similarity configuration in
// place of an extraction configuration raises code 12.
KIVET_API vraISignature* CreateSignature(const char* configPath, unsigned samplingRate);

}  // namespace vemra_kivet
