#include "session/metadata_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>

#include "metadata/sources/common/standard_exception.h"
#include "signature/audio_sign_multi.h"
#include "signature/meta_vec.h"
#include "tests/support/expect_message.h"
#include "tests/support/temp_files.h"

namespace {

using Tags = std::map<std::string, std::string>;
using Records = std::map<uint64_t, Tags>;

const std::string kHead = "<METAFILE>\n<HEADER><VERSION>1.0</VERSION></HEADER>\n<DATA>\n";
const std::string kTail = "</DATA></METAFILE>\n";
const Tags kSong = {{"TPE1", "Artist"}, {"TIT2", "Title"}};

Records read(const std::string& file, bool merge = false, const Records& before = {}) {
  MetadataStore store;
  for (const auto& [id, tags] : before) store.findOrCreate(id).tags = tags;
  const unsigned count = store.read(testfiles::writeFile("input", file).c_str(), merge);
  EXPECT_EQ(count, store.size());
  Records records;
  for (const auto& [id, record] : store.all()) records[id] = record.tags;
  return records;
}

TEST(MetadataStore, WritesTheFileByteForByte) {
  Records records = {{12, {{"TIT2", "Second"}, {"TPE1", "B"}}},
                     {5, kSong},
                     {7, {}},
                     {9, {{"TIT2", "<Live> at <x>"}, {"FILENAME", "two\nlines"}, {"a<b", ""}}},
                     {UINT64_MAX, {{"TLEN", "1000"}}}};
  MetadataStore store;
  for (const auto& [id, tags] : records) store.findOrCreate(id).tags = tags;
  const std::string path = testfiles::tempPath("written.meta");
  store.write(path.c_str());
  const std::string expected = kHead +
                               "<ITEM><TUID>5</TUID><TIT2>Title</TIT2><TPE1>Artist</TPE1></ITEM>\n"
                               "<ITEM><TUID>7</TUID></ITEM>\n"
                               "<ITEM><TUID>9</TUID><FILENAME>two lines</FILENAME><TIT2> Live  at  x </TIT2>"
                               "<a b></a b></ITEM>\n"
                               "<ITEM><TUID>12</TUID><TIT2>Second</TIT2><TPE1>B</TPE1></ITEM>\n"
                               "<ITEM><TUID>-1</TUID><TLEN>1000</TLEN></ITEM>\n" +
                               kTail;
  EXPECT_EQ(testfiles::readFile(path), expected);
  records[9] = {{"TIT2", " Live  at  x "}, {"FILENAME", "two lines"}, {"a b", ""}};
  EXPECT_EQ(read(expected), records);

  expectThrowMessage<AudioSignException>([&] { store.write((path + "/x").c_str()); }, "Cannot open output file !");
  // A full disk: the texts written so far would be taken for all of them.
  if (std::filesystem::exists("/dev/full"))
    expectThrowMessage<StandardException>([&] { store.write("/dev/full"); },
                                           "MetadataStore::write() could not write file: /dev/full");
}

TEST(MetadataStore, ReadsMetadataFilesAndTabLists) {
  const std::string longTitle(3000, 't');
  const struct {
    std::string file;
    Records expected;
  } cases[] = {
      // Missing marks, id 0 and no digits skip the line.
      {kHead + "<TUID>3<a>x</a>\n4</TUID><a>b</a>\n<TUID>0</TUID><a>b</a>\n<TUID>x</TUID><a>b</a>\n"
               "<TUID>6</TUID><a>b</a>\n" + kTail,
       {{6, {{"a", "b"}}}}},
      {kHead + "<TUID>  +8</TUID>\n<TUID>-2</TUID>\n<TUID>99999999999999999999</TUID>\n"
               "<TUID>-99999999999999999999</TUID>\n",
       {{8, {}}, {UINT64_MAX - 1, {}}, {INT64_MAX, {}}, {uint64_t(1) << 63, {}}}},
      // An unclosed pair is dropped; any mark closes a pair; a later pair wins.
      {kHead + "<TUID>4</TUID><TIT2>abc</TIT2><TPE1>x\n<TUID>5</TUID>junk<a>1<><b>2</c>x<a>3</a><b>4<\n",
       {{4, {{"TIT2", "abc"}}}, {5, {{"a", "3"}, {"b", "2"}}}}},
      {kHead + std::string("<TUID>4</TUID><a>x\0y</a>\n", 25), {{4, {{"a", std::string("x\0y", 3)}}}}},
      {kHead + "<TUID>4</TUID><T>" + longTitle + "</T></ITEM>\n<TUID>5</TUID><a>b</a></ITEM>\n",
       {{4, {{"T", longTitle}}}, {5, {{"a", "b"}}}}},
      {kHead + "<TUID>4</TUID><a>b</a></ITEM>\r\n<TUID>5</TUID><a>c\r</a>\r\n",
       {{4, {{"a", "b"}}}, {5, {{"a", "c\r"}}}}},
      // The two lines after the start are never records; a file may end anywhere.
      {"<METAFILE>\n<TUID>1</TUID>\n<TUID>2</TUID>\n<TUID>3</TUID><a>b</a>", {{3, {{"a", "b"}}}}},
      {"", {}},
      // Tab lists: a line without both tabs, an empty one among them, ends the list.
      {"id\tartist\ttitle\n1\tArtist\tTitle", {{0, {{"TPE1", "artist"}, {"TIT2", "title"}}}, {1, kSong}}},
      {"1\tArtist\tTitle\n2\tB\n3\tC\tD\n", {{1, kSong}}},
      {"1\tArtist\tTitle\n\n3\tC\tD\n", {{1, kSong}}},
      {" -1\tA\tT\tU\r\n", {{UINT64_MAX, {{"TPE1", "A"}, {"TIT2", "T\tU"}}}}},
  };
  for (const auto& c : cases) EXPECT_EQ(read(c.file), c.expected) << c.file;

  // A metadata-file record replaces a record held only when merging; a
  // tab-list line replaces it whatever merge says.
  const std::string twice = kHead + "<TUID>4</TUID><a>new</a>\n<TUID>4</TUID><b>newer</b>\n";
  const Records before = {{4, {{"a", "old"}, {"c", "c"}}}, {9, {}}};
  EXPECT_EQ(read(twice, false, before), before);
  EXPECT_EQ(read(twice, true, before), (Records{{4, {{"b", "newer"}}}, {9, {}}}));
  EXPECT_EQ(read(twice, false), (Records{{4, {{"a", "new"}}}}));
  EXPECT_EQ(read("4\tArtist\tTitle\n", false, before), (Records{{4, kSong}, {9, {}}}));
}

TEST(MetadataStore, RecordsByIdAndOpenFailures) {
  MetadataStore store;
  EXPECT_EQ(store.get(3).tags, (Tags{{"TPE1", "no entry"}, {"TIT2", "no entry"}}));
  EXPECT_TRUE(store.put(3, MetadataRecord("A", nullptr)));
  EXPECT_FALSE(store.put(3, MetadataRecord("B", "U")));
  EXPECT_EQ(store.get(3).tags, (Tags{{"TPE1", "A"}, {"TIT2", ""}}));
  EXPECT_TRUE(store.findOrCreate(4).tags.empty());
  EXPECT_TRUE(store.remove(3));
  EXPECT_FALSE(store.remove(3));
  EXPECT_EQ(store.size(), 1u);
  for (const std::string& missing : {testfiles::tempPath("missing.meta"), ::testing::TempDir()})
    expectThrowMessage<AudioSignException>([&] { store.read(missing.c_str(), false); },
                                           "Cannot open Metadata File for reading !");
}

TEST(MetadataRecord, TagsAndMetadataFrames) {
  MetadataRecord record("A", "T");
  const MetadataRecord& constant = record;
  EXPECT_EQ(constant.fileName() + constant.value("TLEN"), "");
  EXPECT_EQ(record.tags.size(), 2u);
  // A read of a missing tag adds it.
  EXPECT_EQ(record.fileName() + record.value("TLEN") + record.artist() + record.title(), "AT");
  EXPECT_EQ(record.tags, (Tags{{"TPE1", "A"}, {"TIT2", "T"}, {"FILENAME", ""}, {"TLEN", ""}}));

  CMetaVec frames;
  for (const auto& [tag, data] : {std::pair<std::string, std::string>{"TIT2", "first"},
                                  {"TIT2", "second"},
                                  {"Tuid", std::string("\0\0\0\5", 4)},
                                  {"TLEN", std::string("12\0junk", 7)},
                                  {std::string("ta\0g", 4), "v"}, {"TALB", "Album"},
                                  {"TIME", std::string("\0\0\0\x10", 4)}, {"TXXX", "\x01\x02"}, {"TCOM", "A\x1b"}})
    frames.add(static_cast<unsigned>(tag.size()), tag.data(), static_cast<unsigned>(data.size()),
               reinterpret_cast<const unsigned char*>(data.data()));
  MetadataRecord song;
  song.setFromSongTags(frames);
  // Every text tag; no id, number or other binary data.
  EXPECT_EQ(song.tags, (Tags{{"TALB", "Album"}, {"TIT2", "second"}, {"TLEN", "12"}, {"ta", "v"}}));
  record.setFromMetaVec(frames);
  EXPECT_EQ(record.tags, (Tags{{"TPE1", "A"}, {"TIT2", "second"}, {"FILENAME", ""}, {"TLEN", "12"}, {"Tuid", ""},
                               {"ta", "v"}, {"TALB", "Album"}, {"TIME", ""}, {"TXXX", "\x01\x02"}, {"TCOM", "A\x1b"}}));
}

TEST(MetadataRecord, SongTextsKeepTheirControlCharacters) {
  // The song's own texts are kept whatever they hold; another tag is kept
  // when its controls are white space alone.
  const struct {
    std::string tag;
    std::string data;
    bool kept;
  } cases[] = {
      {"TPE1", "AC\fDC", true},       {"TIT2", "Title\v", true},          {"TPE1", "\x01", true},
      {"TIT2", "\x1b[31mred", true},  {"FILENAME", "a\x1b.wav", true},   {"TLEN", "12\x01", true},
      {"TALB", "A\fB\vC\t\r", true},  {"TCOM", "\x01Name", false},       {"TCOM", "Name\x1b", false},
  };
  MetadataStore store;
  Records kept;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    CMetaVec frames;
    frames.add(static_cast<unsigned>(c.tag.size()), c.tag.data(), static_cast<unsigned>(c.data.size()),
               reinterpret_cast<const unsigned char*>(c.data.data()));
    MetadataRecord song;
    song.setFromSongTags(frames);
    const Tags expected = c.kept ? Tags{{c.tag, c.data}} : Tags{};
    EXPECT_EQ(song.tags, expected) << c.tag << " " << c.data;
    store.findOrCreate(i + 1).tags = song.tags;
    kept[i + 1] = expected;
  }
  // The metadata file keeps them as they are.
  const std::string path = testfiles::tempPath("controls.meta");
  store.write(path.c_str());
  EXPECT_EQ(read(testfiles::readFile(path)), kept);
}

}  // namespace
