// Bookmarks added through the Add Bookmark dialog of the whole program
// window, for every format that keeps bookmarks and for both kinds the user
// picks from: Document (in the document file, which is reopened for writing
// under the open view) and Local (in the document's own settings). The view
// must go on reading (paging, finding), the file must hold exactly what an
// independent reader expects, and after a restart the bookmark must bring the
// reader back to the very screen it marked, with the whole text still there.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/core/bookmark_rules.h"
#include "app/core/commands.h"
#include "app/dialogs/bookmark_dialogs.h"
#include "app/program/reader_dialogs.h"
#include "app/window/doc_links.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "engine/view/text_view.h"
#include "tests/app/qt/dialog_driver.h"
#include "tests/app/qt/reader_fixture.h"
#include "tests/formats/razo_fixture.h"
#include "tests/support/native_writer.h"
#include "tests/support/peer.h"
#include "tests/support/record_db_fixtures.h"
#include "tests/support/wide_text.h"

namespace {

using record_db_fixtures::GetBE;
using record_db_fixtures::ParsePosList;
using record_db_fixtures::ParseRecords;
using record_db_fixtures::PosListEntries;

enum class Format { kNative, kRaZo, kPalmDoc };

struct BookmarkCase {
  const char* name;
  Format format;
  int kind;  // BookmarkKind
};

std::string CaseName(const testing::TestParamInfo<BookmarkCase>& info) {
  return info.param.name;
}

class DocumentBookmarksTest : public testing::TestWithParam<BookmarkCase>, public ReaderFixture {
 protected:
  // The default encoding as the program starts.
  DocumentBookmarksTest() : ReaderFixture(DefaultEncoding::kFromLocale) {}
  void SetUp() override {
    book_ = NumberedLines(400, " of a book with bookmarks in it.");
    AcceptEveryMessage();
  }

  // The document file of the format, made by a writer that shares no code
  // with the readers.
  std::string WriteBook(Format format) {
    const std::string path = files_.File(kBook);
    switch (format) {
      case Format::kNative: {
        std::string error;
        const std::string file = native_tool::Write("{}", book_, &error);
        EXPECT_FALSE(file.empty()) << error;
        WriteFileBytes(path, file);
        break;
      }
      case Format::kRaZo:
        WriteFileBytes(path, razo_fixture::Write("{\"text\":" + razo_fixture::Json(book_) + "}"));
        break;
      case Format::kPalmDoc: {
        WriteFileBytes(files_.File("book.txt"), book_);
        int status = -1;
        RunPeer("txt2pdbdoc Book '" + files_.File("book.txt") + "' '" + path + "'", "", &status);
        EXPECT_EQ(status, 0);
        break;
      }
    }
    return path;
  }

  // The document's bookmarks as a reader of the file's layout sees them.
  static PosListEntries StoredBookmarks(Format format, const std::string& file) {
    const std::vector<std::string> records = ParseRecords(file);
    if (records.empty() || records[0].size() < 12) {
      ADD_FAILURE() << "no record 0";
      return {};
    }
    PosListEntries out;
    if (format == Format::kPalmDoc) {
      // After the text records: one record per bookmark, a 16-byte name
      // and the position at 16.
      for (std::size_t k = GetBE(records[0], 8, 2) + 1; k < records.size(); ++k) {
        const std::string& r = records[k];
        EXPECT_GE(r.size(), 20u);
        if (r.size() < 20) continue;
        EXPECT_EQ(r[15], '\0');
        out.emplace_back(r.substr(0, r.find('\0')), GetBE(r, 16, 4));
      }
      return out;
    }
    // List 0 is the record named in record 0: at 34 for native documents,
    // at 44 for 'RaZo' ones; 0 while there is none.
    const std::uint32_t at = format == Format::kNative ? 34 : 44;
    EXPECT_GE(records[0].size(), at + 2);
    if (records[0].size() < at + 2) return out;
    const std::uint32_t list = GetBE(records[0], at, 2);
    if (list == 0) return out;
    EXPECT_LT(list, records.size());
    if (list >= records.size()) return out;
    return ParsePosList(records[list]).entries;
  }

  static std::uint32_t Top(KelpoView* view) {
    std::uint32_t offset = 0;
    EXPECT_FALSE(
        IsFailure(OpsOf<TextViewOps>(view->textView()).control(view->textView(), 1, 0, &offset)));
    return offset;
  }
  static std::uint32_t End(KelpoView* view) {
    std::uint32_t end = 0;
    EXPECT_EQ(OpsOf<TextViewOps>(view->textView()).control(view->textView(), 7, 0, &end), kOk);
    return end;
  }
  // Whether the screen shows the line.
  bool Shows(KelpoView* view, int line) {
    const auto at = static_cast<std::uint32_t>(book_.find("Line " + std::to_string(line) + " "));
    return Top(view) <= at && at < End(view);
  }
  // The view still reads: a page down moves it on, and a word further on is
  // found and shown.
  void ExpectReading(KelpoView* view) {
    const std::uint32_t before = Top(view);
    view->PageDown(true);
    view->Render();
    EXPECT_GT(Top(view), before) << "paging moves on";
    prefs_.setSearchText(u"Line 371 ");
    prefs_.setSearchOptions(0);
    view->DoFind(false);
    EXPECT_TRUE(Shows(view, 371));
  }
  // The whole text as the view's Save As writes it, line ends as in the book.
  std::string WholeText(KelpoView* view) {
    const std::string out = files_.File("export.txt");
    EXPECT_TRUE(KelpoView_SaveTextTo(view, U16(out)));
    std::string text;
    for (char c : ReadFileBytes(out))
      if (c != '\r') text += c;
    return text;
  }
  // Adds a bookmark of the kind at the view's place through Ctrl+B.
  void AddBookmark(KelpoView* view, int kind, const QString& name) {
    auto added = WhenModal<AddBookmarkDialog>([&](AddBookmarkDialog* d) {
      d->kindBox()->setCurrentIndex(kind);
      d->nameEdit()->setText(name);
      QTest::keyClick(d, Qt::Key_Return);
    });
    QTest::keyClick(view, Qt::Key_B, Qt::ControlModifier);
    EXPECT_TRUE(*added);
  }
  // Picks the first bookmark from the bookmarks pop-up that `open` brings
  // up; answers the names it offered.
  static QStringList JumpToFirstBookmark(const std::function<void()>& open) {
    QStringList shown;
    QTimer::singleShot(0, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr);
      for (QAction* a : menu->actions())
        shown << a->text();
      ASSERT_FALSE(menu->actions().isEmpty());
      QTest::mouseClick(menu, Qt::LeftButton, {},
                        menu->actionGeometry(menu->actions().front()).center());
    });
    open();
    return shown;
  }

  static constexpr const char* kBook = "book.pdb";
  std::string book_;
};

TEST_P(DocumentBookmarksTest, ABookmarkLandsWhereItWasPutAfterARestart) {
  const BookmarkCase c = GetParam();
  if (c.format == Format::kPalmDoc) {
    KELPO_REQUIRE_PEER("txt2pdbdoc");
  } else {
    KELPO_REQUIRE_PEER("python3");
  }
  const std::string path = WriteBook(c.format);
  const std::string original = ReadFileBytes(path);
  ASSERT_FALSE(original.empty());
  const bool inFile = c.kind == BookmarkKind::kDocument;

  std::uint32_t marked = 0;
  int markedLine = 0;
  {
    auto frame = ActiveWindow();
    KelpoView* view = Open(*frame, kBook, Layout::kToItsEnd);
    ASSERT_NE(view, nullptr);
    // The screen to mark starts on the line that runs across the end of the
    // first 4096 bytes (a Palm Doc text record), a few pages on.
    const auto target = static_cast<std::uint32_t>(book_.rfind("Line ", 4095));
    for (int i = 0; i < 3; ++i)
      view->PageDown(true);
    view->Render();
    for (int i = 0; i < 400 && Top(view) != target; ++i) {
      if (Top(view) < target)
        view->LineDown();
      else
        view->LineUp();
      view->Render();
    }
    marked = Top(view);
    ASSERT_EQ(marked, target);
    markedLine = std::stoi(book_.substr(marked + 5));
    AddBookmark(view, c.kind, QStringLiteral("Marked"));
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join('\n').toStdString();
    EXPECT_EQ(Top(view), marked) << "the view stays where it was";
    if (c.format == Format::kNative && inFile) {
      KeepPicture(frame.get(), QStringLiteral("native_document_bookmark_added"));
    }
    ExpectReading(view);
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join('\n').toStdString();
  }

  // The file, read apart from the program: a Document bookmark is there with
  // its place and the text is untouched; a Local one leaves the file as it was.
  const std::string written = ReadFileBytes(path);
  if (inFile) {
    EXPECT_EQ(StoredBookmarks(c.format, written), (PosListEntries{{"Marked", marked}}));
  } else {
    EXPECT_EQ(written, original) << "a Local bookmark is not kept in the document";
  }
  if (c.format == Format::kPalmDoc) {
    // txt2pdbdoc decodes every record after record 0 as text, bookmarks too:
    // it is given record 0 and the text records only.
    std::vector<std::string> records = ParseRecords(written);
    ASSERT_GE(records.size(), 2u);
    records.resize(std::min<std::size_t>(records.size(), GetBE(records[0], 8, 2) + 1u));
    WriteFileBytes(files_.File("text.pdb"), record_db_fixtures::BuildDb(records));
    int status = -1;
    const std::string decoded =
        RunPeer("txt2pdbdoc -d '" + files_.File("text.pdb") + "'", "", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(decoded, book_);
  }

  messages_.clear();
  // After a restart the bookmarks pop-up lists it and brings the reader back
  // to the marked screen.
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, kBook, Layout::kToItsEnd);
  ASSERT_NE(view, nullptr);
  frame->action(Cmd::Home)->trigger();
  ASSERT_EQ(Top(view), 0u);
  // Ctrl+K, then the Bookmarks command of the menu bar.
  const QStringList expected{QStringLiteral("Marked")};
  EXPECT_EQ(JumpToFirstBookmark([&] { QTest::keyClick(view, Qt::Key_K, Qt::ControlModifier); }),
            expected);
  EXPECT_EQ(Top(view), marked) << "the screen that was marked, from its top";
  EXPECT_TRUE(Shows(view, markedLine));
  // From the screen just before it (the marked line right below its bottom)
  // the bookmark still brings the marked screen, not the one that ends there.
  view->PageUp(true);
  view->Render();
  ASSERT_LT(Top(view), marked);
  ASSERT_FALSE(Shows(view, markedLine + 1));
  EXPECT_EQ(JumpToFirstBookmark([&] { frame->action(Cmd::Bookmarks)->trigger(); }), expected);
  EXPECT_EQ(Top(view), marked) << "from the screen before it";
  ExpectReading(view);
  EXPECT_EQ(WholeText(view), book_);
  EXPECT_TRUE(messages_.isEmpty()) << messages_.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormatAndKind, DocumentBookmarksTest,
    testing::Values(BookmarkCase{"NativeDocument", Format::kNative, BookmarkKind::kDocument},
                    BookmarkCase{"NativeLocal", Format::kNative, BookmarkKind::kLocal},
                    BookmarkCase{"RaZoDocument", Format::kRaZo, BookmarkKind::kDocument},
                    BookmarkCase{"RaZoLocal", Format::kRaZo, BookmarkKind::kLocal},
                    BookmarkCase{"PalmDocDocument", Format::kPalmDoc, BookmarkKind::kDocument},
                    BookmarkCase{"PalmDocLocal", Format::kPalmDoc, BookmarkKind::kLocal}),
    CaseName);

}  // namespace
