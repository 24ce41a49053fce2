#pragma once
// The COM face of kivet, for hosts: the in-process server KivetLocal.dll with
// one creatable class (CLSID_KivetLocal, interface IKivetLocal), the
// interfaces of the objects it hands out, the interface a host implements to
// receive callbacks, and their identifiers.
//
// Every interface is a custom one derived from IUnknown (no IDispatch, no type
// library). Every method returns an HRESULT: S_OK on success; a library error
// with code c arrives as 0x80040000 | (0x200 + c) (0x80040200 to 0x8004021D),
// any other failure inside the library as 0x80040201, and IKivetLocal::
// GetErrorMessage turns either back into its message. An out pointer that
// cannot be written gives E_POINTER. Objects handed out carry one reference,
// which belongs to the caller; texts handed out are new BSTRs that the caller
// frees. Each interface is declared with its identifier as MIDL declares
// one, so __uuidof and IID_PPV_ARGS work with MinGW and with MSVC.
//
// Threads. The server is registered without a ThreadingModel value, so COM
// makes its objects in the process's main single-threaded apartment (the
// first thread that called CoInitialize), and its interfaces have no proxies:
// CoCreateInstance on any other thread, and on a main thread that joined the
// multithreaded apartment (CoInitializeEx with COINIT_MULTITHREADED), fails
// with E_NOINTERFACE (0x80004002). Such a call first waits for the main
// thread to handle a window message: a main thread that blocks waiting for
// that thread hangs both. Create and use every object on the main thread,
// after CoInitialize; workers hand their PCM to it.
//
// Texts. A BSTR given is converted to 8-bit text with the ANSI code page of
// the system (CP_ACP), and 8-bit text comes back through it: a character the
// code page lacks becomes a look-alike where Windows has one ("l" for U+0142,
// the Polish l with stroke), else "?", and is lost either way. A song's
// setters take the converted bytes as UTF-8 when they hold a well-formed
// sequence (the two characters U+00C3 U+00A9 are stored as the one U+00E9),
// else as Latin-1, and store UTF-8: the characters of code page 1252's bytes
// 0x80 to 0x9F (the euro sign, typographic quotes and dashes and others) are
// stored as the control characters U+0080 to U+009F, which is what other
// readers of the .meta file and of the text export see. What is stored
// therefore depends on the code page of the host that gave it. ISong's plain
// getters give the stored UTF-8 bytes one character each (a title set to
// "Caf" U+00E9 reads "Caf" U+00C3 U+00A9); its Latin1 getters give the text
// in the code page. So: read texts with the Latin1 getters; give only
// characters of the code page; let every host of one session's files run
// with the same code page; and where other programs read the files, keep to
// characters below 0x80 and from 0xA0 up, or have those programs read
// U+0080 to U+009F as the bytes of code page 1252. A host that needs other
// scripts uses the programming interface (kivet.h), which takes UTF-8.
//
// Paths. File paths are converted the same way, so a path with a character
// the code page lacks names another file, or none: under code page 1252 a
// folder named "Z" U+0142 "oty" (Polish) or U+591C U+306E U+66F2 (Japanese)
// cannot be used (Save fails with 0x80040203, Load with 0x80040202, or
// 0x80040201 into a session with songs). Keep the files in folders whose
// names the code page holds.
//
// The methods of each interface are declared in the order of their table
// slots, which compiled hosts rely on: never reorder them.
//
// Installed as <kivet/kivet_local.h> with KivetLocal.dll; it needs only the
// system's COM headers and compiles as C++11 and later.

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#else
// The library's own build elsewhere: the stand-ins of the system's names.
#include "platform/com_platform.h"
#endif

// One definition in the whole program where the language allows it; an
// object of its own in each source file of an older host.
#if __cplusplus >= 201703L
#define KIVET_LOCAL_GUID inline constexpr
#else
#define KIVET_LOCAL_GUID static const
#endif

// The server's class. CoCreateInstance (and IClassFactory::CreateInstance of
// its class object) gives IKivetLocal only: every other interface, IUnknown
// included, is refused with E_NOINTERFACE, so creation helpers that ask for
// IUnknown cannot make it.
//
// Registration (regsvr32 with the DLL's full path) names the file without a
// folder: CoCreateInstance loads KivetLocal.dll by name, from the host's
// folder, the system folders, the current folder or PATH, and its C++
// runtime (libstdc++-6.dll, libgcc_s_dw2-1.dll and libwinpthread-1.dll,
// installed beside it) the same way. Windows loads one module of a name into
// a process, so the library runs on the first of those a process loaded: a
// host either uses that very runtime (MinGW-w64 g++ with the posix thread
// model, of the version that built the DLL) or loads none of those three
// names itself (MSVC, or MinGW linked with -static). A host that carries
// another libstdc++-6.dll (MinGW's win32 thread model) crashes in the
// library.
// {6C1C399F-29ED-49C1-A2BD-C54B5528AE6F}
KIVET_LOCAL_GUID CLSID CLSID_KivetLocal = {
    0x6C1C399F, 0x29ED, 0x49C1, {0xA2, 0xBD, 0xC5, 0x4B, 0x55, 0x28, 0xAE, 0x6F}};
// {894D387E-8ABD-494E-AA3B-8FE04F2B30E0}
KIVET_LOCAL_GUID IID IID_IKivetLocal = {
    0x894D387E, 0x8ABD, 0x494E, {0xAA, 0x3B, 0x8F, 0xE0, 0x4F, 0x2B, 0x30, 0xE0}};
// {B1ED29EE-0C86-4908-B959-CB5DA00B8DC1}
KIVET_LOCAL_GUID IID IID_ISession = {0xB1ED29EE, 0x0C86, 0x4908, {0xB9, 0x59, 0xCB, 0x5D, 0xA0, 0x0B, 0x8D, 0xC1}};
// {A511C0FD-2085-4A49-9BED-0195EE7936F7}
KIVET_LOCAL_GUID IID IID_ISignature = {
    0xA511C0FD, 0x2085, 0x4A49, {0x9B, 0xED, 0x01, 0x95, 0xEE, 0x79, 0x36, 0xF7}};
// {1FFF081F-8CEC-4003-A90F-A693C77C1DF7}
KIVET_LOCAL_GUID IID IID_ISong = {0x1FFF081F, 0x8CEC, 0x4003, {0xA9, 0x0F, 0xA6, 0x93, 0xC7, 0x7C, 0x1D, 0xF7}};
// {D668249A-0027-4E3E-8E78-51BCC58FE14C}
KIVET_LOCAL_GUID IID IID_IIDList = {0xD668249A, 0x0027, 0x4E3E, {0x8E, 0x78, 0x51, 0xBC, 0xC5, 0x8F, 0xE1, 0x4C}};
// {4D81225D-A377-49D3-8833-16294F75115F}
KIVET_LOCAL_GUID IID IID_IResultList = {
    0x4D81225D, 0xA377, 0x49D3, {0x88, 0x33, 0x16, 0x29, 0x4F, 0x75, 0x11, 0x5F}};
// {A61AE16F-907E-4694-99E9-4D004A56AE99}
KIVET_LOCAL_GUID IID IID_ICallback = {0xA61AE16F, 0x907E, 0x4694, {0x99, 0xE9, 0x4D, 0x00, 0x4A, 0x56, 0xAE, 0x99}};

// Implemented by the host and given to ISession::SetCallback: the library asks
// it for the texts and numbers of song ids and tells it of id changes and
// progress, on the thread that called the session. The library takes no
// reference on it: the host keeps it alive while the session may call it.
//
// A session asks for texts only when it keeps none itself (made with
// metadata 0): ExportText asks GetTitle, GetArtist, GetExtraText,
// GetFileName, GetExtraNumber and GetLength for every song, whatever fields
// its mask writes; GetSongByFileName asks GetFileName of each song until one
// matches, then its GetTitle, GetArtist and GetLength. GetExtraNumber2 is
// never asked (the text export's seventh field is always 0) and Notify never
// called.
//
// For the getters the HRESULT decides: E_NOTIMPL means "unknown id" (code
// 19): the text export leaves that song out and goes on, and so a getter a
// host has not implemented and answers with E_NOTIMPL leaves every song out
// of the export, which still succeeds. E_FAIL is a failure of the host (code
// 18) and fails the operation. Any other result, failures included, counts as
// success, with whatever the getter wrote. A text is a BSTR the host
// allocates (null reads as empty); the library frees it.
MIDL_INTERFACE("A61AE16F-907E-4694-99E9-4D004A56AE99")
ICallback : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTitle(unsigned int id, BSTR* title) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArtist(unsigned int id, BSTR* artist) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetExtraText(unsigned int id, BSTR* text) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFileName(unsigned int id, BSTR* fileName) = 0;
  // Milliseconds.
  virtual HRESULT STDMETHODCALLTYPE GetLength(unsigned int id, int* milliseconds) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetExtraNumber(unsigned int id, int* value) = 0;
  // Never asked.
  virtual HRESULT STDMETHODCALLTYPE GetExtraNumber2(unsigned int id, int* value) = 0;
  // A song stored under another id than the one its signature carried:
  // AddSignature (and QueryBySignature with add) of a signature whose id the
  // session holds already, and Load into a session with songs, once for each
  // song of the file it renumbers, after all of them are in. The result is
  // not looked at.
  virtual HRESULT STDMETHODCALLTYPE OnIdChanged(unsigned int oldId, unsigned int newId) = 0;
  // 0 to 1: ExportText and ExportSimilarityRiff after each song they write.
  virtual HRESULT STDMETHODCALLTYPE ReportProgress(float progress) = 0;
  // Never called.
  virtual HRESULT STDMETHODCALLTYPE Notify(int notification) = 0;
};

// One song's texts and numbers. Texts are kept in UTF-8 (see "Texts" above):
// the plain getters give those bytes one character each, the Latin1 getters
// the text in the ANSI code page; setters take either.
MIDL_INTERFACE("1FFF081F-8CEC-4003-A90F-A693C77C1DF7")
ISong : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetId(unsigned int* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTitle(BSTR* title) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTitleLatin1(BSTR* title) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArtist(BSTR* artist) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArtistLatin1(BSTR* artist) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetExtraText(BSTR* text) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetExtraTextLatin1(BSTR* text) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFileName(BSTR* fileName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFileNameLatin1(BSTR* fileName) = 0;
  // Milliseconds.
  virtual HRESULT STDMETHODCALLTYPE GetLength(int* milliseconds) = 0;
  // Always 0: nothing sets the number it gives.
  virtual HRESULT STDMETHODCALLTYPE GetSongValue(int* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetTitle(BSTR title) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetArtist(BSTR artist) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetExtraText(BSTR text) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFileName(BSTR fileName) = 0;
};

// A song's audio signature, extracted from mono 16-bit PCM with the
// extraction configuration named at its creation, or loaded from a signature
// file.
MIDL_INTERFACE("A511C0FD-2085-4A49-9BED-0195EE7936F7")
ISignature : public IUnknown {
  // Replaces the signature by the file's, with the texts stored in it; the
  // song (GetSong) is left as it was.
  virtual HRESULT STDMETHODCALLTYPE Load(BSTR path) = 0;
  virtual HRESULT STDMETHODCALLTYPE Save(BSTR path) = 0;
  // `count` 16-bit values of interleaved stereo into count/2 mono values.
  virtual HRESULT STDMETHODCALLTYPE DownmixStereo(const short* stereo, unsigned int count, short* mono) = 0;
  // Mono samples at the signature's sampling rate.
  virtual HRESULT STDMETHODCALLTYPE AddSamples(const short* samples, unsigned int count) = 0;
  // The signature's own song record, which lives as long as the signature.
  // Its texts are written into the signature when the signature is finished:
  // by the first Save, AddSignature, ReplaceSignature or QueryBySignature
  // after samples were added. Set them before; texts set later reach neither
  // a file nor a session until more samples come. A loaded signature is
  // finished with the file's texts: its song stays blank (Load does not fill
  // it), and its setters do not reach a session.
  virtual HRESULT STDMETHODCALLTYPE GetSong(ISong** song) = 0;
};

// An ordered list of song ids without duplicates.
MIDL_INTERFACE("D668249A-0027-4E3E-8E78-51BCC58FE14C")
IIDList : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCount(unsigned int* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAt(unsigned int index, unsigned int* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE Add(unsigned int id) = 0;
  virtual HRESULT STDMETHODCALLTYPE Remove(unsigned int id) = 0;
  virtual HRESULT STDMETHODCALLTYPE Contains(unsigned int id, BOOL* contains) = 0;
};

// The ranked answer of a similarity query, the best match first.
MIDL_INTERFACE("4D81225D-A377-49D3-8833-16294F75115F")
IResultList : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCount(unsigned int* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAt(unsigned int index, unsigned int* id, float* score) = 0;
};

// A database of songs under 32-bit ids, queried for similar songs.
// Signatures and id lists given to it must be this server's own (0x80040206
// and 0x80040217 otherwise).
MIDL_INTERFACE("B1ED29EE-0C86-4908-B959-CB5DA00B8DC1")
ISession : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetSessionId(BSTR* sessionId) = 0;
  // Into a session without songs: the file's songs, session id and last id,
  // and its stored similarity configuration, whose methods the session takes
  // where it has none of that name (a session made with a null path takes
  // them all). Into a session with songs, the file merges: its songs are
  // added, each under its own id or, where that is taken, the next free one
  // above the session's last id (OnIdChanged tells the callback), with their
  // texts when the session keeps texts; this needs texts kept or a callback
  // set (0x80040210). A missing file: 0x80040202 into a session without
  // songs, 0x80040201 into one with songs.
  virtual HRESULT STDMETHODCALLTYPE Load(BSTR path) = 0;
  // Writes the session file and, when the session keeps texts, its metadata
  // file beside it: the path up to its last point, then ".meta" (a session
  // without texts removes that file). Two sessions of one name in one folder
  // ("music.ses", "music.db") therefore share "music.meta": the last save
  // writes it for both.
  virtual HRESULT STDMETHODCALLTYPE Save(BSTR path) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reinitialize() = 0;
  // The song's id: the signature's own when it carries one the session does
  // not hold, else the next free one above the last id given (and, for an id
  // that was taken, OnIdChanged).
  virtual HRESULT STDMETHODCALLTYPE AddSignature(ISignature* signature, unsigned int* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReplaceSignature(unsigned int id, ISignature* signature) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveSongAt(unsigned int index) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveSong(unsigned int id) = 0;
  // The session keeps no weights: GetWeightCount gives 0, and GetWeightKey,
  // SetWeight and GetWeight fail with 0x8004020E ("Invalid parameter").
  virtual HRESULT STDMETHODCALLTYPE GetWeightCount(unsigned int* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWeightKey(unsigned int index, unsigned int* key) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetWeight(unsigned int key, unsigned int value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWeight(unsigned int key, unsigned int* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryBySignature(ISignature* signature, unsigned int count, BOOL add,
                                                     IResultList** results) = 0;
  // Does nothing and returns S_FALSE.
  virtual HRESULT STDMETHODCALLTYPE Unimplemented(LONG, LONG, LONG, LONG, LONG) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryById(unsigned int id, unsigned int count, IResultList** results) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSongCount(unsigned int* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAllIds(IIDList** ids) = 0;
  // S_OK when the session holds the id, E_FAIL when not.
  virtual HRESULT STDMETHODCALLTYPE ContainsId(unsigned int id) = 0;
  // A song of the session is a copy of its texts: its setters change only
  // that copy, never the session.
  virtual HRESULT STDMETHODCALLTYPE GetSongAt(unsigned int index, ISong** song) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSong(unsigned int id, ISong** song) = 0;
  // S_FALSE and a null song when no song has the file name.
  virtual HRESULT STDMETHODCALLTYPE GetSongByFileName(BSTR fileName, ISong** song) = 0;
  // Null takes the callback away.
  virtual HRESULT STDMETHODCALLTYPE SetCallback(ICallback* callback) = 0;
  // A text file: the line "#SESSION-ID=<session id>;", then one line per song
  // (the whitelist's songs in its order while one is set): the id, then seven
  // fields, each followed by ";"; a field is written only when its bit is set
  // in the mask, its ";" always. Bits: 1 artist, 2 title, 4 length in whole
  // seconds, 8 file name, 16 extra text, 32 extra number, 64 a second extra
  // number (always 0). Texts stand in double quotes, a double quote inside
  // doubled, in the UTF-8 bytes stored. Lines end in CR LF. With mask 3 a
  // song reads 7;"Artist";"Title";;;;;;
  virtual HRESULT STDMETHODCALLTYPE ExportText(BSTR path, LONG fieldMask) = 0;
  // The `count` nearest songs of each song (at least 5 songs: 0x8004021B).
  virtual HRESULT STDMETHODCALLTYPE ExportSimilarityRiff(BSTR path, LONG count) = 0;
  // Queries by id (and both exports) keep to the list's ids. The list is held
  // by a reference until it is cleared or replaced or the session goes; the
  // host must not change it while it is set. A list naming an id the session
  // lacks fails (0x8004021A) but stays set. Null clears the list.
  virtual HRESULT STDMETHODCALLTYPE SetWhitelist(IIDList* whitelist) = 0;
  virtual HRESULT STDMETHODCALLTYPE ClearWhitelist() = 0;
};

// The root object, made by the class factory of CLSID_KivetLocal.
MIDL_INTERFACE("894D387E-8ABD-494E-AA3B-8FE04F2B30E0")
IKivetLocal : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetVersion(unsigned int* mainVersion, unsigned int* subVersion) = 0;
  // The message of an HRESULT of this server; "No error" for 0x80040200.
  virtual HRESULT STDMETHODCALLTYPE GetErrorMessage(HRESULT result, BSTR* message) = 0;
  // 0 "General Notification", 1 "Newer file version".
  virtual HRESULT STDMETHODCALLTYPE GetEventName(unsigned int index, BSTR* name) = 0;
  // configPath: a similarity-engine configuration (share/kivet/similarity.xml);
  // null makes a session without similarity methods, which takes those of
  // the first session file it loads. metadata 1 or more: song texts are kept
  // by the session (and its .meta file); else they come from the host
  // callback.
  virtual HRESULT STDMETHODCALLTYPE CreateSession(BSTR configPath, LONG metadata, ISession** session) = 0;
  // configPath: a feature-extraction configuration (share/kivet/default.xml,
  // mfcc.xml). A session compares only signatures made with the extraction
  // configuration its similarity configuration was written for: default.xml
  // for similarity.xml.
  virtual HRESULT STDMETHODCALLTYPE CreateSignature(BSTR configPath, unsigned int samplingRate,
                                                    ISignature** signature) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateIDList(IIDList** ids) = 0;
};

// The identifiers as MinGW's __uuidof reads them (MSVC reads those of
// MIDL_INTERFACE above).
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(ICallback, 0xA61AE16F, 0x907E, 0x4694, 0x99, 0xE9, 0x4D, 0x00, 0x4A, 0x56, 0xAE, 0x99)
__CRT_UUID_DECL(ISong, 0x1FFF081F, 0x8CEC, 0x4003, 0xA9, 0x0F, 0xA6, 0x93, 0xC7, 0x7C, 0x1D, 0xF7)
__CRT_UUID_DECL(ISignature, 0xA511C0FD, 0x2085, 0x4A49, 0x9B, 0xED, 0x01, 0x95, 0xEE, 0x79, 0x36, 0xF7)
__CRT_UUID_DECL(IIDList, 0xD668249A, 0x0027, 0x4E3E, 0x8E, 0x78, 0x51, 0xBC, 0xC5, 0x8F, 0xE1, 0x4C)
__CRT_UUID_DECL(IResultList, 0x4D81225D, 0xA377, 0x49D3, 0x88, 0x33, 0x16, 0x29, 0x4F, 0x75, 0x11, 0x5F)
__CRT_UUID_DECL(ISession, 0xB1ED29EE, 0x0C86, 0x4908, 0xB9, 0x59, 0xCB, 0x5D, 0xA0, 0x0B, 0x8D, 0xC1)
__CRT_UUID_DECL(IKivetLocal, 0x894D387E, 0x8ABD, 0x494E, 0xAA, 0x3B, 0x8F, 0xE0, 0x4F, 0x2B, 0x30, 0xE0)
#endif
