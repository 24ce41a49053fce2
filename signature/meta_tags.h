#pragma once
// The fixed table of metadata-frame tag names. The frame list treats every tag
// alike; the table only names the tags other parts of the system look for.

enum EMetaTag : unsigned {
  META_TAG_TPE1 = 0,  // artist text
  META_TAG_TIT2,      // title text
  META_TAG_TALB,
  META_TAG_TUID,      // signature id, 8 bytes big-endian
  META_TAG_CUID,      // 4 bytes big-endian, from chunk-format files
  META_TAG_DSIG,      // signature frame of the chunk format
  META_TAG_TDOR,
  META_TAG_TSRC,
  META_TAG_TDTG,
  META_TAG_TLEN,      // length as decimal text
  META_TAG_TSCR,
  META_TAG_TIME,      // time value, u32 big-endian
  META_TAG_FEATOBJ,   // one serialised feature object
  META_TAG_ATPE1,
  META_TAG_ATIT2,
  META_TAG_ATUID,
  META_TAG_IPINF,
  META_TAG_XMLOBJ,
  META_TAG_COUNT
};

// The tag text of a table index; "_inv_tag_" for an index of META_TAG_COUNT
// or more.
const char* metaTagName(unsigned index);
