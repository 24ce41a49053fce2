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
// - vraKivetException, carrying an error code (see its message table), for
//   every failure that an operation has a code for;
// - the similarity engine's own exceptions, whose types are not part of this
//   interface and whose what() names the failing step, where the engine fails
//   in a way no code names: CreateSession and reinitialize with a
//   configuration that cannot be read (a missing or malformed file, an
//   unknown classifier type or metric, a model file that cannot be read);
//   loadSession of a file whose body the session store cannot read, or
//   beside which the metadata file a session with songs needs is missing;
//   queryById, queryBySignature and exportSimilarityRiff when a query fails
//   inside the engine (a partition tree no query vector finds its way
//   through); addSignature when the methods cannot take the session's first
//   song (a partition tree naming songs no longer held: the session stays as
//   it was);
// - errors of the standard library (allocation failures, length errors),
//   unchanged.
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
// - Diagnostic lines that the library writes to the standard streams from
//   threads running at once may interleave.
// - The XML parser's platform (Xerces-C) is initialised once, by the first
//   similarity configuration any thread reads, and terminated when the
//   library unloads or the process ends: threads are done with the library
//   by then. A host that uses Xerces-C itself calls XMLPlatformUtils::
//   Initialize and Terminate while no other thread is inside the library;
//   Xerces-C counts the calls, so the host's Terminate leaves the library's
//   initialisation standing.
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

// One entry of a result list: a song id and its similarity score.
struct KIVET_API vraResult {
  unsigned id;
  float score;
};

// The one error of the interface: an error code whose text comes from a fixed
// table of 30 entries (codes 0 to 29).
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
// song ids and reports id changes, progress and notifications. Texts returned
// are copied at once and never freed by the library. A callback object stays
// the host's however the host made it: the library never destroys or frees
// one (the interface has no destructor), not even when the session it was
// given to is released.
class KIVET_API vraICallback {
 public:
  vraICallback() = default;
  vraICallback(const vraICallback&) = default;

  virtual const char* getTitle(unsigned id) = 0;
  virtual const char* getArtist(unsigned id) = 0;
  virtual const char* getExtraText(unsigned id) = 0;
  virtual const char* getFileName(unsigned id) = 0;
  // Milliseconds.
  virtual int getLength(unsigned id) = 0;
  virtual int getExtraNumber(unsigned id) = 0;
  virtual int getExtraNumber2(unsigned id) = 0;
  virtual int onIdChanged(unsigned oldId, unsigned newId) = 0;
  // 0 to 1.
  virtual void reportProgress(float progress) = 0;
  virtual void notify(int notification) = 0;
};

// One song's texts and numbers. Texts are kept in UTF-8; with latin1 a getter
// converts to Latin-1, and setters accept either encoding.
class KIVET_API vraISong {
 public:
  vraISong() = default;
  vraISong(const vraISong&) = default;
  vraISong& operator=(const vraISong&) = default;

  virtual void release() = 0;
  virtual const char* getTitle(bool latin1) = 0;
  virtual const char* getArtist(bool latin1) = 0;
  virtual const char* getExtraText(bool latin1) = 0;
  virtual const char* getFileName(bool latin1) = 0;
  virtual int getExtraNumber() = 0;
  // Milliseconds.
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
  // and a link that the system would not follow for the caller, at any step:
  // in a sticky folder that others may write (/tmp), another user's link,
  // unless the folder's owner's.
  virtual void save(const char* path) = 0;
  // count 16-bit values of interleaved stereo into count/2 mono values.
  virtual void downmixStereo(const short* stereo, unsigned count, short* mono) = 0;
  // Mono samples at the signature's sampling rate.
  virtual void addSamples(const short* samples, unsigned count) = 0;
  // The signature's own song record, with a reference added for the caller.
  // The song is part of the signature: a reference to either keeps both, so
  // the two may be released in either order.
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
  virtual void loadSession(const char* path) = 0;
  virtual void saveSession(const char* path) = 0;
  virtual void reinitialize() = 0;
  // Returns the id the song was stored under.
  virtual unsigned addSignature(vraISignature* signature) = 0;
  virtual void removeSongAt(unsigned index) = 0;
  virtual void removeSong(unsigned id) = 0;
  virtual unsigned getWeightCount() = 0;
  virtual unsigned getWeightName(unsigned index) = 0;
  virtual void setWeight(unsigned key, unsigned value) = 0;
  virtual unsigned getWeight(unsigned key) = 0;
  virtual vraIResultList* queryById(unsigned id, unsigned count) = 0;
  // The four arguments are not used.
  virtual int checkMetadataSource(bool title, bool artist, bool extraText, bool fileName) = 0;
  virtual vraIResultList* queryBySignature(vraISignature* signature, unsigned count, bool add) = 0;
  virtual unsigned getSongCount() = 0;
  virtual vraIIDList* getAllIds() = 0;
  virtual bool containsId(unsigned id) = 0;
  virtual vraISong* getSongAt(unsigned index) = 0;
  virtual vraISong* getSong(unsigned id) = 0;
  // Null when no song has that file name.
  virtual vraISong* getSongByFileName(const char* fileName) = 0;
  // The callback is borrowed, like the whitelist: it must stay alive while it
  // is set, and the session never frees it.
  virtual void setCallback(vraICallback* callback) = 0;
  virtual void exportText(const char* path, unsigned fieldMask) = 0;
  virtual void exportSimilarityRiff(const char* path, unsigned count) = 0;
  // The list is borrowed: the host keeps it alive and unchanged while it is set.
  virtual void setWhitelist(vraIIDList* whitelist) = 0;
  virtual void clearWhitelist() = 0;

 protected:
  virtual ~vraISession() = default;
};

KIVET_API unsigned GetMainVersion();
KIVET_API unsigned GetSubVersion();

// A session for the similarity-engine configuration file, already initialised.
KIVET_API vraISession* CreateSession(const char* configPath, bool metadata);

// A signature object for the feature-extraction configuration file and the
// sampling rate (Hz) of the samples it will be given.
KIVET_API vraISignature* CreateSignature(const char* configPath, unsigned samplingRate);

}  // namespace vemra_kivet
