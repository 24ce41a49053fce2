// Writes the seed corpus of the fuzz targets with the library's own writers:
//
//   kivet_fuzz_seeds <corpus folder>
//
// Each seed goes to <corpus folder>/<target>/seed-<what>. The chunk format of
// older signature files has no writer any more; its seeds are put together
// from the byte helpers, matrix blocks and META chunks that it is made of.

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "api/session_file_header.h"
#include "examples/save_record.h"
#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/vmtl/heap_matrix.h"
#include "session/metadata_store.h"
#include "session/session.h"
#include "signature/audio_sign_multi.h"
#include "signature/feature_object.h"
#include "signature/fingerprint_stream.h"
#include "signature/meta_vec.h"
#include "signature/quant.h"
#include "signature/quant_module.h"
#include "signature/rsa_object.h"
#include "signature/sign_data_multi.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/generic_container_base.h"
#include "similarity/session_globals.h"
#include "similarity/session_utils.h"
#include "tests/support/session_blocks.h"
#include "tests/support/similarity_songs.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string corpus;

void makeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

// The path of a seed, its target's folder made.
std::string seedPath(const std::string& target, const std::string& what) {
  makeFolder(corpus + "/" + target);
  return corpus + "/" + target + "/seed-" + what;
}

void seed(const std::string& target, const std::string& what, const Bytes& bytes) {
  const std::string path = seedPath(target, what);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::cerr << "cannot write " << path << "\n";
    std::exit(1);
  }
}

void seed(const std::string& target, const std::string& what, const std::string& text) {
  seed(target, what, Bytes(text.begin(), text.end()));
}

Bytes operator+(Bytes left, const Bytes& right) {
  left.insert(left.end(), right.begin(), right.end());
  return left;
}

Bytes text(const std::string& value) { return Bytes(value.begin(), value.end()); }

Bytes u32(uint32_t value) {
  const uint32_t stored = writeUInt32BE(value);
  Bytes bytes(4);
  std::memcpy(bytes.data(), &stored, 4);
  return bytes;
}

Bytes u64(uint64_t value) {
  Bytes bytes(8);
  encodeUInt64BE(bytes.data(), value);
  return bytes;
}

Bytes f32(float value) {
  uint32_t pattern;
  std::memcpy(&pattern, &value, 4);
  return u32(pattern);
}

Bytes vlq(uint32_t value) {
  Bytes bytes(5);
  bytes.resize(writeVLQ(bytes.data(), static_cast<int>(value)));
  return bytes;
}

template <typename T>
HeapMatrix<T> matrixOf(unsigned rows, unsigned cols, T (*value)(unsigned, unsigned)) {
  HeapMatrix<T> m(rows, cols, T(0));
  for (unsigned r = 0; r < rows; ++r)
    for (unsigned c = 0; c < cols; ++c) m(r, c) = value(r, c);
  return m;
}

float ramp(unsigned r, unsigned c) { return 0.25f * static_cast<float>(r) - 0.5f * static_cast<float>(c); }
float unitRange(unsigned r, unsigned c) { return static_cast<float>((r * 7 + c * 3) % 11) / 10.0f; }
float logRange(unsigned r, unsigned c) { return 1e-8f * static_cast<float>(1 + (r * 5 + c) % 9) * 1000.0f; }
unsigned char byteValue(unsigned r, unsigned c) { return static_cast<unsigned char>(r * 16 + c); }
unsigned wordValue(unsigned r, unsigned c) { return 0x01000000u * r + c; }

template <typename T>
Bytes bufferBlock(const HeapMatrix<T>& m) {
  Bytes bytes(20 + m.elementCount() * sizeof(T));
  bytes.resize(m.writeToBuffer(bytes.data(), static_cast<unsigned>(bytes.size()), "bin"));
  return bytes;
}

Bytes streamBlock(const HeapMatrix<float>& m, const char* mode) {
  std::ostringstream out;
  m.write(out, mode);
  return text(out.str());
}

// ---------------------------------------------------------------- matrix blocks

void matrixSeeds() {
  const HeapMatrix<float> none;
  const HeapMatrix<float> floats = matrixOf<float>(2, 3, ramp);
  seed("matrix_block_buffer_fuzz", "float-0x0", bufferBlock(none));
  seed("matrix_block_buffer_fuzz", "float-2x3", bufferBlock(floats));
  seed("matrix_block_buffer_fuzz", "uchr-3x4", bufferBlock(matrixOf<unsigned char>(3, 4, byteValue)));
  seed("matrix_block_buffer_fuzz", "uint-2x2", bufferBlock(matrixOf<unsigned>(2, 2, wordValue)));
  // The buffer writer has no text form; the stream writer's text block reads
  // from a buffer as well.
  seed("matrix_block_buffer_fuzz", "float-2x3-txt", streamBlock(floats, "txt"));

  seed("matrix_block_stream_fuzz", "float-0x0", streamBlock(none, "bin"));
  seed("matrix_block_stream_fuzz", "float-2x3", streamBlock(floats, "bin"));
  seed("matrix_block_stream_fuzz", "float-2x3-txt", streamBlock(floats, "txt"));
  seed("matrix_block_stream_fuzz", "float-4x1-txt", streamBlock(matrixOf<float>(4, 1, unitRange), "txt"));
}

// ---------------------------------------------------------------- quantizers and feature objects

std::unique_ptr<CQuantModule<float>> mixedModule(unsigned columns) {
  auto module = std::make_unique<CQuantModule<float>>(columns);
  const float thresholds[] = {0.1f, 0.2f, 0.4f, 0.8f};
  module->add(newQuantLinear(0.0f, 1.0f, 256, false), 1);
  module->add(newQuantLog(-9.0f, -1.0f, 256, true), 1);
  module->add(newQuantSin(-1.0f, 1.0f, 64, false), 1);
  module->add(newQuantPolynomial(0.0f, 2.0f, 128, false, 0.5f, 1.5f), 1);
  module->add(newQuantIndividual(thresholds, 4, 0.0f, 1.0f), columns - 4);
  return module;
}

Bytes blockOf(const CQuantModule<float>& module) {
  Bytes bytes(quantBlockSize(&module));
  writeQuantBlock(module, bytes.data());
  return bytes;
}

void quantSeeds() {
  CQuantModule<float> empty(4);
  seed("quant_block_fuzz", "empty", blockOf(empty));
  CQuantModule<float> linear(4);
  linear.add(newQuantLinear(0.0f, 1.0f, 256, false), 4);
  seed("quant_block_fuzz", "linear", blockOf(linear));
  CQuantModule<float> polynomial(8);
  polynomial.add(newQuantPolynomial(-1.0f, 1.0f, 256, true, 0.25f, 2.0f), 8);
  seed("quant_block_fuzz", "polynomial", blockOf(polynomial));
  seed("quant_block_fuzz", "mixed", blockOf(*mixedModule(6)));
}

Bytes streamOf(CFeatureObjectBase& object) {
  object.storeParameters();
  Bytes bytes(object.getStreamSize());
  bytes.resize(object.write(bytes.data(), static_cast<unsigned>(bytes.size())));
  return bytes;
}

// Feature-object streams, shared by the META and signature seeds.
Bytes envelopeStream() {
  CFeatureObject<float> object("ASE", 3);
  object.getMatrix() = matrixOf<float>(3, 4, logRange);
  object.setParameter("lf", 250);
  object.setParameter("uf", 4000);
  object.setParameter("re", 4);
  object.setDefaultMsPerRow();
  return streamOf(object);
}

Bytes flatnessStream() {
  CFeatureObject<float> object("SFM", 2);
  object.getMatrix() = matrixOf<float>(2, 4, unitRange);
  object.setParameter("lf", 250);
  object.setParameter("uf", 4000);
  object.setParameter("sr", 1);
  object.setDefaultMsPerRow();
  return streamOf(object);
}

void featureObjectSeeds() {
  const std::string target = "feature_object_fuzz";
  seed(target, "ase", envelopeStream());
  seed(target, "sfm", flatnessStream());

  CFeatureObject<float> plain("MFCC", 5);
  plain.getMatrix() = matrixOf<float>(2, 3, ramp);
  plain.setParameter("text", std::string("value"));
  seed(target, "float-unquantized", streamOf(plain));

  CFeatureObject<float> quantized("mixed", 7);
  quantized.getMatrix() = matrixOf<float>(2, 6, unitRange);
  quantized.setQuantModule(mixedModule(6).release());
  seed(target, "float-quant-block", streamOf(quantized));

  CFeatureObject<float> empty("empty", 3);
  seed(target, "float-empty", streamOf(empty));

  CFeatureObject<unsigned char> bytes("codes", 9);
  bytes.getMatrix() = matrixOf<unsigned char>(2, 5, byteValue);
  bytes.setParameter("count", 12);
  seed(target, "uchr", streamOf(bytes));

  CFeatureObject<unsigned int> words;
  words.setName("words");
  words.getMatrix() = matrixOf<unsigned>(3, 2, wordValue);
  seed(target, "uint", streamOf(words));
}

// ---------------------------------------------------------------- META chunks

CMetaVec sampleFrames() {
  CMetaVec frames;
  const std::string title = "A title";
  frames.add(4, "TIT2", static_cast<unsigned>(title.size()), reinterpret_cast<const unsigned char*>(title.data()));
  frames.add(4, "TPE1", 0, reinterpret_cast<const unsigned char*>(""));
  const Bytes tuid = u64(0x0000000100000002ull);
  frames.add(4, "Tuid", 8, tuid.data());
  const Bytes time = u32(1234);
  frames.add(4, "TIME", 4, time.data());
  const Bytes feature = envelopeStream();
  frames.add(7, "FeatObj", static_cast<unsigned>(feature.size()), feature.data());
  return frames;
}

Bytes chunkOf(const CMetaVec& frames) {
  Bytes bytes(frames.getMetaSize());
  bytes.resize(frames.writeMeta(bytes.data()));
  return bytes;
}

void metaSeeds() {
  const CMetaVec frames = sampleFrames();
  CMetaVec longFrame;
  const Bytes filler(200, 'x');
  longFrame.add(8, "FILENAME", 200, filler.data());

  seed("meta_chunk_buffer_fuzz", "frames", chunkOf(frames));
  seed("meta_chunk_buffer_fuzz", "long-frame", chunkOf(longFrame));

  std::ostringstream out;
  frames.writeMeta(out);
  seed("meta_chunk_stream_fuzz", "frames", out.str());
  std::ostringstream longOut;
  longFrame.writeMeta(longOut);
  seed("meta_chunk_stream_fuzz", "long-frame", longOut.str());
}

// ---------------------------------------------------------------- chunk format

// A sub-chunk with a length field: u32 and a pad byte after odd contents
// before version 3, a VLQ and no padding from version 3 on.
Bytes subChunk(int version, const char* tag, const Bytes& content) {
  if (version >= 3) return text(tag) + vlq(static_cast<uint32_t>(content.size())) + content;
  Bytes bytes = text(tag) + u32(static_cast<uint32_t>(content.size())) + content;
  if (content.size() % 2) bytes.push_back(0);
  return bytes;
}

Bytes subChunks(int version, const Bytes& matrixBlock, float lower = 100.0f, float upper = 8000.0f) {
  const Bytes tuid = version >= 3 ? u64(0x0000000100000003ull) : u32(7);
  return subChunk(version, "VERS", text("F2C17")) + subChunk(version, "INFO", text("VAD on")) + text("TUID") +
         tuid + text("FPAR") + f32(lower) + f32(upper) + u32(22050) +
         subChunk(version, "FEAT", text("SFM0") + matrixBlock);
}

Bytes auidChunk(int version, const Bytes& content) {
  return text("AUID") + u32(static_cast<uint32_t>(version)) + vlq(static_cast<uint32_t>(content.size())) + content;
}

Bytes metaChunkWithSignature() {
  CMetaVec frames;
  const std::string title = "old";
  frames.add(4, "TIT2", 3, reinterpret_cast<const unsigned char*>(title.data()));
  // One scheme byte, the key and a signature of even length.
  const Bytes dsig = Bytes{0x31} + vlq(5) + text("kivet") + vlq(4) + text("sign");
  frames.add(4, "dsig", static_cast<unsigned>(dsig.size()), dsig.data());
  return chunkOf(frames);
}

Bytes id3Tag(bool footer) {
  const Bytes body = text("TIT2body");
  const Bytes header = text("ID3") + Bytes{4, 0, static_cast<unsigned char>(footer ? 0x10 : 0), 0, 0, 0,
                                           static_cast<unsigned char>(body.size())};
  Bytes tag = header + body;
  if (footer) tag = tag + text("3DI") + Bytes(header.begin() + 3, header.end());
  return tag;
}

void chunkSeeds() {
  const std::string target = "chunk_reader_fuzz";
  const Bytes floats = bufferBlock(matrixOf<float>(2, 3, ramp));
  const Bytes codes = bufferBlock(matrixOf<unsigned char>(1, 5, byteValue));
  seed(target, "v2", auidChunk(2, subChunks(2, codes)) + metaChunkWithSignature() + id3Tag(true));
  seed(target, "v3", auidChunk(3, subChunks(3, floats)) + metaChunkWithSignature() + id3Tag(false));
  seed(target, "v5", auidChunk(5, subChunks(3, floats)));
  // A content length of 64 or more stands in the version field.
  const Bytes content = subChunks(2, floats);
  seed(target, "length-first",
       text("AUID") + u32(static_cast<uint32_t>(content.size())) + content + auidChunk(2, subChunks(2, codes)));
}

// ---------------------------------------------------------------- configuration

void configSeeds() {
  const std::string target = "config_tree_fuzz";
  seed(target, "minimal",
       "<featex>\n"
       "  <param frameDuration=\"10\"/>\n"
       "  <module name=\"fex_time_to_weighted_time\" instance=\"win\" window=\"Hann\">\n"
       "    <module name=\"fex_weighted_time_to_complex_spectrum\" instance=\"fft\">\n"
       "      <param transformSize=\"512\"/>\n"
       "      <module name=\"fex_feature_object\" instance=\"out\" featureName=\"ASE\"/>\n"
       "    </module>\n"
       "  </module>\n"
       "</featex>\n");
  seed(target, "module-root", "<module name=\"fex_zerocrossing\" instance=\"zc\"/>");
  seed(target, "entities",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
       "<!DOCTYPE config [<!ENTITY rate \"22050\"><!ATTLIST module kind CDATA \"plain\">]>\n"
       "<config><other><module name=\"fex_filter\" samplingRate=\"&rate;\"><!-- a comment -->"
       "<param a=\"&#65;\" b='&lt;&amp;'/></module></other><param channels=\"1\"/></config>\n");
}

void similarityConfigSeeds() {
  const std::string target = "similarity_config_fuzz";
  seed(target, "configuration",
       "<?xml version=\"1.0\"?>\n"
       "<config>\n"
       "  <similaritymethod module=\"overallsimilarity\">\n"
       "    <classifier name=\"mfcc\" version=\"1\"><param key=\"metric\" value=\"l2norm\"/></classifier>\n"
       "    <classifier name=\"rhythm\" version=\"2\"/>\n"
       "  </similaritymethod>\n"
       "  <parameterization min=\"0\" max=\"1\">\n"
       "    <parameter name=\"tempo\" value=\"0.5\"><cfy name=\"rhythm\"/></parameter>\n"
       "    <parameter name=\"timbre\" value=\"0\"><cfy name=\"mfcc\"/><cfy name=\"rhythm\"/></parameter>\n"
       "  </parameterization>\n"
       "  <semanticlayer>\n"
       "    <class id=\"sound\"><cfy id=\"mfcc\"/></class>\n"
       "    <class id=\"groove\"><cfy id=\"rhythm\"/><cfy id=\"mfcc\"/></class>\n"
       "  </semanticlayer>\n"
       "</config>\n");
  seed(target, "entities",
       "<!DOCTYPE c [<!ENTITY one \"1\"><!ATTLIST parameter value CDATA \"0.25\">]>"
       "<c><classifier name=\"a\"/><parameterization min=\"0\" max=\"&one;\">"
       "<parameter name=\"p\"><cfy name=\"a\"/></parameter></parameterization></c>");
  // One level deeper than the parser takes: the last "cfy" lies at level 1001.
  std::string nested = "<c><semanticlayer>";
  for (int level = 3; level <= 1000; ++level) nested += "<class id=\"x\">";
  nested += "<cfy id=\"a\"/>";
  for (int level = 3; level <= 1000; ++level) nested += "</class>";
  seed(target, "nesting", nested + "</semanticlayer></c>");
}

void partitionTreeSeeds() {
  const std::string target = "adapted_partition_tree_fuzz";
  seed(target, "tree",
       "<?xml version=\"1.0\"?>\n"
       "<trees>\n"
       "  <subtree id=\"aspectsimilarity\"><node id=\"genre\">1 2</node></subtree>\n"
       "  <subtree id=\"overallsimilarity\">\n"
       "    <node id=\"c\">1 2 3 4 5 6\n"
       "      <centroid>1.5 0</centroid>\n"
       "      <centroid>5 0.25</centroid>\n"
       "      <node>1 2 3<centroid>1</centroid><centroid>2.5</centroid><node>1</node><node/><node>2 3</node></node>\n"
       "      <node>4 5 6</node>\n"
       "    </node>\n"
       "    <node id=\"*\">7\t8\n4294967297</node>\n"
       "  </subtree>\n"
       "</trees>\n");
  seed(target, "entities",
       "<!DOCTYPE t [<!ENTITY ids \"1 2 3\"><!ATTLIST node id CDATA \"c\">]>"
       "<t><node>&ids;<centroid>0</centroid><node>&ids;<![CDATA[4]]></node><!-- x --></node></t>");
}

// ---------------------------------------------------------------- signature streams

// Signs with a fixed key and a fixed signature of even length (which the
// fuzz targets' verifier accepts).
class SeedSigner : public CRsaObject {
 public:
  bool hasKey() override { return true; }
  uint32_t getSignKey(const unsigned char*& key) override {
    key = reinterpret_cast<const unsigned char*>("kivet");
    return 5;
  }
  int initSign() override { return 0; }
  void update(const unsigned char*, uint32_t) override {}
  int sign(const unsigned char*& signature, uint32_t& length) override {
    signature = reinterpret_cast<const unsigned char*>("sign");
    length = 4;
    return 0;
  }
  uint32_t getVerifyKey(const unsigned char*& key) override { return getSignKey(key); }
  bool canVerify() override { return true; }
  int initVerify() override { return 0; }
  int verify(const unsigned char*, uint32_t) override { return 0; }
};

std::unique_ptr<CSignDataMulti> sampleSignature() {
  auto data = std::make_unique<CSignDataMulti>();
  const Bytes envelope = envelopeStream();
  const Bytes flatness = flatnessStream();
  CMetaVec frames;
  frames.add(4, "TIT2", 5, reinterpret_cast<const unsigned char*>("title"));
  const Bytes time = u32(215);
  frames.add(4, "TIME", 4, time.data());
  frames.add(7, "FeatObj", static_cast<unsigned>(envelope.size()), envelope.data());
  frames.add(7, "FeatObj", static_cast<unsigned>(flatness.size()), flatness.data());
  data->setMetaVec(frames);
  data->readMetaVec(frames, nullptr);
  data->setTuid(0x12345678u, 1u);
  return data;
}

void signatureSeeds() {
  const std::string target = "signature_stream_fuzz";
  const CAudioSignMulti signature(sampleSignature().release());
  std::ostringstream plain;
  signature.write(plain);
  seed(target, "v5", plain.str());
  // Version 64 is read like version 5.
  std::string wide = plain.str();
  wide[7] = 64;
  seed(target, "v64", wide);

  SeedSigner signer;
  CFingerprintStream stream;
  signature.getSignData()->writeStream(stream, &signer);
  std::ostringstream signedOut;
  stream.write(signedOut);
  seed(target, "signed", signedOut.str());

  const Bytes codes = bufferBlock(matrixOf<unsigned char>(2, 5, byteValue));
  // The flatness object made of a chunk file takes the band edges from "FPAR".
  seed(target, "chunk-v2", auidChunk(2, subChunks(2, codes, 250.0f, 4000.0f)) + metaChunkWithSignature());
}

// ---------------------------------------------------------------- metadata files

void metadataSeeds() {
  const std::string target = "metadata_file_fuzz";
  MetadataStore store;
  store.put(5, MetadataRecord("Artist", "Title"));
  MetadataRecord& song = store.findOrCreate(12);
  song.tags = {{"TPE1", "B"}, {"TIT2", "<Live>"}, {"FILENAME", "/music/b.wav"}, {"TLEN", "215000"}};
  store.findOrCreate(7);
  store.put(UINT64_MAX, MetadataRecord("", "last"));
  store.write(seedPath(target, "songs").c_str());
  MetadataStore().write(seedPath(target, "empty").c_str());
  // Tab lists have no writer.
  seed(target, "tab-list", "id\tartist\ttitle\n1\tArtist\tTitle\n2\tB\tC\n");
}

// ---------------------------------------------------------------- classifier models

CFeatureObject<float>* modelObject(const std::string& name, const HeapMatrix<float>& matrix,
                                   const std::vector<std::pair<std::string, std::string>>& texts = {}) {
  auto* object = new CFeatureObject<float>(name, 0);
  object->getMatrix() = matrix;
  object->setDefaultMsPerRow();
  for (const auto& text : texts) object->setParameter(text.first.c_str(), text.second);
  return object;
}

float identity(unsigned r, unsigned c) { return r == c ? 1.0f : 0.0f; }
float statistics(unsigned r, unsigned c) { return r == 0 ? 0.1f * static_cast<float>(c) : 1.0f + static_cast<float>(c); }
float mixture(unsigned r, unsigned c) { return c == 0 ? -1.0f - static_cast<float>(r) : c > 2 ? 1.0f : 0.5f * static_cast<float>(r); }
float rhythm(unsigned r, unsigned c) { return 1.0f / (1.0f + static_cast<float>((c + 3 * r) % 30)); }

// A model file over two "MFCC" columns: the adaptation objects, then the
// aspects.
std::string modelFile(std::vector<CFeatureObject<float>*> aspects) {
  auto data = std::make_unique<CSignDataMulti>();
  CFeatureObject<float>* ftm = modelObject("FTM", matrixOf<float>(2, 2, identity), {{"features", "MFCC"}});
  ftm->setParameter("groupframes", 2);
  ftm->setParameter("hopframes", 1);
  ftm->setParameter("usevar", 0);
  data->insert(ftm);
  data->insert(modelObject("FSM", matrixOf<float>(2, 2, statistics)));
  data->insert(modelObject("FDM", matrixOf<float>(2, 2, identity)));
  data->insert(modelObject("FQM", matrixOf<float>(1, 1, identity)));
  for (CFeatureObject<float>* aspect : aspects) data->insert(aspect);
  std::ostringstream out;
  CAudioSignMulti(data.release()).write(out);
  return out.str();
}

void modelSeeds() {
  const std::string target = "aspect_classifier_fuzz";
  seed(target, "nn", modelFile({modelObject("1", matrixOf<float>(2, 2, ramp), {{"rejectvalue", "0.5,2"}, {"relevance", "1,1"}}),
                                modelObject("2", matrixOf<float>(1, 2, unitRange), {{"rejectvalue", "1"}, {"relevance", "1"}})}));
  seed(target, "gmm", modelFile({modelObject("1", matrixOf<float>(3, 5, mixture)), modelObject("2", matrixOf<float>(1, 5, mixture))}));
  auto data = std::make_unique<CSignDataMulti>();
  data->insert(modelObject("fast", matrixOf<float>(2, 64, rhythm), {{"peaks", "30, 27"}, {"tempi", "120,133"}}));
  data->insert(modelObject("slow", matrixOf<float>(1, 64, rhythm), {{"peaks", "40"}, {"tempi", "90"}}));
  std::ostringstream out;
  CAudioSignMulti(data.release()).write(out);
  seed(target, "rhythm", out.str());
}

// ---------------------------------------------------------------- session globals and feature database

using Table = GenericPair<std::string, HeapMatrix<float>>;

// A table map as the globals store it: ten buckets, each table in the bucket
// its name hashes to. Maps are filled only from streams; their encoding is
// that of their vector of bucket vectors.
std::string tableMapOf(const std::vector<Table>& tables) {
  const GenericHash hash;
  GenericVector<GenericVector<Table>> buckets;
  buckets.setSize(10);
  for (const Table& table : tables) buckets[hash(table.key) % 10].pushBack(table);
  std::ostringstream out;
  buckets.write(out);
  return out.str();
}

std::string textBlock(const std::string& value) {
  std::ostringstream out;
  writeUInt32LE(out, static_cast<uint32_t>(value.size())) << value;
  return out.str();
}

std::string globalsOf(const std::string& block) {
  SessionGlobals globals;
  std::istringstream in(block);
  globals.read(in);
  std::ostringstream out;
  globals.write(out);
  return out.str();
}

void globalsSeeds() {
  const std::string target = "session_globals_fuzz";
  const HeapMatrix<float> lookup = matrixOf<float>(4, 3, unitRange);
  const HeapMatrix<float> scale = matrixOf<float>(2, 3, ramp);
  const std::string config = "<similarity><similaritymethod module=\"overallsimilarity\"/></similarity>";
  seed(target, "all-blocks",
       globalsOf(std::string(1, '\0') + "LLT" + tableMapOf({{"ov", lookup}, {"AB", lookup}, {"BA", scale}}) + "NRM" +
                 tableMapOf({{"ov", scale}}) + "TRE" + textBlock("<subtree/>") + "XML" + textBlock(config) + "END"));
  seed(target, "xml-only", globalsOf(std::string(1, '\0') + "XML" + textBlock(config) + "END"));
  seed(target, "empty", globalsOf(std::string(1, '\0') + "END"));
  // The older form has no writer any more: a bare count and the text.
  seed(target, "untagged", textBlock(config));
}

std::string imageOf(const AdaptedFeatureDb& db) {
  std::ostringstream out;
  db.saveImage(out);
  return out.str();
}

void databaseSeeds() {
  const std::string target = "adapted_feature_db_fuzz";
  AdaptedFeatureDb db("Database");
  db.add(adaptedSignature(7, {{"ov", {0.25f, 0.75f}}, {"rhythm", {1.0f, 2.0f, 3.0f}}}).release());
  db.add(adaptedSignature(uint64_t{1} << 33 | 3, {{"ov", {0.5f, 1.5f}}, {"rhythm", {4.0f, 5.0f, 6.0f}}}).release());
  seed(target, "named", imageOf(db));

  // Without the name: the count, then the signatures at once.
  std::ostringstream nameless;
  writeUInt32LE(nameless, db.size());
  for (const auto& entry : db) entry.second->write(nameless);
  seed(target, "nameless", nameless.str());

  // Signatures that carry the flag frame of the transforms they received.
  SessionGlobals globals;
  std::istringstream tables(globalsOf(std::string(1, '\0') + "LLT" +
                                      tableMapOf({{"ov", matrixOf<float>(4, 2, unitRange)}}) + "NRM" +
                                      tableMapOf({{"ov", HeapMatrix<float>(2, 2, 1.0f)}}) + "END"));
  globals.read(tables);
  SessionUtils::applyLinearizationLookup(db, globals);
  SessionUtils::applyNormalization(db, globals);
  seed(target, "flagged", imageOf(db));
}

// ---------------------------------------------------------------- session files

// A session file as the session object writes it: its header, then the store.
void sessionSeed(const std::string& target, const std::string& what, Session& session, const std::string& sessionId,
                 uint32_t lastId) {
  const std::string path = seedPath(target, what);
  std::ofstream out(path, std::ios::binary);
  vemra_kivet::SessionFileHeader{sessionId, lastId}.write(out);
  session.save(out, nullptr);
  out.close();
  if (out.fail()) {
    std::cerr << "cannot write " << path << "\n";
    std::exit(1);
  }
}

void readGlobals(Session& session, const std::string& block) {
  std::istringstream in(block);
  session.getGlobals().read(in);
}

void sessionSeeds() {
  const std::string config = "<similarity><similaritymethod module=\"overallsimilarity\"/></similarity>";
  Session songs;
  readGlobals(songs, std::string(1, '\0') + "LLT" + tableMapOf({{"ov", matrixOf<float>(4, 2, unitRange)}}) + "NRM" +
                         tableMapOf({{"ov", HeapMatrix<float>(2, 2, 1.0f)}}) + "XML" + textBlock(config) + "END");
  songs.getDatabase()->add(adaptedSignature(3, {{"ov", {0.25f, 0.75f}}, {"rhythm", {1.0f, 2.0f}}}).release());
  songs.getDatabase()->add(adaptedSignature(9, {{"ov", {0.5f, 1.5f}}, {"rhythm", {4.0f, 5.0f}}}).release());
  sessionSeed("session_file_fuzz", "songs", songs, "0911d7320000006010001234", 9);

  Session empty;
  readGlobals(empty, std::string(1, '\0') + "XML" + textBlock(config) + "END");
  sessionSeed("session_file_fuzz", "empty", empty, "", 0);

  // For the session object: the configuration of its own sessions, under
  // which these songs can be queried.
  Session configured;
  readGlobals(configured, std::string(1, '\0') + "XML" + textBlock(songs::kConfiguration) + "END");
  for (uint32_t id : {1u, 2u, 5u})
    configured.getDatabase()->add(
        adaptedSignature(id, {{"far", {float(id)}}, {"idle", {float(id)}}, {"near", {float(id)}}}).release());
  sessionSeed("vra_session_fuzz", "songs", configured, "0911d7320000006011234", 5);
  Session bare;
  sessionSeed("vra_session_fuzz", "empty", bare, "0911d7320000006011234", 0);
}

// ---------------------------------------------------------------- save records

void saveRecordSeeds() {
  const std::string target = "save_record_fuzz";
  SaveRecord record;
  record.process = ProcessIdentity{4242, 1234567, "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"};
  record.loadFolder = "aB3xZ9";
  seed(target, "load", record.text());
  record.loadFolder.clear();
  record.saving = true;
  record.before = {SaveRecord::Name{false, false, 0}, SaveRecord::Name{true, true, 99}};
  seed(target, "save", record.text());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " <corpus folder>\n";
    return 2;
  }
  corpus = argv[1];
  makeFolder(corpus);
  matrixSeeds();
  quantSeeds();
  featureObjectSeeds();
  metaSeeds();
  chunkSeeds();
  configSeeds();
  similarityConfigSeeds();
  partitionTreeSeeds();
  signatureSeeds();
  metadataSeeds();
  modelSeeds();
  globalsSeeds();
  databaseSeeds();
  sessionSeeds();
  saveRecordSeeds();
  return 0;
}
