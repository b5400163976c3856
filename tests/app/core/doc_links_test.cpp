// Link targets to files in a temporary folder tree: the search order, the
// ".pdb" variants, case-insensitive matching, and candidates that try to
// leave their search folder.
#include "app/core/doc_links.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class DocLinksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kelpo_links_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "lib/books/sub");
    fs::create_directories(root_ / "docs/Kelpo");
    Touch("lib/books/current.pdb");
    where_.documentPath = (root_ / "lib/books/current.pdb").u16string();
    where_.documentsFolder = (root_ / "docs").u16string();
  }
  void TearDown() override { fs::remove_all(root_); }
  void Touch(const std::string& rel) { std::ofstream(root_ / rel) << "x"; }
  std::u16string At(const std::string& rel) { return (root_ / rel).u16string(); }
  std::u16string Resolve(std::u16string_view target) {
    return DocLinks_ResolveTarget(target, where_);
  }

  fs::path root_;
  DocLinkFolders where_;
};

TEST(DocLinksCandidates, QuotedAndUnquoted) {
  using V = std::vector<std::u16string>;
  EXPECT_EQ(DocLinks_Candidates(u"  a b.pdb"), (V{u"a b.pdb"}));
  EXPECT_EQ(DocLinks_Candidates(u"\"one\" \"two x\""), (V{u"one", u"two x"}));
  EXPECT_EQ(DocLinks_Candidates(u"\"one\" rest of it"), (V{u"one", u"rest of it"}));
  EXPECT_EQ(DocLinks_Candidates(u"\"open to the end"), (V{u"open to the end"}));
  EXPECT_EQ(DocLinks_Candidates(u"   "), V{});
  EXPECT_EQ(DocLinks_Candidates(u"\"\" x"), (V{u"x"}));
}

TEST_F(DocLinksTest, SearchOrderAndPdbVariants) {
  Touch("lib/x.pdb");        // one folder up, only with the extension
  Touch("lib/books/plain");  // only without the extension
  Touch("lib/books/sub/deep.pdb");
  Touch("docs/indocs.pdb");
  Touch("docs/Kelpo/inkelpo.pdb");
  Touch("lib/books/both.pdb");  // in the document's folder and in the documents folder
  Touch("docs/both.pdb");
  struct Case {
    std::u16string target;
    std::string want;  // empty: not found
  };
  const Case cases[] = {
      {u"..\\x", "lib/x.pdb"},
      {u"../x", "lib/x.pdb"},
      {u".\\..\\x.pdb", "lib/x.pdb"},
      {u"plain.pdb", "lib/books/plain"},
      {u"sub\\deep", "lib/books/sub/deep.pdb"},
      {u"indocs", "docs/indocs.pdb"},
      {u"inkelpo.pdb", "docs/Kelpo/inkelpo.pdb"},
      {u"both", "lib/books/both.pdb"},
      {u"\"missing\" \"..\\x.pdb\"", "lib/x.pdb"},
      {u"\"missing\" nothing", ""},
      {u".pdb", ""},  // no name left to try without the extension
  };
  for (const Case& c : cases) {
    const std::u16string got = Resolve(c.target);
    EXPECT_EQ(got, c.want.empty() ? std::u16string{} : At(c.want)) << fs::path(c.target).string();
  }
}

TEST_F(DocLinksTest, NamesMatchWithoutCase) {
  fs::remove_all(root_ / "lib/books/sub");
  fs::create_directories(root_ / "lib/books/Sub");
  Touch("lib/books/Sub/Mixed Case.PDB");
  EXPECT_EQ(Resolve(u"SUB\\mixed case"), At("lib/books/Sub/Mixed Case.PDB"));
  EXPECT_EQ(Resolve(u"sub/MIXED CASE.pdb"), At("lib/books/Sub/Mixed Case.PDB"));
  // The exact spelling wins over another that differs only in case.
  Touch("lib/books/Twin.pdb");
  Touch("lib/books/twin.pdb");
  EXPECT_EQ(Resolve(u"twin.pdb"), At("lib/books/twin.pdb"));
}

TEST_F(DocLinksTest, CandidatesNeverLeaveTheirFolder) {
  Touch("secret.pdb");  // beside lib/, outside every search folder but reachable by ".."
  fs::create_directories(root_ / "lib/books/folder.pdb");
  fs::create_symlink(root_ / "secret.pdb", root_ / "lib/books/link.pdb");
  for (const std::u16string target :
       {u"sub\\..\\..\\..\\secret", u"sub/../../../secret.pdb", u"/etc/passwd", u"C:\\secret",
        u"folder", u"link", u"..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\x", u"sub\\"}) {
    EXPECT_EQ(Resolve(target), u"") << fs::path(target).string();
  }
  // Leading ".." elements move up on purpose: this one is allowed.
  EXPECT_EQ(Resolve(u"..\\..\\secret"), At("secret.pdb"));
}

TEST(DocLinksSaveAs, SuggestedName) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"Book.pdb", u"Book.txt"},
      {u"notes.txt", u"notes.txt"},
      {u"A tale; volume 2.pdb", u"A tale.txt"},
      {u"v1.2 draft#3", u"v1.txt"},
      {u"no extension", u"no extension.txt"},
      {u"50%.off", u"50.txt"},
      {u"a/b\\c", u"a.txt"},
      {u"", u".txt"},
  };
  for (const auto& [title, want] : cases)
    EXPECT_EQ(DocLinks_SaveAsName(title), want) << fs::path(title).string();
}

}  // namespace
