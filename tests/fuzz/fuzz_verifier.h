#pragma once
// A verifier for the readers that check "dsig" frames and signed streams. It
// accepts the signatures of even length and reads every byte it is handed, so
// that a span reaching outside its data is caught.

#include <cstdint>

#include "signature/rsa_object.h"

class FuzzVerifier : public CRsaObject {
 public:
  bool hasKey() override { return false; }
  uint32_t getSignKey(const unsigned char*& key) override {
    key = nullptr;
    return 0;
  }
  int initSign() override { return 1; }
  void update(const unsigned char* bytes, uint32_t length) override {
    for (uint32_t i = 0; i < length; ++i) sum += bytes[i];
  }
  int sign(const unsigned char*& signature, uint32_t& length) override {
    signature = nullptr;
    length = 0;
    return 1;
  }
  uint32_t getVerifyKey(const unsigned char*& key) override {
    key = reinterpret_cast<const unsigned char*>(kKey);
    return sizeof kKey - 1;
  }
  bool canVerify() override { return true; }
  int initVerify() override { return 0; }
  int verify(const unsigned char* signature, uint32_t length) override {
    update(signature, length);
    return length % 2;
  }

  static constexpr char kKey[] = "kivet";
  unsigned sum = 0;
};
