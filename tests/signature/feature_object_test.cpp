#include "signature/feature_object.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/vmtl_expect.h"

namespace {

template <typename Call>
void expectFeatureObjException(Call&& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected FeatureObjException " << message;
  } catch (const FeatureObjException& e) {
    EXPECT_EQ(std::string(e.what()), "CFeatureObject: " + message);
  }
}

// Row r holds r * 10 + c in column c.
template <typename T>
void fillRows(CFeatureObject<T>& object, unsigned rows, unsigned cols) {
  HeapMatrix<T>& m = object.getMatrix();
  m.resize(rows, cols);
  for (unsigned r = 0; r < rows; ++r)
    for (unsigned c = 0; c < cols; ++c) m(r, c) = static_cast<T>(r * 10 + c);
}

// A float object with the given frame period (taken from its parameter, as a
// reader would).
std::unique_ptr<CFeatureObject<float>> objectWithPeriod(float msPerRow, unsigned rows, unsigned cols) {
  auto object = std::make_unique<CFeatureObject<float>>("F", 7);
  object->setParameter("msPerRow", msPerRow);
  object->readParameters();
  fillRows(*object, rows, cols);
  return object;
}

std::vector<float> firstColumn(const CFeatureObjectBase& object) {
  const auto& m = dynamic_cast<const CFeatureObject<float>&>(object).getMatrix();
  std::vector<float> column;
  for (unsigned r = 0; r < m.rows; ++r) column.push_back(m(r, 0));
  return column;
}

}  // namespace

TEST(FeatureObjectTest, ConstructionAndQueries) {
  CFeatureObject<float> object("loud", 5);
  EXPECT_EQ(object.getName(), "loud");
  EXPECT_EQ(object.getFeatureType(), 5);
  EXPECT_EQ(object.getMsPerRow(), 0.0f);
  EXPECT_EQ(object.getElementType(), "flt");
  EXPECT_EQ(CFeatureObject<unsigned char>().getElementType(), "uchr");
  EXPECT_EQ(CFeatureObject<unsigned int>().getElementType(), "uint");
  EXPECT_TRUE(object.isEmpty());
  object.setName("other");
  EXPECT_EQ(object.getName(), "other");

  // No frame period stored: the default 30 ms.
  object.readParameters();
  EXPECT_EQ(object.getMsPerRow(), 30.0f);
  fillRows(object, 7, 3);
  EXPECT_FALSE(object.isEmpty());
  EXPECT_EQ(object.getDurationMs(), 210);
  FeatureDataInfo info;
  EXPECT_EQ(&object.getDataInfo(info), &info);
  EXPECT_STREQ(info.elementTypeTag, "flt");
  EXPECT_EQ(info.rows, 7u);
  EXPECT_EQ(info.cols, 3u);
  EXPECT_EQ(info.data, object.getMatrix().data);

  const auto fractional = objectWithPeriod(23.25f, 3, 1);
  EXPECT_EQ(fractional->getDurationMs(), 69);  // 69.75 truncated

  object.clear();
  EXPECT_EQ(object.getName(), "");
  EXPECT_EQ(object.getFeatureType(), 0);
  EXPECT_EQ(object.getMsPerRow(), 0.0f);
  EXPECT_TRUE(object.isEmpty());
  int unused;
  EXPECT_FALSE(object.getParameter(unused, "msPerRow", false));
}

TEST(FeatureObjectTest, Parameters) {
  CFeatureObject<float> object("F", 1);
  object.setParameter("period", 30.0f);
  object.setParameter("half", 0.5f);
  object.setParameter("big", 1.5e7f);
  object.setParameter("count", 12);
  object.setParameter("label", std::string("xyz"));
  object.setParameter(std::make_pair(std::string("pair"), std::string("p")));

  std::string text;
  EXPECT_TRUE(object.getParameter(text, "period", false));
  EXPECT_EQ(text, "30");
  EXPECT_TRUE(object.getParameter(text, "half", false));
  EXPECT_EQ(text, "0.5");
  EXPECT_TRUE(object.getParameter(text, "big", false));
  EXPECT_EQ(text, "1.5e+07");
  EXPECT_TRUE(object.getParameter(text, "pair", false));
  EXPECT_EQ(text, "p");

  // The integer lookup finds a float parameter by its text; erasing removes it.
  int number = -1;
  EXPECT_TRUE(object.getParameter(number, "period", true));
  EXPECT_EQ(number, 30);
  EXPECT_FALSE(object.getParameter(text, "period", false));
  EXPECT_TRUE(object.getParameter(number, "count", false));
  EXPECT_EQ(number, 12);
  // Integers live in their own map: the text lookups do not see them.
  EXPECT_FALSE(object.getParameter(text, "count", false));
  float value = -1.0f;
  EXPECT_FALSE(object.getParameter(value, "count", false));
  EXPECT_EQ(value, -1.0f);
  EXPECT_TRUE(object.getParameter(value, "half", true));
  EXPECT_EQ(value, 0.5f);
  EXPECT_FALSE(object.getParameter(value, "half", true));
  EXPECT_TRUE(object.getParameter(number, "count", true));
  EXPECT_FALSE(object.getParameter(number, "count", true));
  EXPECT_TRUE(object.getParameter(text, "label", true));
  EXPECT_EQ(text, "xyz");
  EXPECT_FALSE(object.getParameter(text, "label", true));

  // Texts that are no numbers read as atoi and atof read them; numbers beyond
  // the int range saturate.
  object.setParameter("word", std::string("abc"));
  object.setParameter("huge", std::string("99999999999"));
  object.setParameter("lead", std::string("  42xyz"));
  EXPECT_TRUE(object.getParameter(number, "word", false));
  EXPECT_EQ(number, 0);
  EXPECT_TRUE(object.getParameter(number, "huge", false));
  EXPECT_EQ(number, 2147483647);
  EXPECT_TRUE(object.getParameter(number, "lead", false));
  EXPECT_EQ(number, 42);
  EXPECT_TRUE(object.getParameter(value, "lead", false));
  EXPECT_EQ(value, 42.0f);
}

TEST(FeatureObjectTest, DumpPrintsBothMaps) {
  CFeatureObject<float> object("F", 1);
  object.setParameter("msPerRow", 20.0f);
  object.readParameters();
  object.setParameter("name", std::string("x"));
  object.setParameter("b", 2);
  object.setParameter("a", -1);
  std::ostringstream out;
  object.dump(out);
  EXPECT_EQ(out.str(),
            "Parameter map <string>:\n\tmsPerRow\t = 20\n\tname\t = x\n"
            "Parameter map <int>:\n\ta\t = -1\n\tb\t = 2\n");
}

TEST(FeatureObjectTest, WholeCopies) {
  auto source = objectWithPeriod(20.0f, 5, 2);
  source->setParameter("k", 3);
  std::unique_ptr<CFeatureObjectBase> copy(source->clone(0, 0));
  auto* same = dynamic_cast<CFeatureObject<float>*>(copy.get());
  ASSERT_NE(same, nullptr);
  EXPECT_EQ(same->getName(), "F");
  EXPECT_EQ(same->getFeatureType(), 7);
  EXPECT_EQ(same->getMsPerRow(), 20.0f);
  EXPECT_EQ(firstColumn(*same), firstColumn(*source));
  EXPECT_NE(same->getMatrix().data, source->getMatrix().data);
  int k = 0;
  EXPECT_TRUE(same->getParameter(k, "k", false));
  EXPECT_EQ(k, 3);

  // The copy constructor copies the matrix only when asked.
  const CFeatureObject<float> withoutData(*source, false);
  EXPECT_TRUE(withoutData.isEmpty());
  EXPECT_EQ(withoutData.getMsPerRow(), 20.0f);

  // Without a frame period every clone is a whole copy.
  CFeatureObject<float> noPeriod("F", 7);
  fillRows(noPeriod, 4, 1);
  std::unique_ptr<CFeatureObjectBase> whole(noPeriod.clone(100, 50));
  EXPECT_EQ(firstColumn(*whole), std::vector<float>({0, 10, 20, 30}));
}

TEST(FeatureObjectTest, ExcerptRules) {
  auto source = objectWithPeriod(20.0f, 10, 2);
  // (50 + 10) / 20 = 3 to the end.
  std::unique_ptr<CFeatureObjectBase> tail(source->clone(50, 0));
  EXPECT_EQ(firstColumn(*tail), std::vector<float>({30, 40, 50, 60, 70, 80, 90}));
  EXPECT_EQ(tail->getMsPerRow(), 20.0f);
  // Rows [3, (50 + 60 + 10) / 20 = 6).
  std::unique_ptr<CFeatureObjectBase> middle(source->clone(50, 60));
  EXPECT_EQ(firstColumn(*middle), std::vector<float>({30, 40, 50}));
  // The end is cut at the row count.
  std::unique_ptr<CFeatureObjectBase> past(source->clone(100, 100000));
  EXPECT_EQ(firstColumn(*past), std::vector<float>({50, 60, 70, 80, 90}));
  // A duration that rounds to no row still gives one.
  std::unique_ptr<CFeatureObjectBase> one(source->clone(40, 1));
  EXPECT_EQ(firstColumn(*one), std::vector<float>({20}));
  // A skip that rounds to the last row gives that row; one more fails.
  std::unique_ptr<CFeatureObjectBase> last(source->clone(189, 0));
  EXPECT_EQ(firstColumn(*last), std::vector<float>({90}));
  expectFeatureObjException([&] { delete source->clone(190, 0); }, "not enough data to create excerpt (skip)");
  expectFeatureObjException([&] { delete source->clone(4000000000u, 4000000000u); },
                            "not enough data to create excerpt (skip)");

  // An empty source gives an empty excerpt instead of failing.
  auto empty = objectWithPeriod(20.0f, 0, 2);
  std::unique_ptr<CFeatureObjectBase> nothing(empty->clone(500, 0));
  EXPECT_TRUE(nothing->isEmpty());

  // The integer part of the period counts: 20.9 ms rows are taken as 20 ms.
  auto fractional = objectWithPeriod(20.9f, 10, 1);
  std::unique_ptr<CFeatureObjectBase> cut(fractional->clone(50, 0));
  EXPECT_EQ(firstColumn(*cut).front(), 30.0f);

  // A period below 1 ms is taken exactly: 0.5 ms rows, 10 ms skip, 2 ms long.
  auto fine = objectWithPeriod(0.5f, 40, 1);
  std::unique_ptr<CFeatureObjectBase> fineCut(fine->clone(10, 2));
  EXPECT_EQ(firstColumn(*fineCut), std::vector<float>({200, 210, 220, 230}));
}

TEST(FeatureObjectTest, Skip) {
  CFeatureObject<float> noPeriod("F", 7);
  fillRows(noPeriod, 4, 1);
  EXPECT_EQ(noPeriod.skip(100), 0u);
  EXPECT_EQ(noPeriod.getMatrix().rows, 4u);

  auto object = objectWithPeriod(20.0f, 6, 2);
  EXPECT_EQ(object->skip(19), 0u);
  EXPECT_EQ(object->skip(50), 40u);  // two rows
  EXPECT_EQ(firstColumn(*object), std::vector<float>({20, 30, 40, 50}));
  expectVmtlFailure([&] { object->skip(100); }, "excerpt is too long", "heap_matrix", 681);
  EXPECT_EQ(object->skip(80), 80u);
  EXPECT_TRUE(object->isEmpty());

  auto fractional = objectWithPeriod(12.4f, 6, 1);
  EXPECT_EQ(fractional->skip(40), 37u);  // 3 rows of 12.4 ms = 37.2 ms
  auto negative = objectWithPeriod(-10.0f, 3, 1);
  EXPECT_EQ(negative->skip(40), 0u);
  EXPECT_EQ(negative->getMatrix().rows, 3u);
}

TEST(FeatureObjectTest, AppendNeedsCompatibleObjects) {
  auto object = objectWithPeriod(20.0f, 2, 2);
  auto more = objectWithPeriod(20.0f, 3, 2);
  EXPECT_EQ(object->append(*more), 5u);
  EXPECT_EQ(firstColumn(*object), std::vector<float>({0, 10, 0, 10, 20}));
  EXPECT_EQ(object->append(*object), 10u);

  auto slower = objectWithPeriod(30.0f, 1, 2);
  expectFeatureObjException([&] { object->append(*slower); }, "different settings, cannot append feature object");
  CFeatureObject<unsigned char> bytes("F", 7);
  expectFeatureObjException([&] { object->append(bytes); }, "different settings, cannot append feature object");
  auto narrow = objectWithPeriod(20.0f, 1, 3);
  expectVmtlFailure([&] { object->append(*narrow); }, "different column sizes", "heap_matrix", 267);

  // An object without columns takes the other's.
  auto empty = objectWithPeriod(20.0f, 0, 0);
  EXPECT_EQ(empty->append(*narrow), 1u);
  EXPECT_EQ(empty->getMatrix().cols, 3u);

  CFeatureObject<unsigned int> ints;
  fillRows(ints, 2, 1);
  CFeatureObject<unsigned int> moreInts;
  fillRows(moreInts, 1, 1);
  EXPECT_EQ(ints.append(moreInts), 3u);
}

TEST(FeatureObjectTest, ReserveKeepsRowsAndContents) {
  CFeatureObject<unsigned char> object;
  EXPECT_EQ(object.reserve(10), 0u);
  fillRows(object, 3, 4);
  EXPECT_EQ(object.reserve(5), 8u);
  EXPECT_EQ(object.getMatrix().rows, 3u);
  EXPECT_EQ(object.getMatrix().capacity, 32u);
  EXPECT_EQ(object.getMatrix()(2, 3), 23);
  // Enough room already: nothing changes.
  EXPECT_EQ(object.reserve(2), 8u);
  EXPECT_EQ(object.getMatrix().capacity, 32u);
}

TEST(FeatureObjectTest, DefaultQuantizers) {
  CFeatureObject<float> flatness("SFM", 2);
  EXPECT_EQ(flatness.buildDefaultQuantizer(false), 0u);  // no columns yet
  fillRows(flatness, 1, 6);
  EXPECT_EQ(flatness.buildDefaultQuantizer(false), 6u);
  const CQuantModule<float>* module = flatness.getQuantizer();
  ASSERT_NE(module, nullptr);
  ASSERT_EQ(module->quantizerCount(), 2u);
  EXPECT_EQ(module->getWidth(0), 3u);
  EXPECT_EQ(module->getQuantizer(0).getMax(), 1.0f);
  EXPECT_EQ(module->getQuantizer(1).getMax(), 0.1f);
  EXPECT_EQ(quantizerTypeCode(*module, 1), 1);

  CFeatureObject<float> odd("SFM", 2);
  fillRows(odd, 1, 5);
  EXPECT_EQ(odd.buildDefaultQuantizer(true), 4u);
  EXPECT_TRUE(odd.getQuantizer()->getQuantizer(0).getFlag());

  CFeatureObject<float> envelope("ASE", 3);
  fillRows(envelope, 1, 20);
  EXPECT_EQ(envelope.buildDefaultQuantizer(false), 20u);
  ASSERT_EQ(envelope.getQuantizer()->quantizerCount(), 1u);
  EXPECT_EQ(quantizerTypeCode(*envelope.getQuantizer(), 0), 2);
  // Every value of the 20 columns goes through the logarithmic default.
  std::vector<float> row(20);
  for (unsigned c = 0; c < 20; ++c) row[c] = static_cast<float>(std::pow(10.0, -9.0 + 0.4 * c));
  const HeapVector<unsigned char>& codes = envelope.getQuantizer()->quantize(BaseVector<float>(row.data(), 20));
  for (unsigned c = 1; c < 20; ++c) {
    const double exact = (std::log10(row[c]) + 9.0) * 32.0;
    const int expected = std::min(255, static_cast<int>(std::floor(exact + 1e-4)));
    EXPECT_NEAR(codes[c], expected, 1) << c;
  }
  EXPECT_EQ(codes[0], 0);

  CFeatureObject<float> generic("X", 5);
  fillRows(generic, 1, 4);
  EXPECT_EQ(generic.buildDefaultQuantizer(false), 0u);
  EXPECT_EQ(generic.getQuantizer(), nullptr);

  // A held module or a stored block stops the default.
  auto* own = new CQuantModule<float>(4);
  own->add(new CQuant(0.0f, 2.0f, 16, false), 4);
  envelope.setQuantModule(own);
  EXPECT_EQ(envelope.buildDefaultQuantizer(false), 0u);
  EXPECT_EQ(envelope.getQuantizer(), own);
}

TEST(FeatureObjectTest, SetQuantModuleKeepsTheBlock) {
  CFeatureObject<float> object("F", 7);
  fillRows(object, 2, 4);
  auto* module = new CQuantModule<float>(4);
  module->add(new CQuant(0.0f, 1.0f, 256, false), 4);
  object.setQuantModule(module);
  const std::vector<unsigned char> expected = {0x00, 0x00, 0x00, 0x14, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00,
                                               0x00, 0x3F, 0x80, 0x00, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00};
  EXPECT_EQ(object.getQuantBlob(), expected);
  object.setQuantModule(module);  // the module already held
  EXPECT_EQ(object.getQuantizer(), module);
  EXPECT_EQ(object.getQuantBlob(), expected);

  // A copy takes the block, not the module.
  const CFeatureObject<float> copy(object);
  EXPECT_EQ(copy.getQuantBlob(), expected);
  EXPECT_EQ(copy.getQuantizer(), nullptr);

  object.setQuantModule(nullptr);
  EXPECT_EQ(object.getQuantizer(), nullptr);
  EXPECT_TRUE(object.getQuantBlob().empty());

  // A module the block cannot describe leaves the object as it was.
  auto* kept = new CQuantModule<float>(4);
  kept->add(new CQuant(0.0f, 1.0f, 16, false), 4);
  object.setQuantModule(kept);
  auto* tooWide = new CQuantModule<float>(4);
  tooWide->add(new CQuant(0.0f, 1.0f, 16, false), 70000);
  expectFeatureObjException([&] { object.setQuantModule(tooWide); },
                            "quantizer module too large for a quantizer block");
  EXPECT_EQ(object.getQuantizer(), kept);
  EXPECT_EQ(object.getQuantBlob().size(), 20u);

  // The default module handed back is adopted, not freed twice.
  CFeatureObject<float> envelope("ASE", 3);
  fillRows(envelope, 1, 3);
  envelope.buildDefaultQuantizer(false);
  CQuantModule<float>* defaultModule = envelope.getQuantizer();
  envelope.setQuantModule(defaultModule);
  EXPECT_EQ(envelope.getQuantizer(), defaultModule);
  EXPECT_EQ(envelope.getQuantBlob().size(), 20u);
}
