#pragma once
// Tagged metadata frames: the record that carries one piece of a signature
// (a text tag, the signature id, the time value or one serialised feature
// object) from the extraction modules into the signature data and streams.

#include <cstdint>

// Base of every metadata frame; the module framework fills frames through it.
class CMetaFrameBase {
 public:
  virtual ~CMetaFrameBase();

  // Replaces tag and data by fresh arrays of the given lengths, copies what is
  // given (a null tag or data leaves that array zero-filled) and returns the
  // data array, so that a caller may pass no data and fill it itself.
  virtual unsigned char* set(uint32_t tagLen, uint32_t dataLen, const char* tag,
                             const unsigned char* data) = 0;

 protected:
  CMetaFrameBase() = default;
  CMetaFrameBase(const CMetaFrameBase&) = default;
  CMetaFrameBase& operator=(const CMetaFrameBase&) = default;
};

// One frame. Both arrays are owned and carry a NUL after their bytes, which is
// not part of the tag or the data. A frame built empty has no arrays at all:
// a null data pointer means "nothing delivered", while a frame set with a data
// length of 0 has an (empty) data array.
struct SMetaFrame : public CMetaFrameBase {
  SMetaFrame();
  // Copies whichever of tag and data is given; the other array is allocated
  // (zero-filled) for the caller to fill.
  SMetaFrame(uint32_t tagLen, uint32_t dataLen, const char* tag, const unsigned char* data);
  SMetaFrame(const SMetaFrame& other);
  SMetaFrame(SMetaFrame&& other) noexcept;
  SMetaFrame& operator=(const SMetaFrame& other);
  SMetaFrame& operator=(SMetaFrame&& other) noexcept;
  ~SMetaFrame() override;

  unsigned char* set(uint32_t tagLen, uint32_t dataLen, const char* tag,
                     const unsigned char* data) override;

  // Tags compare by length and bytes; a null tag matches nothing.
  bool hasTag(const char* otherTag, uint32_t otherTagLen) const;

  uint32_t tagLen;
  char* tag;
  uint32_t dataLen;
  unsigned char* data;

 private:
  void release();
};
