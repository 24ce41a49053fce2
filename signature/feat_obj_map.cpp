#include "signature/feat_obj_map.h"

#include <cstring>
#include <utility>

#include "signature/meta_tags.h"
#include "signature/meta_vec.h"
#include "signature/stream_reader.h"

namespace {

// What readMetaVec needs of a "FeatObj" frame before an object exists: the
// fields at the head of the feature-object stream (u16 version, u16 feature
// type, u8 + name, u8 + element tag). The element tag is read only for a
// frame that is wanted, so that a damaged frame of another feature is passed
// over like any other.
struct FrameHead {
  unsigned short featureType = 0;
  std::string name;
  std::string elementTag;
};

FrameHead readFrameHead(const unsigned char* data, unsigned length, const char* wanted) {
  StreamReader reader(data, length);
  FrameHead head;
  reader.readU16();
  head.featureType = reader.readU16();
  head.name = reader.readText(reader.readU8());
  if (wanted == nullptr || head.name == wanted) head.elementTag = reader.readText(reader.readU8());
  return head;
}

std::string notFound(const char* name, const char* where) {
  return std::string("feature ") + name + " not found in " + where;
}

}  // namespace

CFeatObjMap::CFeatObjMap() = default;

CFeatObjMap::CFeatObjMap(const CFeatObjMap& src, unsigned skipMs, unsigned durationMs, const char* name) {
  copyFrom(src, skipMs, durationMs, name);
}

CFeatObjMap::~CFeatObjMap() = default;

CFeatureObjectBase* CFeatObjMap::newFeatureObject(unsigned short, const std::string& elementTag) const {
  if (elementTag == CFeatureObject<float>::elementTypeTag()) return new CFeatureObject<float>();
  if (elementTag == CFeatureObject<unsigned char>::elementTypeTag()) return new CFeatureObject<unsigned char>();
  if (elementTag == CFeatureObject<unsigned int>::elementTypeTag()) return new CFeatureObject<unsigned int>();
  throw FeatureObjException("unsupported feature object type");
}

CFeatureObjectBase* CFeatObjMap::find(const char* name) const {
  if (name == nullptr) return nullptr;
  const auto found = objects.find(name);
  return found == objects.end() ? nullptr : found->second.get();
}

void CFeatObjMap::clear() { objects.clear(); }

void CFeatObjMap::insert(CFeatureObjectBase* obj) {
  if (obj == nullptr) throw FeatureObjException("feature object is invalid");
  std::unique_ptr<CFeatureObjectBase> owned(obj);
  std::unique_ptr<CFeatureObjectBase>& slot = objects[obj->getName()];
  if (slot.get() == obj) {
    // Already held: ownership stays with the slot.
    owned.release();
    return;
  }
  slot = std::move(owned);
}

void CFeatObjMap::append(const CFeatObjMap& other) {
  for (const auto& entry : other.objects) {
    CFeatureObjectBase* present = find(entry.first.c_str());
    if (present == nullptr)
      insert(entry.second->clone(0, 0));
    else
      present->append(*entry.second);
  }
}

void CFeatObjMap::copyFrom(const CFeatObjMap& src, unsigned skipMs, unsigned durationMs, const char* name) {
  for (const auto& entry : src.objects) {
    if (name != nullptr && entry.first != name) continue;
    insert(entry.second->clone(skipMs, durationMs));
  }
  if (!objects.empty()) return;
  if (name != nullptr) throw FeatureObjException(notFound(name, "map").c_str());
  throw FeatureObjException("feature map is empty");
}

void CFeatObjMap::readMetaVec(const CMetaVec& frames, const char* name) {
  const char* tag = metaTagName(META_TAG_FEATOBJ);
  const unsigned tagLen = static_cast<unsigned>(std::strlen(tag));
  for (int index = frames.find(tag, tagLen); index >= 0; index = frames.find(tag, tagLen, index + 1)) {
    const SMetaFrame& frame = *frames.frame(index);
    const FrameHead head = readFrameHead(frame.data, frame.dataLen, name);
    if (name != nullptr && head.name != name) continue;
    std::unique_ptr<CFeatureObjectBase> object(newFeatureObject(head.featureType, head.elementTag));
    object->read(frame.data, frame.dataLen);
    insert(object.release());
  }
  if (!objects.empty()) return;
  if (name != nullptr) throw FeatureObjException(notFound(name, "stream").c_str());
  throw FeatureObjException("feature map is empty");
}

unsigned CFeatObjMap::writeMetaVec(CMetaVec& frames) const {
  const char* tag = metaTagName(META_TAG_FEATOBJ);
  const unsigned tagLen = static_cast<unsigned>(std::strlen(tag));
  unsigned appended = 0;
  for (const auto& entry : objects) {
    CFeatureObjectBase& object = *entry.second;
    object.storeParameters();
    const unsigned size = object.getStreamSize();
    unsigned char* data = frames.add(tagLen, tag, size);
    try {
      object.write(data, size);
    } catch (...) {
      // No frame of a half-written object stays behind.
      frames.remove(static_cast<int>(frames.size()) - 1);
      throw;
    }
    ++appended;
  }
  return appended;
}
