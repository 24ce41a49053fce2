#include "session/metadata_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "signature/audio_sign_multi.h"
#include "signature/meta_vec.h"
#include "tests/support/expect_message.h"
#include "tests/support/temp_files.h"

namespace {

using Tags = std::map<std::string, std::string>;
using Records = std::map<uint64_t, Tags>;

const std::string kHead = "<METAFILE>\n<HEADER><VERSION>1.0</VERSION></HEADER>\n<DATA>\n";
const std::string kTail = "</DATA></METAFILE>\n";

Records recordsOf(const MetadataStore& store) {
  Records records;
  for (const auto& [id, record] : store.all()) records[id] = record.tags;
  return records;
}

MetadataStore storeOf(const Records& records) {
  MetadataStore store;
  for (const auto& [id, tags] : records) store.findOrCreate(id).tags = tags;
  return store;
}

Records read(const std::string& file, bool merge = false, const Records& before = {}) {
  MetadataStore store = storeOf(before);
  const unsigned count = store.read(testfiles::writeFile("input", file).c_str(), merge);
  EXPECT_EQ(count, store.size());
  return recordsOf(store);
}

TEST(MetadataStore, WritesTheFileByteForByte) {
  const Records records = {
      {12, {{"TIT2", "Second"}, {"TPE1", "B"}}},
      {5, {{"TPE1", "A"}, {"TIT2", "First"}}},
      {7, {}},
      {9, {{"TIT2", "<Live> at <x>"}, {"FILENAME", "two\nlines"}, {"a<b", ""}}},
      {UINT64_MAX, {{"TLEN", "1000"}}},
  };
  const std::string path = testfiles::tempPath("written.meta");
  storeOf(records).write(path.c_str());
  const std::string expected = kHead +
                               "<ITEM><TUID>5</TUID><TIT2>First</TIT2><TPE1>A</TPE1></ITEM>\n"
                               "<ITEM><TUID>7</TUID></ITEM>\n"
                               "<ITEM><TUID>9</TUID><FILENAME>two lines</FILENAME><TIT2> Live  at  x </TIT2>"
                               "<a b></a b></ITEM>\n"
                               "<ITEM><TUID>12</TUID><TIT2>Second</TIT2><TPE1>B</TPE1></ITEM>\n"
                               "<ITEM><TUID>-1</TUID><TLEN>1000</TLEN></ITEM>\n" +
                               kTail;
  EXPECT_EQ(testfiles::readFile(path), expected);

  // Read back: the ids and every text, with blanks where brackets and line
  // feeds were.
  Records back = records;
  back[9] = {{"TIT2", " Live  at  x "}, {"FILENAME", "two lines"}, {"a b", ""}};
  EXPECT_EQ(read(expected), back);
}

TEST(MetadataStore, ReadsMetadataFileLines) {
  const std::string longTitle(3000, 't');
  const struct {
    const char* name;
    std::string lines;
    Records expected;
  } cases[] = {
      {"ids 5 and 12",
       "<ITEM><TUID>5</TUID><TIT2>First</TIT2><TPE1>A</TPE1></ITEM>\n"
       "<ITEM><TUID>12</TUID><TIT2>Second</TIT2><TPE1>B</TPE1></ITEM>\n",
       {{5, {{"TIT2", "First"}, {"TPE1", "A"}}}, {12, {{"TIT2", "Second"}, {"TPE1", "B"}}}}},
      {"missing marks and id 0 are skipped",
       "<ITEM><TUID>3<TIT2>x</TIT2></ITEM>\n<ITEM>4</TUID><a>b</a>\n<ITEM><TUID>0</TUID><a>b</a>\n"
       "<ITEM><TUID>x</TUID><a>b</a>\n<ITEM><TUID>6</TUID><a>b</a>\n",
       {{6, {{"a", "b"}}}}},
      {"blanks, sign and range of ids",
       "<TUID>  +8</TUID>\n<TUID>-2</TUID>\n<TUID>99999999999999999999</TUID>\n"
       "<TUID>-99999999999999999999</TUID>\n<TUID>12x</TUID>\n",
       {{8, {}}, {UINT64_MAX - 1, {}}, {INT64_MAX, {}}, {uint64_t(1) << 63, {}}, {12, {}}}},
      {"an unclosed pair and the closing mark are not stored",
       "<ITEM><TUID>4</TUID><TIT2>abc</TIT2><TPE1>x\n<TUID>5</TUID><a>1</a><b>2<\n",
       {{4, {{"TIT2", "abc"}}}, {5, {{"a", "1"}}}}},
      {"any closing mark ends a pair; a later pair of a tag wins",
       "<TUID>4</TUID>junk<a>1<><b>2</c>x<a>3</a></ITEM>\n", {{4, {{"a", "3"}, {"b", "2"}}}}},
      {"NUL bytes are text", std::string("<TUID>4</TUID><a>x\0y</a>\n", 25), {{4, {{"a", std::string("x\0y", 3)}}}}},
      {"a line of any length",
       "<TUID>4</TUID><TIT2>" + longTitle + "</TIT2></ITEM>\n<TUID>5</TUID><a>b</a></ITEM>\n",
       {{4, {{"TIT2", longTitle}}}, {5, {{"a", "b"}}}}},
      {"carriage returns before line feeds", "<TUID>4</TUID><a>b</a></ITEM>\r\n<TUID>5</TUID><a>c\r</a>\r\n",
       {{4, {{"a", "b"}}}, {5, {{"a", "c\r"}}}}},
  };
  for (const auto& c : cases) EXPECT_EQ(read(kHead + c.lines + kTail), c.expected) << c.name;

  // The two lines after the start are never records; a file may end anywhere,
  // without a line end or the closing line.
  EXPECT_EQ(read("<METAFILE>\n<TUID>1</TUID>\n<TUID>2</TUID>\n<TUID>3</TUID><a>b</a></ITEM>"),
            (Records{{3, {{"a", "b"}}}}));
  EXPECT_EQ(read("<METAFILE>"), Records());
  EXPECT_EQ(read(""), Records());
}

TEST(MetadataStore, MergeDecidesWhoseRecordStays) {
  const std::string file = kHead + "<TUID>4</TUID><a>new</a></ITEM>\n<TUID>4</TUID><b>newer</b></ITEM>\n" + kTail;
  const Records before = {{4, {{"a", "old"}, {"c", "kept?"}}}, {9, {{"x", "y"}}}};
  EXPECT_EQ(read(file, false, before), before);
  EXPECT_EQ(read(file, true, before), (Records{{4, {{"b", "newer"}}}, {9, {{"x", "y"}}}}));
  EXPECT_EQ(read(file, false), (Records{{4, {{"a", "new"}}}}));
}

TEST(MetadataStore, ReadsTabLists) {
  const Tags song = {{"TPE1", "Artist"}, {"TIT2", "Title"}};
  const struct {
    const char* name;
    std::string file;
    Records expected;
  } cases[] = {
      {"final line feed", "1\tArtist\tTitle\n2\tB\tT2\n", {{1, song}, {2, {{"TPE1", "B"}, {"TIT2", "T2"}}}}},
      {"no final line feed", "1\tArtist\tTitle", {{1, song}}},
      {"header line under id 0", "id\tartist\ttitle\n1\tArtist\tTitle\n",
       {{0, {{"TPE1", "artist"}, {"TIT2", "title"}}}, {1, song}}},
      {"a line without a second tab ends the list", "1\tArtist\tTitle\n2\tB\n3\tC\tD\n", {{1, song}}},
      {"an empty line ends the list", "1\tArtist\tTitle\n\n3\tC\tD\n", {{1, song}}},
      {"the title keeps later tabs; signs and blanks", " -1\tA\tT\tU\r\n", {{UINT64_MAX, {{"TPE1", "A"}, {"TIT2", "T\tU"}}}}},
  };
  for (const auto& c : cases) EXPECT_EQ(read(c.file), c.expected) << c.name;
  // A tab-list line replaces a record's tags whatever merge says.
  const Records before = {{1, {{"FILENAME", "f"}}}, {2, {{"a", "b"}}}};
  EXPECT_EQ(read("1\tArtist\tTitle\n", false, before), (Records{{1, song}, {2, {{"a", "b"}}}}));
}

TEST(MetadataStore, OpenFailures) {
  MetadataStore store;
  const std::string missing = testfiles::tempPath("missing.meta");
  expectThrowMessage<AudioSignException>([&] { store.read(missing.c_str(), false); },
                                         "Cannot open Metadata File for reading !");
  expectThrowMessage<AudioSignException>([&] { store.read(nullptr, false); }, "Cannot open Metadata File for reading !");
  expectThrowMessage<AudioSignException>([&] { store.write((missing + "/no/such/folder").c_str()); },
                                         "Cannot open output file !");
}

TEST(MetadataStore, RecordsById) {
  MetadataStore store;
  const MetadataRecord& none = store.get(3);
  EXPECT_EQ(none.artist(), "no entry");
  EXPECT_EQ(none.title(), "no entry");
  EXPECT_EQ(none.fileName(), "");
  EXPECT_EQ(none.tags.size(), 2u);

  EXPECT_TRUE(store.put(3, MetadataRecord("A", "T")));
  EXPECT_FALSE(store.put(3, MetadataRecord("B", "U")));
  EXPECT_EQ(store.get(3).artist(), "A");
  store.findOrCreate(4);
  EXPECT_EQ(store.size(), 2u);
  EXPECT_EQ(store.get(4).title(), "");
  EXPECT_TRUE(store.remove(3));
  EXPECT_FALSE(store.remove(3));
  EXPECT_EQ(store.get(3).title(), "no entry");
  store.clear();
  EXPECT_EQ(store.size(), 0u);
}

TEST(MetadataRecord, TagsAndMetadataFrames) {
  MetadataRecord record(nullptr, "T");
  EXPECT_EQ(record.tags, (Tags{{"TPE1", ""}, {"TIT2", "T"}}));
  const MetadataRecord& constant = record;
  EXPECT_EQ(constant.value("TLEN"), "");
  EXPECT_EQ(record.tags.size(), 2u);
  // A read of a missing tag adds it.
  EXPECT_EQ(record.fileName(), "");
  EXPECT_EQ(record.value("TLEN"), "");
  EXPECT_EQ(record.tags, (Tags{{"TPE1", ""}, {"TIT2", "T"}, {"FILENAME", ""}, {"TLEN", ""}}));

  CMetaVec frames;
  const auto add = [&frames](const std::string& tag, const std::string& data) {
    frames.add(static_cast<unsigned>(tag.size()), tag.data(), static_cast<unsigned>(data.size()),
               reinterpret_cast<const unsigned char*>(data.data()));
  };
  add("TIT2", "first");
  add("TPE1", "Artist");
  add("TIT2", "second");
  add("Tuid", std::string("\0\0\0\0\0\0\0\5", 8));
  add("TLEN", std::string("12\0junk", 7));
  add(std::string("ta\0g", 4), "v");
  record.setFromMetaVec(frames);
  EXPECT_EQ(record.tags, (Tags{{"TPE1", "Artist"},
                               {"TIT2", "second"},
                               {"FILENAME", ""},
                               {"TLEN", "12"},
                               {"Tuid", ""},
                               {"ta", "v"}}));
}

}  // namespace
