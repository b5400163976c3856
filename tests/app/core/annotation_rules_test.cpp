// The annotation dialogs' portable rules: line breaks of the edited text,
// the palette, excerpts in the document's charset, the suggested file name
// and what a chosen file's open result means.
#include "app/core/annotation_rules.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "engine/runtime/charset_name.h"
#include "engine/runtime/file_sys.h"
#include "engine/stores/annot_store.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide_text.h"

namespace {

TEST(AnnotationRulesTest, LineBreaksForTheEditDialog) {
  struct Case {
    const char* what;
    std::u16string text;
    bool join;
    std::u16string want;
  };
  const Case cases[] = {
      // A new annotation's excerpt: one break per run, none at either end.
      {"runs joined", u"w1\n\n\nw2\n", true, u"w1\r\nw2"},
      {"leading run dropped", u"\n\nw1\nw2", true, u"w1\r\nw2"},
      {"only line feeds", u"\n\n", true, u""},
      // A stored annotation: every line feed its own break.
      {"stored", u"w1\n\n\nw2\n", false, u"w1\r\n\r\n\r\nw2\r\n"},
      {"stored, leading", u"\nw", false, u"\r\nw"},
      {"no line feed: as it is", u"one line", true, u"one line"},
      {"no line feed, stray CR kept", u"a\rb", false, u"a\rb"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Annotation_TextForEdit(c.text, c.join), c.want) << c.what;

  EXPECT_EQ(Annotation_TextFromEdit(u"a\r\nb\r\n"), u"a\nb\n");
  EXPECT_EQ(Annotation_TextFromEdit(u"a\rb\r\r\n"), u"a\rb\r\n") << "a lone CR stays";
  // A stored text shown without joining comes back exactly as it was.
  for (const std::u16string stored : {u"x\n\ny\n", u"\n", u"plain", u"\n\na"})
    EXPECT_EQ(Annotation_TextFromEdit(Annotation_TextForEdit(stored, false)), stored);
}

TEST(AnnotationRulesTest, PaletteAndColourFallback) {
  const std::vector<AnnotationColour> palette = Annotation_ParsePalette(kAnnotationPaletteText);
  ASSERT_EQ(palette.size(), 16u);
  EXPECT_EQ(palette[0], (AnnotationColour{0xFF, 0xFF, 0x00, "Yellow"}));
  EXPECT_EQ(palette[3], (AnnotationColour{0x80, 0x00, 0x00, "Maroon"}));
  EXPECT_EQ(palette[13], (AnnotationColour{0xC0, 0xC0, 0xC0, "Silver"}));
  EXPECT_EQ(palette[15], (AnnotationColour{0x00, 0x00, 0x00, "Black"}));

  // Bad hex gives black; more than 16 lines are not read.
  std::string many = "zz0000 Bad\nff8000 orange";
  for (int i = 0; i < 20; ++i)
    many += "\n000001 More";
  const std::vector<AnnotationColour> odd = Annotation_ParsePalette(many);
  ASSERT_EQ(odd.size(), 16u);
  EXPECT_EQ(odd[0], (AnnotationColour{0, 0, 0, "Bad"}));
  EXPECT_EQ(odd[1], (AnnotationColour{0xFF, 0x80, 0x00, "orange"}));

  const int shown[][2] = {{0, 1}, {1, 1}, {7, 7}, {16, 16}, {17, 1}, {-3, 1}, {255, 1}};
  for (const auto& c : shown)
    EXPECT_EQ(Annotation_ShownColour(c[0]), c[1]) << c[0];
}

TEST(AnnotationRulesTest, TextsInTheDocumentCharset) {
  // An excerpt cut inside a character leaves that character out.
  EXPECT_EQ(Annotation_DecodeText("ab\xC3", Mib::kUtf8, 99), u"ab");
  EXPECT_EQ(Annotation_DecodeText("caf\xC3\xA9 au lait", Mib::kUtf8, 4), u"caf\u00e9");
  EXPECT_EQ(Annotation_DecodeText("x\xF0\x9F\x98\x80", Mib::kUtf8, 2), u"x") << "no half pair";
  EXPECT_EQ(Annotation_DecodeText("\x80 5", Mib::kWindows1252, 99), u"\u20ac 5");
  EXPECT_EQ(Annotation_DecodeText("", Mib::kUtf8, 99), u"");

  EXPECT_EQ(Annotation_EncodeText(u"\u20ac 5", Mib::kWindows1252), "\x80 5");
  EXPECT_EQ(Annotation_EncodeText(u"a\u4e2db", Mib::kWindows1252), "a?b");
  EXPECT_EQ(Annotation_EncodeText(u"line\nnext", Mib::kUtf8), "line\nnext");
  const std::u16string long_text(20000, u'\u00e9');
  EXPECT_EQ(Annotation_DecodeText(Annotation_EncodeText(long_text, Mib::kUtf8), Mib::kUtf8,
                                  kAnnotTextAll),
            long_text);
}

TEST(AnnotationRulesTest, SuggestedFileNameAndChosenFiles) {
  struct Case {
    std::u16string current, document, want;
  };
  const Case cases[] = {
      {u"/n/notes.kpa", u"/b/book.pdb", u"/n/notes.kpa"},  // the current file first
      {u"", u"/b/book.pdb", u"/b/book"},
      {u"", u"/b/book.text", u"/b/book"},           // the dot is 5 from the end
      {u"", u"/b/book.longer", u"/b/book.longer"},  // too far from the end
      {u"", u"/b/book", u"/b/book"},
      {u"", u"/a/x.d/bk", u"/a/x.d/bk"},  // a dot in a folder name is no extension
  };
  for (const Case& c : cases)
    EXPECT_EQ(Annotation_SuggestedFileName(c.current, c.document), c.want);

  EXPECT_TRUE(Annotation_SamePath(u"/A/Notes.KPA", u"/a/notes.kpa"));
  EXPECT_FALSE(Annotation_SamePath(u"/a/notes.kpa", u"/a/notes.kpa2"));
  EXPECT_FALSE(Annotation_SamePath(u"", u"/a"));

  EXPECT_EQ(Annotation_CheckOpenResult(kOk), AnnotationFileCheck::kAnnotationsFile);
  EXPECT_EQ(Annotation_CheckOpenResult(kAnnotStoreCannotOpen), AnnotationFileCheck::kNewFile);
  for (StatusCode s : {kAnnotStoreWrongType, kAnnotStoreCorrupt, kAnnotStoreNoDatabase,
                       kAnnotStoreReadPastEnd, kOutOfMemory})
    EXPECT_EQ(Annotation_CheckOpenResult(s), AnnotationFileCheck::kOtherFile) << std::hex << s;
}

// The open document is recognised by any name of it, so it is never offered
// up as an annotations file; another file, even one with the same bytes, is
// not it.
TEST(AnnotationRulesTest, TheOpenDocumentIsKnownByAnyOfItsNames) {
  TempDir dir;
  const std::string book = dir.File("book.txt");
  WriteFileBytes(book, "the document");
  WriteFileBytes(dir.File("copy.txt"), "the document");
  ASSERT_EQ(symlink(book.c_str(), dir.File("link.txt").c_str()), 0);
  struct Case {
    std::string chosen;
    bool same;
  };
  const Case cases[] = {
      {book, true},
      {dir.Path() + "/./book.txt", true},
      {dir.File("link.txt"), true},
      {dir.File("copy.txt"), false},
      {dir.File("book.kpa"), false},  // a new name
      {"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Annotation_IsDocumentFile(U16(c.chosen), U16(book)), c.same) << c.chosen;
}

// Overwriting another kind of file leaves an empty annotations file; when
// the disk is full the file keeps its bytes.
TEST(AnnotationRulesTest, ReplacingAFileIsAllOrNothing) {
  TempDir dir;
  const std::string other = dir.File("list.kpa");
  WriteFileBytes(other, "a shopping list");
  FileSys_FailWritesAfter(0);
  EXPECT_TRUE(IsFailure(Annotation_ReplaceFile(U16(other))));
  FileSys_FailWritesAfter(kFileSysWritesUnlimited);
  EXPECT_EQ(ReadFileBytes(other), "a shopping list");

  ASSERT_EQ(Annotation_ReplaceFile(U16(other)), kOk);
  AnnotStore* store = nullptr;
  ASSERT_EQ(AnnotStore_Open(U16(other).c_str(), 0, kAnnotOpenRead, &store), kOk);
  std::uint16_t count = 1;
  EXPECT_EQ(AnnotStore_GetCount(store, &count), kOk);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(AnnotStore_Close(store), kOk);
}

}  // namespace
