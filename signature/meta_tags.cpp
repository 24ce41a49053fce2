#include "signature/meta_tags.h"

const char* metaTagName(unsigned index) {
  static const char* const kTags[META_TAG_COUNT] = {
      "TPE1", "TIT2", "TALB", "Tuid", "Cuid",    "dsig",  "TDOR",  "TSRC",  "TDTG",
      "TLEN", "TSCR", "TIME", "FeatObj", "ATPE1", "ATIT2", "ATUID", "IPINF", "XMLObj",
  };
  if (index >= META_TAG_COUNT) return "_inv_tag_";
  return kTags[index];
}
