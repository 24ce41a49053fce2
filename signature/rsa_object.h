#pragma once
// The signer and verifier of signature streams. The library only calls it
// through a pointer that a host may attach; it never creates one itself, so
// the key formats and the signature scheme belong to whoever implements it.
// Only the calling order is fixed: writing asks hasKey, getSignKey, initSign,
// update (repeatedly) and sign; reading asks getVerifyKey, canVerify,
// initVerify, update (repeatedly) and verify.

#include <cstdint>

class CRsaObject {
 public:
  virtual ~CRsaObject() = default;

  // True when a key for signing is loaded.
  virtual bool hasKey() = 0;
  // Sets key to the key blob that goes into a signed stream and returns its
  // length. The blob stays owned by this object and valid until the next call.
  virtual uint32_t getSignKey(const unsigned char*& key) = 0;
  // Starts a signature; 0 on success.
  virtual int initSign() = 0;
  // Adds bytes to the signature or verification in progress.
  virtual void update(const unsigned char* bytes, uint32_t length) = 0;
  // Finishes the signature over everything passed to update since initSign:
  // sets signature and length to it (owned by this object, valid until the
  // next call); 0 on success.
  virtual int sign(const unsigned char*& signature, uint32_t& length) = 0;

  // Sets key to the key blob a stream must carry to be verifiable and returns
  // its length; owned by this object, valid until the next call.
  virtual uint32_t getVerifyKey(const unsigned char*& key) = 0;
  // True when this object is able to verify signatures.
  virtual bool canVerify() = 0;
  // Starts a verification; 0 on success.
  virtual int initVerify() = 0;
  // Checks signature against everything passed to update since initVerify;
  // 0 when valid.
  virtual int verify(const unsigned char* signature, uint32_t length) = 0;

 protected:
  CRsaObject() = default;
  CRsaObject(const CRsaObject&) = default;
  CRsaObject& operator=(const CRsaObject&) = default;
};
