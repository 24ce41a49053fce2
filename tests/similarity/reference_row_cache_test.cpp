#include "similarity/reference_row_cache.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "similarity/adapted_feature_db.h"
#include "tests/support/session_blocks.h"

namespace {

// Every position that is no gap: id, state, row and length.
std::string held(const ReferenceRows& rows) {
  std::ostringstream text;
  for (unsigned i = 0; i < rows.size(); ++i) {
    if (rows.isRemoved(i)) continue;
    text << rows.id(i) << (rows.hasFeature(i) ? "" : "-") << "(";
    for (const float value : rows.row(i)) text << value << " ";
    text << "|" << rows.norm(i) << ") ";
  }
  return text.str();
}

// The copy of a feature made now from the database alone.
std::string fresh(const AdaptedFeatureDb& db, const std::string& feature) {
  ReferenceRowCache cache;
  return held(cache.rows(db, feature));
}

std::vector<float> row(uint64_t id, unsigned length) {
  std::vector<float> values(length);
  for (unsigned i = 0; i < length; ++i) values[i] = static_cast<float>(id) + 0.25f * static_cast<float>(i);
  return values;
}

void add(AdaptedFeatureDb& db, uint64_t id, unsigned length = 3) {
  FeatureRows features = {{"c", row(id, length)}};
  if (id % 20 != 0) features.push_back({"d", row(id + 1, 2)});  // some songs lack "d"
  db.add(adaptedSignature(id, features).release());
}

// The row 0 of a stored feature, changed in place.
HeapMatrix<float>& stored(AdaptedFeatureDb& db, uint64_t id, const char* feature) {
  return db.entry(id)->getSignData()->getFeature(feature)->getMatrix();
}

// Each change of the database, then the copies read: they hold what copies
// made afresh hold.
TEST(ReferenceRowCache, CopiesFollowEveryChangeOfTheDatabase) {
  AdaptedFeatureDb db("Database");
  for (uint64_t id : {10, 20, 30}) add(db, id);
  db.trackReferenceRows({"c", "d"});
  const struct {
    const char* change;
    std::function<void()> apply;
  } changes[] = {
      {"add above every id", [&] { add(db, 40); }},
      {"add between ids", [&] { add(db, 25); }},
      {"add below every id", [&] { add(db, 5); }},
      {"remove", [&] { db.remove(20); }},
      {"add a removed id again", [&] { add(db, 20); }},
      {"replace with rows of another length", [&] { db.remove(30), add(db, 30, 5); }},
      {"change values in place",
       [&] {
         stored(db, 10, "c")(0, 1) = -7.0f;
         db.markChanged(10);
       }},
      {"change a row's length in place",
       [&] {
         stored(db, 10, "c") = HeapMatrix<float>();
         db.markChanged(10);
       }},
      {"note a change before making it",
       [&] {
         db.markChanged(25);
         stored(db, 25, "d")(0, 0) = 99.0f;
       }},
      {"change an absent id", [&] { db.markChanged(1000); }},
      {"add and remove between ids before a read", [&] { add(db, 27), db.remove(27); }},
      {"add, then remove, then add back above every id", [&] { add(db, 50), db.remove(50), add(db, 50); }},
      {"change everything",
       [&] {
         for (auto& [id, signature] : db) signature->getSignData()->getFeature("c")->getMatrix().resize(1, 1);
         db.markChanged();
       }},
      {"many songs", [&] { for (uint64_t id = 100; id < 400; ++id) add(db, id, 1); }},
      {"remove most, closing the gaps", [&] { for (uint64_t id = 100; id < 350; ++id) db.remove(id); }},
      {"more changes than songs", [&] { for (int pass = 0; pass < 1100; ++pass) db.markChanged(db.begin()->first); }},
      {"remove every song", [&] { while (!db.empty()) db.remove(db.begin()->first); }},
      {"add to an empty database", [&] { add(db, 7); }},
  };
  for (const auto& c : changes) {
    c.apply();
    for (const char* feature : {"c", "d"}) EXPECT_EQ(held(db.referenceRows(feature)), fresh(db, feature)) << c.change;
  }
  // A feature asked for later is made for every song; one that no song holds
  // is missing everywhere.
  EXPECT_EQ(held(db.referenceRows("e")), "7-(|0) ");
}

}  // namespace
