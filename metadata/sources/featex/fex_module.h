#pragma once
// The interface of every feature-extraction module, built in or supplied by a
// plug-in library, its two intermediate bases, the module descriptor and the
// framework's exception.
//
// Plug-in libraries are compiled against this header and call through the
// virtual tables declared here, so the order of the virtual operations of
// CFexModule, CFexModuleOld, CFexMetaSinkModule and CFexModuleInfo is part of
// the plug-in contract and must not change.

#include <exception>
#include <string>

#include "platform/export.h"

class SettingsBase;
struct SMetaFrame;

// Data type ids: what a module's process reads and what it writes through its
// output pointer.
enum FexTypeId : int {
  FTI_none = 0,    // delivers no data (a meta sink, or the root)
  FTI_bvFlt = 1,   // float vector, BaseVector<float>
  FTI_bvCplx = 2,  // complex float vector, real and imaginary parts interleaved
  FTI_hmFlt = 3,   // float matrix, HeapMatrix<float>
  FTI_any = 9,     // as an input type: accepted after every parent type
};

// What getModuleKind answers: which base a module derives from.
enum FexModuleKind : int {
  FMK_plain = 0,
  FMK_old = 1,
  FMK_metaSink = 2,
};

// The framework's exception: one message text.
class simpleException : public std::exception {
 public:
  explicit simpleException(const std::string& message) : message(message) {}

  const char* what() const noexcept override { return message.c_str(); }

 private:
  std::string message;
};

// The descriptor of a module class; one singleton per class.
class CFexModuleInfo {
 public:
  virtual ~CFexModuleInfo() = default;

  virtual std::string getAuthor() const = 0;
  virtual std::string getEmail() const = 0;
  virtual std::string getOrganization() const = 0;
  virtual std::string getDate() const = 0;
  virtual std::string getVersion() const = 0;
  // One line saying what the module does; the default process messages end
  // with it.
  virtual std::string getDescription() const = 0;
};

// The descriptor of the modules this project makes: author, contact and
// organisation are the project's, version "1.0"; the class gives the
// description and, where it differs from the usual one, the date.
class CFexProjectModuleInfo : public CFexModuleInfo {
 public:
  explicit CFexProjectModuleInfo(std::string description, std::string date = "Jul 24 2007");

  std::string getAuthor() const override;
  std::string getEmail() const override;
  std::string getOrganization() const override;
  std::string getDate() const override;
  std::string getVersion() const override;
  std::string getDescription() const override;

 private:
  std::string description;
  std::string date;
};

class CFexModule {
 public:
  // Stores only the descriptor: derived classes read their settings themselves.
  CFexModule(SettingsBase* local, SettingsBase* global, const CFexModuleInfo* info);
  CFexModule(const CFexModule&) = delete;
  CFexModule& operator=(const CFexModule&) = delete;
  virtual ~CFexModule() = default;

  // Computes this frame's result from the parent's output object into an
  // object the module owns, and points *output at it (or at null, or at a
  // shared empty object, when there is nothing for the children this frame).
  // The object stays valid until the next process or the module's destruction.
  virtual unsigned process(void** output, const void* input) = 0;
  virtual const std::string& getInputSignalSpace() = 0;
  virtual const std::string& getOutputSignalSpace() = 0;
  virtual int getInputType() = 0;
  virtual int getOutputType() = 0;
  // Called by a module that has exhausted its input; nothing clears the flag.
  virtual void signalEnd();
  virtual bool isEndSignaled();
  // Values per frame produced from an input of inputSize values.
  virtual unsigned getOutputSize(unsigned inputSize) = 0;
  // One line naming the module's parameters.
  virtual std::string getUsage() = 0;
  virtual int getModuleKind();

  // The deleteInstance of every built-in module class: deletes through the
  // virtual destructor; null is ignored.
  KIVET_EXPORT static void deleteInstance(CFexModule* module);

 protected:
  // The description of the module's class, empty when it has no descriptor.
  std::string description() const;

  bool endFlag;
  const CFexModuleInfo* info;
};

// Base of the modules converting real or complex vectors: process dispatches
// on the input and output types to one of four variants, of which a class
// overrides the one it supports.
class CFexModuleOld : public CFexModule {
 public:
  using CFexModule::CFexModule;

  unsigned process(void** output, const void* input) override;
  int getInputType() override;
  int getOutputType() override;
  int getModuleKind() override;

  virtual unsigned processCC(void** output, const void* input);
  virtual unsigned processRC(void** output, const void* input);
  virtual unsigned processCR(void** output, const void* input);
  virtual unsigned processRR(void** output, const void* input);
  virtual bool isInputComplex() = 0;
  virtual bool isOutputComplex() = 0;
};

// A leaf that turns the stream of frames into metadata frames of the signature.
class CFexMetaSinkModule : public CFexModule {
 public:
  using CFexModule::CFexModule;

  int getModuleKind() override;

  // Fills frame with the module's result; a frame left without data means
  // nothing to deliver. final is 1 when the signature is being made.
  virtual void getMetaFrame(SMetaFrame& frame, int final) = 0;
  virtual bool hasMetaFrame(int final) = 0;
};

// The three functions every module class provides; a plug-in library exports
// them under these plain names with C linkage.
using FexNewInstanceFunction = CFexModule* (*)(SettingsBase* local, SettingsBase* global);
using FexDeleteInstanceFunction = void (*)(CFexModule* module);
using FexGetModuleInfoFunction = const CFexModuleInfo* (*)();
