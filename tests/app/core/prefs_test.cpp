// Preferences and window state: defaults, the checksum against zlib, the load
// rules for foreign, damaged, short and old records, and the placement rule.
#include "app/core/prefs.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <variant>

namespace {

// The settings key in memory; a value keeps the type it was written with.
class MemoryStore : public KeyValueStore {
 public:
  using Value = std::variant<std::vector<std::uint8_t>, std::uint32_t, std::string>;
  std::map<std::string, Value> values;
  bool exists = true;
  bool refuseWrites = false;

  bool Exists() const override { return exists; }
  bool ReadBinary(std::string_view k, std::string_view n,
                  std::vector<std::uint8_t>* out) const override {
    return Read(k, n, out);
  }
  bool ReadU32(std::string_view k, std::string_view n, std::uint32_t* out) const override {
    return Read(k, n, out);
  }
  bool ReadString(std::string_view k, std::string_view n, std::string* out) const override {
    return Read(k, n, out);
  }
  bool WriteBinary(std::string_view k, std::string_view n, const std::uint8_t* data,
                   std::size_t size) override {
    return Write(k, n, std::vector<std::uint8_t>(data, data + size));
  }
  bool WriteU32(std::string_view k, std::string_view n, std::uint32_t v) override {
    return Write(k, n, v);
  }
  bool WriteString(std::string_view k, std::string_view n, std::string_view v) override {
    return Write(k, n, std::string(v));
  }

 private:
  static std::string Key(std::string_view k, std::string_view n) {
    return std::string(k) + "/" + std::string(n);
  }
  template <class T>
  bool Read(std::string_view k, std::string_view n, T* out) const {
    const auto it = values.find(Key(k, n));
    if (it == values.end() || !std::holds_alternative<T>(it->second)) return false;
    *out = std::get<T>(it->second);
    return true;
  }
  bool Write(std::string_view k, std::string_view n, Value v) {
    if (refuseWrites) return false;
    values[Key(k, n)] = std::move(v);
    exists = true;
    return true;
  }
};

Preferences Defaults() {
  Preferences p;
  Prefs_SetDefaults(&p);
  return p;
}

std::vector<std::uint8_t> Stored(const Preferences& p, std::size_t size) {
  return std::vector<std::uint8_t>(p.bytes.begin(), p.bytes.begin() + size);
}

TEST(Prefs, DefaultsAndTheChecksumAgreeWithZlib) {
  Preferences p = Defaults();
  EXPECT_EQ(p.version(), 4u);
  EXPECT_EQ(p.localSettingsLimitKB(), 1000);
  EXPECT_EQ(p.regionPercent(3), 25);
  EXPECT_EQ(p.keyDown(), 2);
  EXPECT_EQ(p.fontFace(2), u"Times New Roman");
  EXPECT_EQ(p.lastCategory(), 0xFFFF);
  p.setDefaultEncoding(2252);
  // The register is seeded and never inverted; zlib inverts on the way in and
  // out, so it is given and answers the complements.
  const std::uint32_t zlib =
      ~static_cast<std::uint32_t>(crc32(~kPrefsChecksumSeed, p.bytes.data() + 4, kPrefsSize - 4));
  EXPECT_EQ(Prefs_Checksum(p), zlib);
  EXPECT_EQ(Prefs_Checksum(p), 0xB4BF77E4u);
}

TEST(Prefs, SaveAndLoadKeepEveryByteIncludingReservedOnes) {
  MemoryStore store;
  Preferences p = Defaults();
  p.bytes[100] = 0x5A;  // reserved
  p.setSearchText(u"word \u20AC");
  p.setSaveMode(1);
  ASSERT_TRUE(Prefs_Save(store, &p));
  Preferences back;
  Prefs_Load(store, &back);
  EXPECT_EQ(back.bytes, p.bytes);
  EXPECT_EQ(back.searchText(), u"word \u20AC");
}

TEST(Prefs, LoadFallsBackToDefaultsForForeignOrDamagedRecords) {
  Preferences saved = Defaults();
  saved.setSaveMode(2);
  MemoryStore reference;
  ASSERT_TRUE(Prefs_Save(reference, &saved));
  const std::vector<std::uint8_t> good = std::get<0>(reference.values["Settings/Preferences"]);

  struct Case {
    const char* what;
    std::function<void(MemoryStore&)> prepare;
    bool defaults;
  };
  auto put = [](MemoryStore& s, std::vector<std::uint8_t> v) {
    s.values["Settings/Preferences"] = std::move(v);
  };
  const Case cases[] = {
      {"missing", [](MemoryStore&) {}, true},
      {"intact", [&](MemoryStore& s) { put(s, good); }, false},
      {"one byte changed after the checksum",
       [&](MemoryStore& s) {
         auto v = good;
         v[700] ^= 1;
         put(s, v);
       },
       true},
      {"519 bytes",
       [&](MemoryStore& s) {
         put(s, {good.begin(), good.begin() + 519});
       },
       true},
      {"longer than the record",
       [&](MemoryStore& s) {
         auto v = good;
         v.push_back(0);
         put(s, v);
       },
       true},
      {"version 0",
       [&](MemoryStore& s) {
         auto v = good;
         v[4] = 0;
         put(s, v);
       },
       true},
      {"not binary", [](MemoryStore& s) { s.values["Settings/Preferences"] = std::string("x"); },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryStore store;
    c.prepare(store);
    Preferences p;
    p.bytes.fill(0xEE);
    Prefs_Load(store, &p);
    EXPECT_EQ(p.saveMode(), c.defaults ? 0 : 2);
    if (c.defaults) {
      EXPECT_EQ(p.bytes, Defaults().bytes);
    }
  }
}

TEST(Prefs, ShortRecordsKeepWhatWasReadAndVersionOneMigratesItsSearchText) {
  Preferences old = Defaults();
  old.setVersion(2);
  old.bytes[590] = 0x77;  // beyond a 600-byte record: must come back as 0
  old.bytes[599] = 0x42;
  MemoryStore store;
  store.values["Settings/Preferences"] = Stored(old, 600);
  Preferences p;
  Prefs_Load(store, &p);
  EXPECT_EQ(p.version(), 2u);  // kept until the next save
  EXPECT_EQ(p.bytes[599], 0x42);
  EXPECT_EQ(p.bytes[700], 0);

  Preferences v1 = Defaults();
  v1.setVersion(1);
  const char narrow[] = "caf\xE9 \x80";  // windows-1252: é and the euro sign
  std::memcpy(v1.bytes.data() + 18, narrow, sizeof narrow);
  store.values["Settings/Preferences"] = Stored(v1, 520);
  Prefs_Load(store, &p);
  EXPECT_EQ(p.searchText(), u"caf\u00E9 \u20AC");
  EXPECT_EQ(p.U16(544), 0);
}

TEST(Prefs, WindowStateValuesAreTakenOnlyWhenWellFormed) {
  struct Case {
    const char* main;
    bool taken;
  };
  const Case cases[] = {
      {"10,20,300,400", true},
      {"-5,0,100,100", true},
      {" 1, 2, 3, 4", true},
      {"10,20,300", false},
      {"10,20,300,400,5", false},
      {"a,b,c,d", false},
      {"1", false},
      {"", false},
      {"1,2,3,99999999999", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.main);
    MemoryStore store;
    store.values["WindowState/Main"] = std::string(c.main);
    store.values["WindowState/Flags"] = std::string("7");  // wrong type: ignored
    WindowState s;
    Prefs_InitWindowState(&s);
    Prefs_LoadWindowState(store, &s);
    EXPECT_EQ(s.x != -1 || s.width != -1, c.taken);
    EXPECT_EQ(s.flags, 0u);
  }
  MemoryStore store;
  WindowState s{5, 11, 12, 640, 480, 3};
  ASSERT_TRUE(Prefs_SaveWindowState(store, s));
  EXPECT_EQ(std::get<std::string>(store.values["WindowState/Main"]), "11,12,640,480");
  WindowState back;
  Prefs_LoadWindowState(store, &back);
  EXPECT_EQ(back.flags, 5u);
  EXPECT_EQ(back.height, 480);
  EXPECT_EQ(back.browseFilter, 3);
}

TEST(Prefs, SavedWindowRectangleIsUsedOnlyInsideTheWorkArea) {
  const ScreenRect area{0, 0, 1920, 1080};
  struct Case {
    WindowState s;
    bool usable;
  };
  const Case cases[] = {
      {{0, 10, 10, 800, 600, 0}, true},    {{0, 10, 10, 99, 600, 0}, false},
      {{0, 10, 10, 800, 99, 0}, false},    {{0, -1, 10, 800, 600, 0}, false},
      {{0, 1900, 10, 800, 600, 0}, true},  {{0, 1901, 10, 800, 600, 0}, false},
      {{0, 10, 1061, 800, 600, 0}, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Prefs_WindowRectUsable(c.s, area), c.usable) << c.s.x << "," << c.s.y;
}

TEST(Prefs, LoadAllSettlesTheDefaultEncoding) {
  MemoryStore store;
  store.exists = false;
  Preferences p;
  WindowState s;
  Prefs_LoadAll(store, &p, &s);
  EXPECT_NE(p.defaultEncoding(), 0);  // the locale's, or windows-1252
  EXPECT_EQ(s.width, -1);

  Preferences kept = Defaults();
  kept.setDefaultEncoding(2252);
  ASSERT_TRUE(Prefs_Save(store, &kept));
  Prefs_LoadAll(store, &p, &s);
  EXPECT_EQ(p.defaultEncoding(), 2252);

  kept.setDefaultEncoding(9999);  // not a charset the converter offers
  ASSERT_TRUE(Prefs_Save(store, &kept));
  Prefs_LoadAll(store, &p, &s);
  EXPECT_NE(p.defaultEncoding(), 9999);
  EXPECT_NE(p.defaultEncoding(), 0);

  store.refuseWrites = true;
  EXPECT_FALSE(Prefs_SaveAll(store, &p, s));
}

}  // namespace
