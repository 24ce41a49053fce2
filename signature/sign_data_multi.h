#pragma once
// The content of one song's signature: its feature objects by name, its
// metadata frames (never a "FeatObj" frame: the objects live in the map) and
// a time value in whole seconds, optionally with one "active" float feature
// chosen by name.
//
// Frames this class reads and writes: "Tuid" (the 64-bit signature id, 8 bytes
// big-endian, high word first), "TIME" (the time as u32 big-endian) and
// "FeatObj" (one feature-object stream each). When streamed, a signature's
// frames are its metadata frames, "TIME", then one "FeatObj" per feature in
// name order.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "signature/feat_obj_map.h"
#include "signature/meta_vec.h"

class CFingerprintStream;
class CRsaObject;

class CSignDataMulti : public CFeatObjMap {
 public:
  CSignDataMulti();
  // The excerpt copy: the clone(skipMs, durationMs) of every feature of src,
  // or only of the feature of that name; the time moves on by the skip,
  // rounded to whole seconds. With a name, that feature becomes the active
  // one when it is a float feature.
  CSignDataMulti(const CSignDataMulti& src, unsigned skipMs = 0, unsigned durationMs = 0,
                 const char* name = nullptr);
  // The signature held by a stream's frames; with a name, only that feature,
  // which becomes the active one when it is a float feature. A stream that
  // holds no "FeatObj" frame at all gives a signature without features when
  // no name is asked for.
  explicit CSignDataMulti(const CFingerprintStream& stream, const char* name = nullptr);
  ~CSignDataMulti() override;

  // Copies only src's active feature when it has one, else every feature.
  CSignDataMulti& operator=(const CSignDataMulti& src);

  // Feature types 1 and 2 give a flatness object, 3 a spectrum-envelope
  // object; any other type is made by element tag.
  CFeatureObjectBase* newFeatureObject(unsigned short featureType, const std::string& elementTag) const override;

  // Null name: the active feature. Otherwise the float feature of that name;
  // null when absent or of another element type.
  CFeatureObject<float>* getFeature(const char* name = nullptr) const;

  CMetaVec& getMetaVec() { return metaFrames; }
  const CMetaVec& getMetaVec() const { return metaFrames; }
  // metaFrames = frames without "FeatObj", then readTime.
  void setMetaVec(const CMetaVec& frames);
  // Takes the time from the first "TIME" frame (removing it) while no time is held.
  void readTime();
  // With a time held, replaces the first "TIME" frame of frames by a new last one.
  void writeTime(CMetaVec& frames) const;
  uint32_t getTime() const { return time; }

  // Replaces the first "Tuid" frame by a new last one.
  void setTuid(uint32_t low, uint32_t high);
  // The "Tuid" frame as a 64-bit value; 0 without one.
  uint64_t getTuid() const;
  // Whether the id is held as setTuid writes it: every "Tuid" frame holds 8
  // bytes, and all of them the same id (no frame: nothing disagrees). Only
  // then is getTuid the id wherever it is looked for.
  bool tuidFramesAgree() const;
  SMetaFrame* findMetaFrame(const char* tag);
  const SMetaFrame* findMetaFrame(const char* tag) const;
  // Appends a copy; returns the frame count.
  unsigned addMetaFrame(const SMetaFrame& frame);

  using CFeatObjMap::append;

  // Fills out with this signature's frames (metadata, "TIME", one "FeatObj" per
  // feature) and hands it the signer when one is given. Fails with "no feature
  // object to stream" for a signature without features.
  CFingerprintStream& writeStream(CFingerprintStream& out, CRsaObject* signer) const;

  // Brings the named features that hold one row per group of base frames to
  // the common (smallest) frame period. "SEGMENTATION" is passed over.
  void unwrap(const std::vector<std::string>& names, bool interpolate);

  // out becomes this signature with only the frames of the segments labelled
  // label (per the "SEGMENTATION" feature: start and end in seconds, label).
  // False when there is no such feature or no segment carries the label.
  bool splitSegmentation(CSignDataMulti& out, float label) const;

  // Rows [first, first + count) of a feature.
  struct RowRange {
    unsigned first;
    unsigned count;
  };
  // The rows that splitSegmentation keeps of a feature of rows rows, msPerRow
  // apart, in the order it keeps them: whatever is read beside the features,
  // row for row, can be split the same way. False when it keeps such a
  // feature whole (no "SEGMENTATION" feature, no segment labelled label, or
  // msPerRow 0).
  bool segmentRows(float label, float msPerRow, unsigned rows, std::vector<RowRange>& ranges) const;

 private:
  // Makes the first feature of the map the active one when it is a float feature.
  void takeActiveFeature();
  // Start and end in seconds of every segment labelled label, in order.
  std::vector<std::pair<float, float>> labelledSegments(float label) const;

  CMetaVec metaFrames;
  uint32_t time = 0;
  // The active feature is held by name and looked up in the map, so that
  // replacing or clearing the map's objects never leaves it dangling.
  std::string activeFeature;
  bool hasActiveFeature = false;
};
