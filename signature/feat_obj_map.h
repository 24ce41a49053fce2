#pragma once
// The owning name-to-object map of a signature's feature objects, ordered by
// name (byte-wise), with the conversions between feature objects and the
// "FeatObj" metadata frames that carry them in a signature stream.

#include <map>
#include <memory>
#include <string>

#include "signature/feature_object.h"

class CMetaVec;

class CFeatObjMap {
 public:
  using Map = std::map<std::string, std::unique_ptr<CFeatureObjectBase>>;
  using const_iterator = Map::const_iterator;

  CFeatObjMap();
  // An empty map followed by copyFrom(src, skipMs, durationMs, name).
  CFeatObjMap(const CFeatObjMap& src, unsigned skipMs, unsigned durationMs, const char* name);
  virtual ~CFeatObjMap();

  CFeatObjMap(const CFeatObjMap&) = delete;
  CFeatObjMap& operator=(const CFeatObjMap&) = delete;

  // A new empty object for the element tag "flt", "uchr" or "uint" (the
  // feature type plays no part here); the caller owns it. Other tags fail
  // with "unsupported feature object type".
  virtual CFeatureObjectBase* newFeatureObject(unsigned short featureType, const std::string& elementTag) const;

  // The object of that name; null for a null name or when absent.
  CFeatureObjectBase* find(const char* name) const;
  void clear();
  // Takes ownership of obj and stores it under its own name, deleting an
  // object held under that name before. Inserting the held object again
  // does nothing; a null obj fails with "feature object is invalid".
  void insert(CFeatureObjectBase* obj);
  // Absent features of other are copied whole; present ones take other's rows.
  void append(const CFeatObjMap& other);
  // Adds the excerpt (clone(skipMs, durationMs)) of every feature of src whose
  // name is name (every feature when name is null). Fails with "feature
  // <name> not found in map" or "feature map is empty" when the map is
  // empty afterwards.
  void copyFrom(const CFeatObjMap& src, unsigned skipMs, unsigned durationMs, const char* name);

  // Creates feature objects from the "FeatObj" frames of frames whose feature
  // name is name (all when name is null). When the map is empty afterwards:
  // "feature <name> not found in stream" or "feature map is empty". A frame
  // that cannot be read fails with the feature object's error; the objects
  // stored before it stay.
  void readMetaVec(const CMetaVec& frames, const char* name);
  // Appends one "FeatObj" frame per object in name order; returns the number
  // of frames appended.
  unsigned writeMetaVec(CMetaVec& frames) const;

  unsigned size() const { return static_cast<unsigned>(objects.size()); }
  bool empty() const { return objects.empty(); }
  const_iterator begin() const { return objects.begin(); }
  const_iterator end() const { return objects.end(); }

 protected:
  // The objects in name order; the signature data swaps whole maps.
  Map objects;
};
