// Following a link to another document file in a temporary folder tree, and
// Save As text: the exact text, written in one step, never over the open
// document.
#include "app/window/doc_links.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>
#include <optional>

#include "app/core/doc_open.h"
#include "app/window/kelpo_view.h"
#include "engine/runtime/path_folders.h"
#include "engine/stores/settings_store.h"
#include "engine/view/text_view.h"
#include "tests/app/qt/reader_fixture.h"
#include "tests/support/peer.h"
#include "tests/support/wide_text.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "<missing>";
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
    out.append(buffer, n);
  std::fclose(f);
  return out;
}

std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

class DocLinksViewTest : public ViewTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ViewTest::SetUp());
    fs::create_directories(files_.File("lib/books"));
  }
  void Open(const std::string& rel) { OpenView(files_.File(rel), QSize(400, 300)); }
  std::string Exported() {
    const std::string out = files_.File("export.txt");
    EXPECT_TRUE(KelpoView_SaveTextTo(view_.get(), U16(out)));
    return ReadAll(out);
  }
};

TEST_F(DocLinksViewTest, ALinkOpensTheDocumentFoundByTheSearchOrder) {
  KELPO_REQUIRE_PEER("txt2pdbdoc");
  const std::string current = "The current document.\nIt links to another.\n";
  WriteFileBytes(files_.File("lib/books/current.txt"), current);
  const std::string other = "The other book, one folder up.\nWith a second line.\n";
  WriteFileBytes(files_.File("other.txt"), other);
  int status = -1;
  // Named in another case and without the extension the link leaves off.
  RunPeer(
      "txt2pdbdoc Other '" + files_.File("other.txt") + "' '" + files_.File("lib/Other.PDB") + "'",
      "", &status);
  ASSERT_EQ(status, 0);
  Open("lib/books/current.txt");

  ASSERT_TRUE(KelpoView_OpenLinkTarget(view_.get(), u"\"missing\" ..\\other", nullptr));
  EXPECT_EQ(doc_->path(), U16(files_.File("lib/Other.PDB")));
  EXPECT_EQ(Exported(), Crlf(other));

  // A link to the document on show keeps it (its settings are not opened twice).
  EngineObject* reader = doc_->state().reader;
  ASSERT_TRUE(KelpoView_OpenLinkTarget(view_.get(), u"other.pdb", nullptr));
  EXPECT_EQ(doc_->state().reader, reader);

  // Not found: the message, and the document stays.
  bool shown = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    shown = box->text() == "The external document [nowhere] could not be found.";
    box->accept();
  });
  EXPECT_FALSE(KelpoView_OpenLinkTarget(view_.get(), u"nowhere", nullptr));
  EXPECT_TRUE(shown);
  EXPECT_EQ(doc_->path(), U16(files_.File("lib/Other.PDB")));
  EXPECT_EQ(prompter_.messages, 0);
}

// The documents folder a link falls back on is the one the engine names, so
// the reader and the engine's other lookups agree on it: its own override,
// the user-dirs entry, or the home folder's "Documents". A file of the same
// name where the toolkit alone would look is a decoy.
TEST_F(DocLinksViewTest, ALinkSearchesTheDocumentsFolderTheEngineNames) {
  const std::string home = files_.File("home");
  const std::string config = files_.File("config");
  fs::create_directories(config);
  WriteFileBytes(files_.File("lib/books/current.txt"), "The current document.\n");
  struct Case {
    const char* name;
    std::optional<std::string> override;  // the engine's own variable
    const char* userDirs;                 // user-dirs.dirs, or null for none
    std::string folder;                   // where the link must be found
  };
  const Case cases[] = {
      {"the engine's override", files_.File("shelf"), R"(XDG_DOCUMENTS_DIR="$HOME/Books")",
       files_.File("shelf")},
      {"the user-dirs entry", std::nullopt, R"(XDG_DOCUMENTS_DIR="$HOME/Books")", home + "/Books"},
      {"the home folder", std::nullopt, nullptr, home + "/Documents"},
  };
  ScopedEnv homeEnv("HOME", home);
  ScopedEnv configEnv("XDG_CONFIG_HOME", config);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv override("KELPO_DOCUMENTS_DIR", c.override);
    fs::remove(config + "/user-dirs.dirs");
    if (c.userDirs != nullptr) WriteFileBytes(config + "/user-dirs.dirs", c.userDirs);
    char16_t named[kPathBufferSize] = {};
    const std::uint32_t length = Path_GetSpecialFolder(named, kCsidlPersonal, false);
    ASSERT_EQ(std::u16string(named, length), U16(c.folder));

    // Found in the folder's "Kelpo" sub-folder; the decoys hold other text.
    const std::string wanted = c.folder + "/Kelpo/linked.txt";
    fs::create_directories(c.folder + "/Kelpo");
    WriteFileBytes(wanted, std::string("Linked from ") + c.name + ".\n");
    for (const std::string& decoy : {home + "/Documents", home + "/Books"}) {
      if (decoy == c.folder) continue;
      fs::create_directories(decoy);
      WriteFileBytes(decoy + "/linked.txt", "A decoy.\n");
    }
    Open("lib/books/current.txt");
    ASSERT_TRUE(KelpoView_OpenLinkTarget(view_.get(), u"linked.txt", nullptr));
    EXPECT_EQ(doc_->path(), U16(wanted));
    EXPECT_EQ(Exported(), Crlf(std::string("Linked from ") + c.name + ".\n"));
    view_.reset();
    doc_.reset();
    fs::remove_all(c.folder);
    fs::remove_all(home);
  }
}

TEST_F(DocLinksViewTest, SaveAsWritesExactlyTheTextInOneStep) {
  std::string text;
  for (int i = 0; i < 2000; ++i)
    text += "Line " + std::to_string(i) + " of the exported text.\n";
  text += "Last line without an end";
  WriteFileBytes(files_.File("lib/books/book.txt"), text);
  Open("lib/books/book.txt");

  // Over an older, longer file: exactly the text afterwards.
  WriteFileBytes(files_.File("export.txt"), std::string(200000, 'x'));
  EXPECT_EQ(Exported(), Crlf(text));

  // The open document's own file (by another spelling of its path) is refused
  // and left as it was.
  EXPECT_FALSE(KelpoView_SaveTextTo(view_.get(), U16(files_.File("lib/books/../books/book.txt"))));
  EXPECT_EQ(ReadAll(files_.File("lib/books/book.txt")), text);

  // A folder that does not exist: nothing is written anywhere.
  EXPECT_FALSE(KelpoView_SaveTextTo(view_.get(), U16(files_.File("no/such/folder/out.txt"))));
  EXPECT_FALSE(fs::exists(files_.File("no")));
  // No temporary copy is left beside the export.
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(files_.Path()))
    ++entries;
  EXPECT_EQ(entries, 2);  // lib/ and export.txt
}

}  // namespace
