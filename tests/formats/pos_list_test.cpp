#include "engine/formats/pos_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/runtime/allocator.h"
#include "engine/runtime/module_table.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/record_db_fixtures.h"

namespace {

using record_db_fixtures::BuildDb;
using record_db_fixtures::GetBE;
using record_db_fixtures::MemDb;
using record_db_fixtures::PutBE;

using Model = record_db_fixtures::PosListEntries;
using Parsed = record_db_fixtures::ParsedPosList;
using record_db_fixtures::ParsePosList;

// A list record written from the layout: header, names, even padding,
// values; `prefix` goes between the header and the names, `tail` after the
// values.
std::string ListRecord(const Model& entries, std::uint16_t reserved = 0,
                       const std::string& prefix = "", const std::string& tail = "") {
  std::string names;
  for (const auto& [name, value] : entries)
    names += name + '\0';
  std::string out;
  PutBE(out, 8 + static_cast<std::uint32_t>(prefix.size()), 2);
  PutBE(out, reserved, 2);
  PutBE(out, static_cast<std::uint32_t>(entries.size()), 2);
  PutBE(out, static_cast<std::uint32_t>(names.size()), 2);
  out += prefix + names;
  if (names.size() % 2 != 0) out.push_back('\0');
  for (const auto& [name, value] : entries)
    PutBE(out, value, 4);
  return out + tail;
}

// A document-like database: record 0 and the list in record 1.
struct ListDb {
  explicit ListDb(const std::string& list, bool withList = true)
      : mem(BuildDb(
            withList ? std::vector<std::string>{"rec0", list} : std::vector<std::string>{"rec0"},
            "DATA", "test")) {
    handle.recordNumber = withList ? 1 : 0;
  }
  std::string Record() { return mem.Record(handle.recordNumber); }
  MemDb mem;
  PosListHandle handle{};
};

std::vector<std::string> Names(EngineObject* db, PosListHandle* handle) {
  const char** names = nullptr;
  std::uint16_t count = 0;
  EXPECT_EQ(PosList_GetCount(db, handle, &count), kOk);
  std::vector<std::string> out;
  if (count == 0) return out;
  EXPECT_EQ(PosList_GetNames(db, handle, &names), kOk);
  for (std::uint16_t k = 0; k < count; ++k)
    out.emplace_back(names[k]);
  EXPECT_EQ(PosList_FreeNames(db, handle, names), kOk);
  return out;
}

TEST(PosList, InsertWithoutARecordCreatesOneAtTheEnd) {
  ListDb l("", /*withList=*/false);
  ASSERT_EQ(PosList_Insert(l.mem.db(), &l.handle, 0, "first", 1234), kOk);
  EXPECT_EQ(l.handle.recordNumber, 1);
  ASSERT_EQ(l.mem.Count(), 2);
  EXPECT_EQ(l.Record(), ListRecord({{"first", 1234}}));
  EXPECT_EQ(l.mem.Record(0), "rec0");
  // It survives the database's commit.
  const auto records = record_db_fixtures::ParseRecords(l.mem.CloseAndRead());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1], ListRecord({{"first", 1234}}));
}

TEST(PosList, ReadsAHandMadeRecord) {
  // namesLength 5: the first value sits at namesOffset + 6.
  std::string r;
  PutBE(r, 8, 2);
  PutBE(r, 0, 2);
  PutBE(r, 1, 2);
  PutBE(r, 5, 2);
  r += std::string("abcd\0", 5);
  r.push_back('\0');
  PutBE(r, 0x01020304, 4);
  ListDb l(r);
  std::uint16_t count = 0;
  ASSERT_EQ(PosList_GetCount(l.mem.db(), &l.handle, &count), kOk);
  EXPECT_EQ(count, 1);
  char name[kPosListNameBufferSize];
  std::uint32_t offset = 0, length = 0, value = 0;
  ASSERT_EQ(PosList_GetEntry(l.mem.db(), &l.handle, 0, &offset, name, sizeof name, &length, &value),
            kOk);
  EXPECT_STREQ(name, "abcd");
  EXPECT_EQ(offset, 8u);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(value, 0x01020304u);
  EXPECT_EQ(PosList_GetEntry(l.mem.db(), &l.handle, 1, nullptr, nullptr, 0, nullptr, &value),
            kDocBadListIndex);
  EXPECT_EQ(PosList_GetEntry(l.mem.db(), &l.handle, 0, nullptr, name, 4, nullptr, nullptr),
            kIndexOutOfRange);
  EXPECT_EQ(l.handle.lockCount, 0) << "every reader unlocks";
}

TEST(PosList, InsertPlacesEntriesAndAppendsPastTheEnd) {
  ListDb l(ListRecord({{"b", 2}, {"d", 4}}));
  EngineObject* db = l.mem.db();
  ASSERT_EQ(PosList_Insert(db, &l.handle, 0, "a", 1), kOk);
  ASSERT_EQ(PosList_Insert(db, &l.handle, 2, "c", 3), kOk);
  ASSERT_EQ(PosList_Insert(db, &l.handle, 99, "e", 5), kOk);
  EXPECT_EQ(l.Record(), ListRecord({{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}, {"e", 5}}));
}

TEST(PosList, FindMatchesWholeNamesOnly) {
  ListDb l(ListRecord({{"chapter one", 1}, {"chap", 2}, {"chap", 3}}));
  std::uint16_t index = 99;
  EXPECT_EQ(PosList_Find(l.mem.db(), &l.handle, "chap", &index), kOk);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(PosList_Find(l.mem.db(), &l.handle, "chapter", &index), kNotFound);
  EXPECT_EQ(PosList_Find(l.mem.db(), &l.handle, "chapter one!", &index), kNotFound);
  ListDb empty("", false);
  EXPECT_EQ(PosList_Find(empty.mem.db(), &empty.handle, "x", &index), kNotFound);
}

TEST(PosList, ReorderSortsByNameCarryingValues) {
  ListDb l(ListRecord({{"b", 20}, {"a", 10}, {"c", 30}}));
  ASSERT_EQ(PosList_Reorder(l.mem.db(), &l.handle), kOk);
  EXPECT_EQ(l.Record(), ListRecord({{"a", 10}, {"b", 20}, {"c", 30}}));
  // Equal names keep their order; bytes compare unsigned.
  ListDb m(ListRecord({{"\xE9t\xE9", 1}, {"x", 2}, {"ab", 3}, {"x", 4}, {"a", 5}}));
  ASSERT_EQ(PosList_Reorder(m.mem.db(), &m.handle), kOk);
  EXPECT_EQ(m.Record(), ListRecord({{"a", 5}, {"ab", 3}, {"x", 2}, {"x", 4}, {"\xE9t\xE9", 1}}));
}

TEST(PosList, LockCounting) {
  ListDb l(ListRecord({{"a", 1}}));
  EngineObject* db = l.mem.db();
  ASSERT_EQ(PosList_Lock(db, &l.handle), kOk);
  ASSERT_EQ(PosList_Lock(db, &l.handle), kOk);
  EXPECT_EQ(l.handle.lockCount, 2);
  const std::uint8_t* data = l.handle.data;
  ASSERT_NE(data, nullptr);
  std::uint16_t count = 0;
  ASSERT_EQ(PosList_GetCount(db, &l.handle, &count), kOk);
  EXPECT_EQ(l.handle.data, data) << "nested readers share the loaded record";
  EXPECT_EQ(PosList_Unlock(db, &l.handle), kOk);
  EXPECT_NE(l.handle.data, nullptr);
  EXPECT_EQ(PosList_Unlock(db, &l.handle), kOk);
  EXPECT_EQ(l.handle.data, nullptr);
  EXPECT_EQ(PosList_Unlock(db, &l.handle), kDocListNotLocked);
  // Lock then unlock twice.
  ASSERT_EQ(PosList_Lock(db, &l.handle), kOk);
  EXPECT_EQ(PosList_Unlock(db, &l.handle), kOk);
  EXPECT_EQ(PosList_Unlock(db, &l.handle), kDocListNotLocked);
  // A handle without a record locks nothing.
  ListDb none("", false);
  EXPECT_EQ(PosList_Lock(none.mem.db(), &none.handle), kOk);
  EXPECT_EQ(none.handle.lockCount, 0);
  EXPECT_EQ(PosList_Unlock(none.mem.db(), &none.handle), kDocListNotLocked);
  // The database closes cleanly: every lent record was given back.
  l.mem.CloseAndRead();
}

TEST(PosList, WritersWaitForNamesToBeFreed) {
  ListDb l(ListRecord({{"one", 1}, {"two", 2}}));
  EngineObject* db = l.mem.db();
  const char** names = nullptr;
  ASSERT_EQ(PosList_GetNames(db, &l.handle, &names), kOk);
  EXPECT_STREQ(names[0], "one");
  EXPECT_STREQ(names[1], "two");
  const std::string before = l.Record();
  EXPECT_EQ(PosList_Insert(db, &l.handle, 0, "zero", 0), kPosListBusy);
  EXPECT_EQ(PosList_Delete(db, &l.handle, 0), kPosListBusy);
  EXPECT_EQ(PosList_Rename(db, &l.handle, 0, "uno"), kPosListBusy);
  EXPECT_EQ(PosList_Move(db, &l.handle, 0, 1), kPosListBusy);
  EXPECT_EQ(PosList_SetValue(db, &l.handle, 0, 9), kPosListBusy);
  EXPECT_EQ(PosList_Reorder(db, &l.handle), kPosListBusy);
  EXPECT_EQ(l.Record(), before);
  EXPECT_STREQ(names[0], "one");
  ASSERT_EQ(PosList_FreeNames(db, &l.handle, names), kOk);
  EXPECT_EQ(l.handle.lockCount, 0);
  EXPECT_EQ(PosList_Insert(db, &l.handle, 0, "zero", 0), kOk);
  EXPECT_EQ(PosList_FreeNames(db, &l.handle, nullptr), kOk);
  ListDb empty(ListRecord({}));
  EXPECT_EQ(PosList_GetNames(empty.mem.db(), &empty.handle, &names), kDocListEmpty);
  EXPECT_EQ(empty.handle.lockCount, 0);
}

TEST(PosList, DamagedRecordsAreRefused) {
  std::string noNul;
  PutBE(noNul, 8, 2);
  PutBE(noNul, 0, 2);
  PutBE(noNul, 2, 2);
  PutBE(noNul, 4, 2);
  noNul += std::string("ab\0c", 4);  // the second name has no NUL in the area
  PutBE(noNul, 1, 4);
  PutBE(noNul, 2, 4);
  noNul += std::string(300, 'z');  // and no NUL after it either
  std::string lowOffset = ListRecord({{"a", 1}});
  lowOffset[1] = 4;
  const std::string shortValues = ListRecord({{"a", 1}, {"b", 2}}).substr(0, 17);
  struct Case {
    const char* what;
    std::string record;
  };
  const Case cases[] = {
      {"empty record", ""},
      {"header cut short", std::string("\0\x08\0\0\0", 5)},
      {"names offset inside the header", lowOffset},
      {"values past the end", shortValues},
      {"a name without its NUL", noNul},
  };
  for (const Case& c : cases) {
    ListDb l(c.record);
    EngineObject* db = l.mem.db();
    EXPECT_EQ(PosList_Lock(db, &l.handle), kDocListTooShort) << c.what;
    EXPECT_EQ(l.handle.lockCount, 0) << c.what;
    std::uint16_t count = 7;
    EXPECT_EQ(PosList_GetCount(db, &l.handle, &count), kOk) << c.what;
    EXPECT_EQ(count, 0) << c.what;
    std::uint32_t value = 0;
    EXPECT_EQ(PosList_GetEntry(db, &l.handle, 0, nullptr, nullptr, 0, nullptr, &value),
              kDocBadListIndex)
        << c.what;
    EXPECT_NE(PosList_Insert(db, &l.handle, 0, "x", 1), kOk) << c.what;
    EXPECT_EQ(l.Record(), c.record) << c.what << ": a damaged record is left alone";
  }
}

TEST(PosList, NameLimits) {
  // A stored name longer than 255 bytes reads as too long; other entries read.
  ListDb l(ListRecord({{std::string(300, 'n'), 1}, {"ok", 2}}));
  EngineObject* db = l.mem.db();
  char name[kPosListNameBufferSize];
  EXPECT_EQ(PosList_GetEntry(db, &l.handle, 0, nullptr, name, sizeof name, nullptr, nullptr),
            kDocListNameTooLong);
  EXPECT_EQ(PosList_GetEntry(db, &l.handle, 1, nullptr, name, sizeof name, nullptr, nullptr), kOk);
  EXPECT_STREQ(name, "ok");
  // Callers' names: 255 bytes are fine, 256 are refused.
  EXPECT_EQ(PosList_Insert(db, &l.handle, 2, std::string(255, 'x').c_str(), 3), kOk);
  EXPECT_EQ(PosList_Insert(db, &l.handle, 2, std::string(256, 'x').c_str(), 3),
            kDocListNameTooLong);
  EXPECT_EQ(PosList_Rename(db, &l.handle, 1, std::string(256, 'x').c_str()), kDocListNameTooLong);
  EXPECT_EQ(PosList_Insert(db, &l.handle, 2, nullptr, 3), kBadArgument);
}

TEST(PosList, RecordStaysBelowSixtyFourKilobytes) {
  ListDb l(ListRecord({}));
  EngineObject* db = l.mem.db();
  const std::string name(250, 'q');
  StatusCode s = kOk;
  int inserted = 0;
  while ((s = PosList_Insert(db, &l.handle, 0xFFFF, name.c_str(), 7)) == kOk)
    ++inserted;
  EXPECT_EQ(s, kPosListFull);
  const std::string full = l.Record();
  EXPECT_LE(full.size(), 0xFFFFu);
  EXPECT_EQ(inserted, (0xFFFF - 8) / (251 + 4));
  EXPECT_EQ(ParsePosList(full).entries.size(), static_cast<std::size_t>(inserted));
  // 256 names of 251 bytes with NUL: 65288 bytes, room for one more name of
  // 241 bytes (242 with NUL, + 4 for its value: 65534) but not of 242.
  ASSERT_EQ(full.size(), 65288u);
  EXPECT_EQ(PosList_Insert(db, &l.handle, 0, std::string(242, 'r').c_str(), 1), kPosListFull);
  EXPECT_TRUE(l.Record() == full) << "a refused insert changes nothing";
  ASSERT_EQ(PosList_Insert(db, &l.handle, 0, std::string(241, 'r').c_str(), 1), kOk);
  EXPECT_EQ(l.Record().size(), 65534u);
  // One byte more in a name makes the names odd: two bytes more in all.
  EXPECT_EQ(PosList_Rename(db, &l.handle, 0, std::string(242, 'r').c_str()), kPosListFull);
  EXPECT_EQ(PosList_Rename(db, &l.handle, 0, "short"), kOk);
  EXPECT_EQ(ParsePosList(l.Record()).entries.size(), static_cast<std::size_t>(inserted + 1));
}

TEST(PosList, EditsKeepReservedBytesAndTail) {
  ListDb l(ListRecord({{"a", 1}, {"b", 2}}, 0x1234, "PRE!", "tail"));
  EngineObject* db = l.mem.db();
  ASSERT_EQ(PosList_Insert(db, &l.handle, 1, "mid", 5), kOk);
  ASSERT_EQ(PosList_Rename(db, &l.handle, 0, "alpha"), kOk);
  ASSERT_EQ(PosList_Delete(db, &l.handle, 2), kOk);
  ASSERT_EQ(PosList_SetValue(db, &l.handle, 1, 0xCAFEF00D), kOk);
  EXPECT_EQ(l.Record(), ListRecord({{"alpha", 1}, {"mid", 0xCAFEF00D}}, 0x1234, "PRE!", "tail"));
  std::uint32_t offsetI = 0, lengthI = 0, offsetJ = 0, lengthJ = 0;
  ASSERT_EQ(PosList_LocateEntry(db, &l.handle, 0, 1, &offsetI, &lengthI, &offsetJ, &lengthJ), kOk);
  EXPECT_EQ(offsetI, 12u);
  EXPECT_EQ(lengthI, 6u);
  EXPECT_EQ(offsetJ, 18u);
  EXPECT_EQ(lengthJ, 4u);
  EXPECT_EQ(PosList_LocateEntry(db, &l.handle, 0, 2, nullptr, nullptr, nullptr, nullptr),
            kDocBadListIndex);
  EXPECT_EQ(PosList_Delete(db, &l.handle, 2), kDocBadListIndex);
  EXPECT_EQ(PosList_SetValue(db, &l.handle, 2, 1), kDocBadListIndex);
  EXPECT_EQ(PosList_Move(db, &l.handle, 2, 0), kDocBadListIndex);
}

// Storing an edited record into the database can fail (here: the database's
// working copy of a large file cannot be had); the edit must say so.
TEST(PosList, AFailedStoreIsReported) {
  record_db_fixtures::MemDb mem(
      BuildDb({std::string(200000, 'x'), ListRecord({{"a", 1}, {"b", 2}})}, "DATA", "test"));
  PosListHandle handle{};
  handle.recordNumber = 1;
  EngineObject* db = mem.db();
  {
    const LargeBlocksRefused refuse(100000);
    EXPECT_TRUE(IsFailure(PosList_SetValue(db, &handle, 1, 99)));
    EXPECT_TRUE(IsFailure(PosList_Insert(db, &handle, 0, "c", 3)));
  }
  EXPECT_EQ(mem.Record(1), ListRecord({{"a", 1}, {"b", 2}})) << "nothing was stored";
  EXPECT_EQ(handle.lockCount, 0);
  ASSERT_EQ(PosList_SetValue(db, &handle, 1, 99), kOk);
  EXPECT_EQ(mem.Record(1), ListRecord({{"a", 1}, {"b", 99}}));
}

// Random operations against a vector model; the record is parsed back by the
// independent reader after each one.
TEST(PosList, RandomOperationsMatchAModel) {
  std::mt19937 rng(3125);
  for (int run = 0; run < 8; ++run) {
    ListDb l("", false);
    EngineObject* db = l.mem.db();
    Model model;
    auto randomName = [&] {
      std::string s;
      const int n = static_cast<int>(rng() % 12);
      for (int k = 0; k < n; ++k)
        s.push_back(static_cast<char>("abcXYZ \xE9\x80"[rng() % 9]));
      return s;
    };
    for (int step = 0; step < 150; ++step) {
      const auto i = static_cast<std::uint16_t>(rng() % (model.size() + 2));
      const std::uint32_t value = rng();
      const int op = static_cast<int>(rng() % 7);
      const bool valid = i < model.size();
      StatusCode s = kOk;
      std::string what;
      switch (op) {
        case 0:
        case 1: {
          const std::string name = randomName();
          what = "insert " + name;
          s = PosList_Insert(db, &l.handle, i, name.c_str(), value);
          model.insert(model.begin() + std::min<std::size_t>(i, model.size()), {name, value});
          break;
        }
        case 2:
          what = "delete";
          s = PosList_Delete(db, &l.handle, i);
          if (valid) model.erase(model.begin() + i);
          break;
        case 3: {
          const std::string name = randomName();
          what = "rename " + name;
          s = PosList_Rename(db, &l.handle, i, name.c_str());
          if (valid) model[i].first = name;
          break;
        }
        case 4: {
          const auto j = static_cast<std::uint16_t>(rng() % (model.size() + 2));
          what = "move";
          s = PosList_Move(db, &l.handle, i, j);
          if (valid) {
            auto e = model[i];
            model.erase(model.begin() + i);
            model.insert(model.begin() + std::min<std::size_t>(j, model.size()), e);
          }
          break;
        }
        case 5:
          what = "set value";
          s = PosList_SetValue(db, &l.handle, i, value);
          if (valid) model[i].second = value;
          break;
        default:
          what = "sort";
          s = PosList_Reorder(db, &l.handle);
          std::stable_sort(model.begin(), model.end(), [](const auto& a, const auto& b) {
            return std::strcmp(a.first.c_str(), b.first.c_str()) < 0;
          });
      }
      const bool expectOk = op <= 1 || op == 6 || valid;
      if (l.handle.recordNumber == 0) {
        // No record yet: only an insert creates one.
        ASSERT_TRUE(model.empty()) << what;
        continue;
      }
      ASSERT_EQ(s, expectOk ? kOk : kDocBadListIndex) << what << " at " << i;
      const Parsed p = ParsePosList(l.Record());
      ASSERT_EQ(p.entries, model) << what << " at step " << step;
      EXPECT_EQ(p.tail, "");
      EXPECT_EQ(Names(db, &l.handle).size(), model.size());
      if (!model.empty()) {
        const auto k = static_cast<std::uint16_t>(rng() % model.size());
        std::uint16_t found = 0;
        ASSERT_EQ(PosList_Find(db, &l.handle, model[k].first.c_str(), &found), kOk);
        EXPECT_EQ(model[found].first, model[k].first);
        EXPECT_LE(found, k);
      }
    }
  }
}

}  // namespace
