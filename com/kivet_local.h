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
// frees. Texts cross in the system's ANSI code page: BSTRs given are converted
// to it, and 8-bit texts of the library come back through it. Each interface
// is declared with its identifier as MIDL declares one, so __uuidof and
// IID_PPV_ARGS work with MinGW and with MSVC.
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
// it for the texts and numbers of song ids and tells it of id changes,
// progress and notifications. The library takes no reference on it: the host
// keeps it alive while the session may call it. For the getters, E_NOTIMPL
// means "unknown id" (error code 19) and E_FAIL a failure of the host (code
// 18); any other result counts as success. A text is a BSTR the host
// allocates; the library frees it.
MIDL_INTERFACE("A61AE16F-907E-4694-99E9-4D004A56AE99")
ICallback : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTitle(unsigned int id, BSTR* title) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArtist(unsigned int id, BSTR* artist) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetExtraText(unsigned int id, BSTR* text) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFileName(unsigned int id, BSTR* fileName) = 0;
  // Milliseconds.
  virtual HRESULT STDMETHODCALLTYPE GetLength(unsigned int id, int* milliseconds) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetExtraNumber(unsigned int id, int* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetExtraNumber2(unsigned int id, int* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnIdChanged(unsigned int oldId, unsigned int newId) = 0;
  // 0 to 1.
  virtual HRESULT STDMETHODCALLTYPE ReportProgress(float progress) = 0;
  virtual HRESULT STDMETHODCALLTYPE Notify(int notification) = 0;
};

// One song's texts and numbers. Texts are kept in UTF-8: the plain getters
// give those bytes, the Latin1 getters the Latin-1 text; setters take either.
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
  virtual HRESULT STDMETHODCALLTYPE GetSongValue(int* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetTitle(BSTR title) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetArtist(BSTR artist) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetExtraText(BSTR text) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFileName(BSTR fileName) = 0;
};

// A song's audio signature, extracted from mono 16-bit PCM with the
// configuration named at its creation, or loaded from a signature file.
MIDL_INTERFACE("A511C0FD-2085-4A49-9BED-0195EE7936F7")
ISignature : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Load(BSTR path) = 0;
  virtual HRESULT STDMETHODCALLTYPE Save(BSTR path) = 0;
  // `count` 16-bit values of interleaved stereo into count/2 mono values.
  virtual HRESULT STDMETHODCALLTYPE DownmixStereo(const short* stereo, unsigned int count, short* mono) = 0;
  // Mono samples at the signature's sampling rate.
  virtual HRESULT STDMETHODCALLTYPE AddSamples(const short* samples, unsigned int count) = 0;
  // The signature's own song record, which lives as long as the signature.
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
MIDL_INTERFACE("B1ED29EE-0C86-4908-B959-CB5DA00B8DC1")
ISession : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetSessionId(BSTR* sessionId) = 0;
  virtual HRESULT STDMETHODCALLTYPE Load(BSTR path) = 0;
  virtual HRESULT STDMETHODCALLTYPE Save(BSTR path) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reinitialize() = 0;
  virtual HRESULT STDMETHODCALLTYPE AddSignature(ISignature* signature, unsigned int* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReplaceSignature(unsigned int id, ISignature* signature) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveSongAt(unsigned int index) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveSong(unsigned int id) = 0;
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
  virtual HRESULT STDMETHODCALLTYPE GetSongAt(unsigned int index, ISong** song) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSong(unsigned int id, ISong** song) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSongByFileName(BSTR fileName, ISong** song) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCallback(ICallback* callback) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExportText(BSTR path, LONG fieldMask) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExportSimilarityRiff(BSTR path, LONG count) = 0;
  // The list is borrowed: the host keeps it alive and unchanged while it is set.
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
  // metadata 1 or more: song texts are kept by the session; else they come
  // from the host callback.
  virtual HRESULT STDMETHODCALLTYPE CreateSession(BSTR configPath, LONG metadata, ISession** session) = 0;
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
