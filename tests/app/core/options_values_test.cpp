// The Options sheet's values: display and location words to page fields and
// back, both copy backs, and the small text and spin rules.
#include "app/core/options_values.h"

#include <gtest/gtest.h>

#include <set>

namespace {

Preferences Defaults() {
  Preferences p;
  Prefs_SetDefaults(&p);
  p.setDefaultEncoding(2252);
  return p;
}

TEST(OptionsValuesTest, DisplayWordToFieldsAndBack) {
  struct Case {
    const char* why;
    std::uint16_t word;
    int size, mode, bold, layout, align;
    std::uint16_t back;  // the word the same fields give back
  };
  const Case cases[] = {
      {"defaults", 0x0002, 2, 0, 0, 0, 0, 0x0002},
      {"every bit but layout", 0x005C, 4, 1, 1, 0, 1, 0x005C},
      {"table layout off", 0x0021, 1, 0, 0, 1, 0, 0x0021},
      {"all layout off is stored with both bits", 0x00A0, 0, 0, 0, 2, 0, 0x00A0},
      // Bit 7 alone still reads as all layout off, and comes back with bit 5.
      {"bit 7 without bit 5", 0x0080, 0, 0, 0, 2, 0, 0x00A0},
      // Bits the sheet does not own are not kept: the sheet writes the word.
      {"unknown high bits dropped", 0x0F03, 3, 0, 0, 0, 0, 0x0003},
      // Sizes 5..7 are no item of the list: the default item, not garbage.
      {"size past the list", 0x0007, 2, 0, 0, 0, 0, 0x0002},
  };
  for (const Case& c : cases) {
    OptionsValues v;
    Options_DisplayFromFlags(c.word, &v);
    EXPECT_EQ(v.sizeIndex, c.size) << c.why;
    EXPECT_EQ(v.sizeMode, c.mode) << c.why;
    EXPECT_EQ(v.bold, c.bold) << c.why;
    EXPECT_EQ(v.layout, c.layout) << c.why;
    EXPECT_EQ(v.alignment, c.align) << c.why;
    EXPECT_EQ(Options_DisplayFlags(v), c.back) << c.why;
  }
  // Every word the page can make reads back as the same fields.
  for (int size = 0; size < kOptionsTextSizes; ++size)
    for (int layout = 0; layout < 3; ++layout)
      for (int flags = 0; flags < 8; ++flags) {
        OptionsValues v;
        v.sizeIndex = size;
        v.layout = layout;
        v.sizeMode = flags & 1;
        v.bold = (flags >> 1) & 1;
        v.alignment = (flags >> 2) & 1;
        OptionsValues w;
        Options_DisplayFromFlags(Options_DisplayFlags(v), &w);
        EXPECT_EQ(Options_DisplayFlags(w), Options_DisplayFlags(v));
        EXPECT_EQ(w.layout, layout);
      }
}

TEST(OptionsValuesTest, CopyInReadsTheDocumentAndThePreferences) {
  Preferences p = Defaults();
  p.setScrollFlags(0x0003);
  p.setScreenBehaviour(3, 9);  // 9: no such item
  p.setKeys(0, 3, 1, 2);
  p.setRegion(0, 10, 5);
  p.setRegion(3, 40, 7);  // 7: no such action
  p.setSaveMode(1);
  p.setLocalSettingsLimitKB(20000);
  p.setFontFace(3, u"DejaVu Sans");
  const OptionsDocument doc{0x00E1, 0x0023, true, 106, 7};
  OptionsValues v;
  Options_CopyIn(p, doc, false, &v);
  EXPECT_EQ(v.sizeIndex, 1);
  EXPECT_EQ(v.layout, 2);
  EXPECT_EQ(v.alignment, 1);
  EXPECT_EQ(v.location, 2);
  EXPECT_TRUE(v.fullScreenBar);
  EXPECT_TRUE(v.encodingFixed);
  EXPECT_EQ(v.encoding, 106u);
  EXPECT_EQ(v.themeKey, 7);
  EXPECT_EQ(v.autoscrollMode, 0);  // bit 1 set: a line at a time
  EXPECT_EQ(v.screenUp, 3);
  EXPECT_EQ(v.screenDown, 0);
  EXPECT_EQ(v.keyDown, 3);
  EXPECT_EQ(v.regionPercent[0], 10);
  EXPECT_EQ(v.regionAction[0], 5);
  EXPECT_EQ(v.regionAction[3], 0);
  EXPECT_EQ(v.saveMode, 1);
  EXPECT_EQ(v.maxKB, kOptionsMaxKB);
  EXPECT_EQ(v.faces[2], u"DejaVu Sans");

  // Location 3 and a bar of one bit: automatic and no bar.
  Options_CopyIn(p, {0, 0x0031, false, 0, 0}, false, &v);
  EXPECT_EQ(v.location, 0);
  EXPECT_FALSE(v.fullScreenBar);
  // The frame runner reads the Preferences' defaults.
  p.setDefaultDisplayFlags(0x0014);
  p.setDefaultLocationFlags(0x0013);
  Options_CopyIn(p, Options_FrameDocument(p), true, &v);
  EXPECT_EQ(v.sizeIndex, 4);
  EXPECT_EQ(v.bold, 1);
  EXPECT_EQ(v.location, 1);
  EXPECT_TRUE(v.fullScreenBar);
  EXPECT_TRUE(v.noDocument);
  EXPECT_EQ(v.encoding, 2252u);
}

TEST(OptionsValuesTest, ViewCopyBackWritesDocumentAndPreferences) {
  struct Case {
    const char* why;
    bool alsoDefaults;
    bool encodingFixed;
    std::uint32_t chosenEncoding;
    std::uint16_t wantDefaultDisplay, wantDefaultLocation, wantDefaultEncoding;
    std::uint32_t wantDocEncoding;
    bool wantEncodingChanged;
  };
  const Case cases[] = {
      {"document only", false, false, 106, 0x0002, 0x0002, 2252, 106, true},
      // The defaults get the location without the bar bits.
      {"also defaults", true, false, 106, 0x00B0, 0x0020, 106, 106, true},
      {"encoding fixed by the document", true, true, 106, 0x00B0, 0x0020, 2252, 4, false},
      {"same encoding", false, false, 4, 0x0002, 0x0002, 2252, 4, false},
  };
  for (const Case& c : cases) {
    Preferences p = Defaults();
    OptionsDocument doc{0x0002, 0x0010, c.encodingFixed, 4, 3};
    OptionsValues v;
    Options_CopyIn(p, doc, false, &v);
    v.layout = 2;
    v.bold = 1;
    v.sizeIndex = 0;
    v.location = 2;
    v.fullScreenBar = true;
    v.alsoDefaults = c.alsoDefaults;
    v.encoding = c.chosenEncoding;
    v.autoscrollMode = 0;
    v.regionPercent = {10, 20, 30, 40};
    v.regionAction = {1, 2, 4, 5};
    v.saveMode = 2;
    v.maxKB = 1234;
    v.faces[0] = u"VERDANA";  // the same face: not a change
    v.faces[3] = u"DejaVu Sans Mono";
    const OptionsChanges ch = Options_CopyBackToDocument(v, 9, true, &doc, &p);
    EXPECT_TRUE(ch.faces) << c.why;
    EXPECT_TRUE(ch.theme) << c.why;
    EXPECT_TRUE(ch.display) << c.why;
    EXPECT_EQ(ch.encoding, c.wantEncodingChanged) << c.why;
    EXPECT_EQ(doc.themeKey, 9) << c.why;
    EXPECT_EQ(doc.displayFlags, 0x00B0) << c.why;
    EXPECT_EQ(doc.locationFlags, 0x0023) << c.why;
    EXPECT_EQ(doc.encoding, c.wantDocEncoding) << c.why;
    EXPECT_EQ(p.defaultDisplayFlags(), c.wantDefaultDisplay) << c.why;
    EXPECT_EQ(p.defaultLocationFlags(), c.wantDefaultLocation) << c.why;
    EXPECT_EQ(p.defaultEncoding(), c.wantDefaultEncoding) << c.why;
    EXPECT_EQ(p.fontFace(1), u"Verdana") << c.why;
    EXPECT_EQ(p.fontFace(4), u"DejaVu Sans Mono") << c.why;
    EXPECT_EQ(p.scrollFlags() & 2, 2) << c.why;
    EXPECT_EQ(p.regionPercent(2), 30) << c.why;
    EXPECT_EQ(p.regionAction(3), 5) << c.why;
    EXPECT_EQ(p.saveMode(), 2) << c.why;
    EXPECT_EQ(p.localSettingsLimitKB(), 1234) << c.why;
  }
}

TEST(OptionsValuesTest, NothingChangedReportsNoChange) {
  Preferences p = Defaults();
  p.setScrollFlags(0x0001);  // bit 0 belongs to someone else and stays
  OptionsDocument doc{0x0041, 0x0003, false, 2252, 5};
  OptionsValues v;
  Options_CopyIn(p, doc, false, &v);
  const Preferences before = p;
  const OptionsChanges ch = Options_CopyBackToDocument(v, 5, false, &doc, &p);
  EXPECT_FALSE(ch.faces || ch.theme || ch.display || ch.encoding);
  EXPECT_EQ(doc.displayFlags, 0x0041);
  EXPECT_EQ(doc.locationFlags, 0x0003);
  EXPECT_EQ(doc.themeKey, 5);
  EXPECT_EQ(p.bytes, before.bytes);
}

TEST(OptionsValuesTest, FrameCopyBackWritesOnlyThePreferences) {
  Preferences p = Defaults();
  OptionsValues v;
  Options_CopyIn(p, Options_FrameDocument(p), true, &v);
  v.location = 1;
  v.fullScreenBar = true;
  v.layout = 1;
  v.autoscrollMode = 1;
  v.encoding = 106;  // shown, not stored
  p.setScrollFlags(0x0002);
  const OptionsChanges ch = Options_CopyBackToPrefs(v, &p);
  EXPECT_TRUE(ch.display);
  EXPECT_EQ(p.defaultDisplayFlags(), 0x0022);
  EXPECT_EQ(p.defaultLocationFlags(), 0x0013);
  EXPECT_EQ(p.scrollFlags() & 2, 0);
  EXPECT_EQ(p.defaultEncoding(), 2252);
}

TEST(OptionsValuesTest, LastPageMeansTheSamePageInBothSheets) {
  struct Case {
    int stored;
    int withColour, without;  // the page opened in each sheet
  };
  for (const Case& c : {Case{0, 0, 0}, Case{3, 3, 3}, Case{4, 4, 4}, Case{5, 5, 4}, Case{200, 5, 4},
                        Case{-1, 0, 0}}) {
    EXPECT_EQ(Options_StartPage(c.stored, true), c.withColour) << c.stored;
    EXPECT_EQ(Options_StartPage(c.stored, false), c.without) << c.stored;
  }
  // Settings is stored as 5 from either sheet; the first four as they are.
  EXPECT_EQ(Options_StoredPage(4, false), 5);
  EXPECT_EQ(Options_StoredPage(5, true), 5);
  EXPECT_EQ(Options_StoredPage(4, true), 4);
  EXPECT_EQ(Options_StoredPage(2, false), 2);
  for (int page = 0; page < 5; ++page)
    EXPECT_EQ(Options_StartPage(Options_StoredPage(page, false), false), page);
  for (int page = 0; page < 6; ++page)
    EXPECT_EQ(Options_StartPage(Options_StoredPage(page, true), true), page);
}

TEST(OptionsValuesTest, NewThemeNumberIsTheSmallestFree) {
  std::set<unsigned long> taken{1, 2, 4};
  EXPECT_EQ(Options_NewThemeNumber([&](unsigned long n) { return taken.count(n) > 0; }), 3u);
  EXPECT_EQ(Options_NewThemeNumber([](unsigned long) { return false; }), 1u);
  EXPECT_EQ(Options_NewThemeNumber([](unsigned long) { return true; }), 1000u);
}

}  // namespace
