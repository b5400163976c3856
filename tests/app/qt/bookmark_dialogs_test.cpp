// The bookmark dialogs driven headless through their entry functions: what
// they store goes through the view's position lists, and after the document
// is closed and opened again the lists read back as the dialogs left them.
// Local bookmarks live in the settings database (a plain-text document);
// Document bookmarks in the file itself (a Palm Doc made by txt2pdbdoc).
#include "app/dialogs/bookmark_dialogs.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "app/core/bookmark_rules.h"
#include "app/core/doc_open.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "engine/formats/doc_handler.h"
#include "engine/runtime/charset_name.h"
#include "engine/stores/settings_store.h"
#include "engine/view/text_view.h"
#include "tests/app/qt/dialog_driver.h"
#include "tests/app/qt/reader_fixture.h"
#include "tests/formats/razo_fixture.h"
#include "tests/support/peer.h"
#include "tests/support/wide_text.h"

namespace {

std::string Book() {
  std::string text;
  for (int i = 1; i <= 400; ++i)
    text += "Line " + std::to_string(i) + " of a book with bookmarks in it.\n";
  return text;
}

// Answers the next message box with button, after checking its text.
std::shared_ptr<bool> Answer(const QString& text, QMessageBox::StandardButton button) {
  return WhenModal<QMessageBox>([text, button](QMessageBox* box) {
    EXPECT_EQ(box->text(), text);
    box->button(button)->click();
  });
}

class BookmarkDialogsTest : public ViewTest {
 protected:
  void Open(const std::string& path) {
    path_ = path;
    OpenView(path, QSize(420, 300));
  }
  // The document closed and opened again: the view stores the reading state
  // and the kind last used on its way out.
  void Reopen() {
    CloseView();
    Open(path_);
  }
  StatusCode List(std::uint16_t op, int list, std::uint32_t argument, void* io) {
    EngineObject* tv = view_->textView();
    return OpsOf<TextViewOps>(tv).positionListCommand(tv, static_cast<std::uint16_t>(op | list),
                                                      argument, io);
  }
  std::vector<std::string> Names(int list) {
    std::vector<std::string> out;
    std::uint16_t count = 0;
    if (IsFailure(List(DocBookmark::Count, list, 0, &count)) || count == 0) return out;
    const char** names = nullptr;
    EXPECT_EQ(List(DocBookmark::GetNames, list, 0, static_cast<void*>(&names)), kOk);
    for (int i = 0; i < count; ++i)
      out.emplace_back(names[i]);
    EXPECT_EQ(List(DocBookmark::FreeNames, list, 0, static_cast<void*>(names)), kOk);
    return out;
  }
  std::uint32_t Value(int list, int index) {
    std::uint32_t value = 0xFFFFFFFF;
    EXPECT_EQ(List(DocBookmark::GetValue, list, static_cast<std::uint32_t>(index), &value), kOk);
    return value;
  }
  // Adds a bookmark through the Add dialog.
  void Add(const QString& name, int kind) {
    auto ran = WhenModal<AddBookmarkDialog>([name, kind](AddBookmarkDialog* d) {
      d->nameEdit()->setText(name);
      d->kindBox()->setCurrentIndex(kind);
      QTest::keyClick(d, Qt::Key_Return);  // the default button: Add
    });
    RunAddBookmarkDialog(view_.get());
    EXPECT_TRUE(*ran);
  }
  void PageDown(int times) {
    for (int i = 0; i < times; ++i)
      QTest::keyClick(view_.get(), Qt::Key_PageDown);
    view_->Render();
  }
  std::vector<QString> Rows(const EditBookmarksDialog* d) {
    std::vector<QString> rows;
    for (int i = 0; i < d->list()->count(); ++i)
      rows.push_back(d->list()->item(i)->text());
    return rows;
  }

  std::string path_;
};

constexpr int kLocal = 2;     // engine list of the Local kind
constexpr int kDocument = 0;  // engine list of the Document kind
constexpr int kGlobal = 1;    // engine list of the Global kind

TEST_F(BookmarkDialogsTest, AddLocalBookmarksReplaceOneAndReadThemBack) {
  WriteFileBytes(files_.File("book.txt"), Book());
  Open(files_.File("book.txt"));

  // The name starts as the text at the reading position, the kind as the
  // document remembers it (a new document: Document).
  QString preset;
  int presetKind = -2;
  auto ran = WhenModal<AddBookmarkDialog>([&](AddBookmarkDialog* d) {
    preset = d->name();
    presetKind = d->kind();
    d->nameEdit()->setText(QStringLiteral("Opening"));
    d->kindBox()->setCurrentIndex(BookmarkKind::kLocal);
    KeepPicture(d, QStringLiteral("bookmark_add"));
    QTest::keyClick(d, Qt::Key_Return);
  });
  RunAddBookmarkDialog(view_.get());
  ASSERT_TRUE(*ran);
  EXPECT_EQ(preset, QStringLiteral("Line 1 of a book with bookmark"));  // 30 bytes
  EXPECT_EQ(presetKind, BookmarkKind::kDocument);
  EXPECT_EQ(Bookmark_KindOfFlags(doc_->state().displayExtra), BookmarkKind::kLocal);

  PageDown(3);
  Add(QStringLiteral("Further on"), BookmarkKind::kLocal);
  ASSERT_EQ(Names(kLocal), (std::vector<std::string>{"Opening", "Further on"}));
  const std::uint32_t opening = Value(kLocal, 0), further = Value(kLocal, 1);
  EXPECT_GT(further, opening);

  // The same name again: asked first; No changes nothing, Yes moves the old
  // bookmark to the reading position instead of adding a second one.
  PageDown(3);
  auto no = Answer(
      QStringLiteral("A bookmark named \"Opening\" already exists. Do you want to replace it?"),
      QMessageBox::No);
  Add(QStringLiteral("Opening"), BookmarkKind::kLocal);
  EXPECT_TRUE(*no);
  EXPECT_EQ(Value(kLocal, 0), opening);
  auto yes = Answer(
      QStringLiteral("A bookmark named \"Opening\" already exists. Do you want to replace it?"),
      QMessageBox::Yes);
  Add(QStringLiteral("Opening"), BookmarkKind::kLocal);
  EXPECT_TRUE(*yes);
  const std::uint32_t moved = Value(kLocal, 0);
  EXPECT_GT(moved, further);

  // Cancel and an empty name add nothing.
  auto cancel = WhenModal<AddBookmarkDialog>([](AddBookmarkDialog* d) {
    d->nameEdit()->setText(QStringLiteral("Not added"));
    d->reject();
  });
  RunAddBookmarkDialog(view_.get());
  EXPECT_TRUE(*cancel);
  Add(QString(), BookmarkKind::kLocal);

  // A name longer than 31 bytes of a UTF-8 document is cut before a
  // character that would not fit whole.
  doc_->state().encoding = Mib::kUtf8;
  Add(QString(29, QLatin1Char('x')) + QString::fromUtf16(u"\u00e9\u00e9"), BookmarkKind::kLocal);

  Reopen();
  // The kind last used is where the next dialog starts.
  int kindAfterReopen = -2;
  auto again = WhenModal<AddBookmarkDialog>([&](AddBookmarkDialog* d) {
    kindAfterReopen = d->kind();
    d->reject();
  });
  RunAddBookmarkDialog(view_.get());
  EXPECT_TRUE(*again);
  EXPECT_EQ(kindAfterReopen, BookmarkKind::kLocal);
  EXPECT_EQ(Names(kLocal),
            (std::vector<std::string>{"Opening", "Further on", std::string(29, 'x') + "\xC3\xA9"}));
  EXPECT_EQ(Value(kLocal, 0), moved);
  EXPECT_EQ(Value(kLocal, 1), further);
}

TEST_F(BookmarkDialogsTest, EditMovesRenamesSortsAndDeletesAndTheListIsKept) {
  WriteFileBytes(files_.File("book.txt"), Book());
  Open(files_.File("book.txt"));
  for (const char* name : {"Delta", "Bravo", "Charlie", "Alpha"}) {
    Add(QString::fromUtf8(name), BookmarkKind::kLocal);
    PageDown(1);
  }
  const std::uint32_t alpha = Value(kLocal, 3);

  auto ran = WhenModal<EditBookmarksDialog>([&](EditBookmarksDialog* d) {
    // It starts on the kind last used, with the list in stored order.
    EXPECT_EQ(d->kindBox()->currentIndex(), BookmarkKind::kLocal);
    EXPECT_EQ(Rows(d), (std::vector<QString>{"Delta", "Bravo", "Charlie", "Alpha"}));
    for (QPushButton* b : {d->upButton(), d->downButton(), d->renameButton(),
                           d->alphabetizeButton(), d->deleteButton(), d->deleteAllButton()})
      EXPECT_TRUE(b->isEnabled());

    // Up on the first row and Down on the last do nothing.
    d->list()->setCurrentRow(0);
    d->upButton()->click();
    d->list()->setCurrentRow(3);
    d->downButton()->click();
    EXPECT_EQ(Rows(d), (std::vector<QString>{"Delta", "Bravo", "Charlie", "Alpha"}));
    // Alpha up twice: the row and the engine's list move together.
    d->upButton()->click();
    d->upButton()->click();
    EXPECT_EQ(d->list()->currentRow(), 1);
    EXPECT_EQ(Names(kLocal), (std::vector<std::string>{"Delta", "Alpha", "Bravo", "Charlie"}));
    d->downButton()->click();
    EXPECT_EQ(Names(kLocal), (std::vector<std::string>{"Delta", "Bravo", "Alpha", "Charlie"}));
    d->upButton()->click();
    EXPECT_EQ(Names(kLocal), (std::vector<std::string>{"Delta", "Alpha", "Bravo", "Charlie"}));

    // Rename Delta to Echo.
    d->list()->setCurrentRow(0);
    auto rename = WhenModal<RenameBookmarkDialog>([](RenameBookmarkDialog* r) {
      EXPECT_EQ(r->name(), QStringLiteral("Delta"));
      KeepPicture(r, QStringLiteral("bookmark_rename"));
      r->nameEdit()->setText(QStringLiteral("Echo"));
      QTest::keyClick(r, Qt::Key_Return);
    });
    d->renameButton()->click();
    EXPECT_TRUE(*rename);
    // To a name another bookmark has: refused with a message.
    auto clash = WhenModal<RenameBookmarkDialog>([](RenameBookmarkDialog* r) {
      r->nameEdit()->setText(QStringLiteral("Bravo"));
      QTest::keyClick(r, Qt::Key_Return);
    });
    auto exists =
        Answer(QStringLiteral("A bookmark named \"Bravo\" already exists."), QMessageBox::Ok);
    d->renameButton()->click();
    EXPECT_TRUE(*clash);
    EXPECT_TRUE(*exists);
    // To the empty text, or unchanged: nothing happens, nothing is asked.
    for (const QString& same : {QString(), QStringLiteral("Echo")}) {
      auto nothing = WhenModal<RenameBookmarkDialog>([same](RenameBookmarkDialog* r) {
        r->nameEdit()->setText(same);
        QTest::keyClick(r, Qt::Key_Return);
      });
      d->renameButton()->click();
      EXPECT_TRUE(*nothing);
    }
    EXPECT_EQ(Rows(d), (std::vector<QString>{"Echo", "Alpha", "Bravo", "Charlie"}));
    KeepPicture(d, QStringLiteral("bookmark_edit"));

    // Alphabetize asks first; No keeps the order.
    auto keep = Answer(QString::fromUtf8(BookmarkText::kConfirmAlphabetize), QMessageBox::No);
    d->alphabetizeButton()->click();
    EXPECT_TRUE(*keep);
    EXPECT_EQ(Rows(d), (std::vector<QString>{"Echo", "Alpha", "Bravo", "Charlie"}));
    auto sort = Answer(QString::fromUtf8(BookmarkText::kConfirmAlphabetize), QMessageBox::Yes);
    d->alphabetizeButton()->click();
    EXPECT_TRUE(*sort);
    EXPECT_EQ(Rows(d), (std::vector<QString>{"Alpha", "Bravo", "Charlie", "Echo"}));

    // Delete, without a question; the next row is selected.
    d->list()->setCurrentRow(2);
    d->deleteButton()->click();
    EXPECT_EQ(Rows(d), (std::vector<QString>{"Alpha", "Bravo", "Echo"}));
    EXPECT_EQ(d->list()->currentRow(), 2);
    d->accept();
  });
  RunEditBookmarksDialog(view_.get());
  ASSERT_TRUE(*ran);

  Reopen();
  EXPECT_EQ(Names(kLocal), (std::vector<std::string>{"Alpha", "Bravo", "Echo"}));
  EXPECT_EQ(Value(kLocal, 0), alpha) << "positions travel with their names";

  // Delete All asks; then the list is empty, and on an empty list it asks
  // nothing.
  auto all = WhenModal<EditBookmarksDialog>([&](EditBookmarksDialog* d) {
    auto yes = Answer(QString::fromUtf8(BookmarkText::kConfirmDeleteAll), QMessageBox::Yes);
    d->deleteAllButton()->click();
    EXPECT_TRUE(*yes);
    EXPECT_EQ(d->list()->count(), 0);
    auto asked = WhenModal<QMessageBox>([](QMessageBox* box) { box->reject(); }, 300);
    d->deleteAllButton()->click();
    QTest::qWait(400);
    EXPECT_FALSE(*asked);
    d->accept();
  });
  RunEditBookmarksDialog(view_.get());
  ASSERT_TRUE(*all);
  Reopen();
  EXPECT_TRUE(Names(kLocal).empty());
}

TEST_F(BookmarkDialogsTest, DocumentBookmarksAreWrittenIntoTheFileUnlessItIsReadOnly) {
  KELPO_REQUIRE_PEER("txt2pdbdoc");
  WriteFileBytes(files_.File("book.txt"), Book());
  int status = -1;
  RunPeer("txt2pdbdoc Book '" + files_.File("book.txt") + "' '" + files_.File("book.pdb") + "'", "",
          &status);
  ASSERT_EQ(status, 0);
  Open(files_.File("book.pdb"));
  ASSERT_TRUE(Names(kDocument).empty());

  PageDown(2);
  Add(QStringLiteral("In the file"), BookmarkKind::kDocument);
  EXPECT_EQ(doc_->state().openMode, 1u) << "reopened for writing";
  // The handler still reads its text on the new database.
  char excerpt[31] = {};
  ASSERT_EQ(List(0x1060, 0, 30, excerpt), kOk);
  EXPECT_EQ(std::string(excerpt).substr(0, 5), "Line ");
  const std::uint32_t position = Value(kDocument, 0);
  EXPECT_GT(position, 0u);

  // The edit dialog starts on Document; a move reopens nothing twice.
  Add(QStringLiteral("Second"), BookmarkKind::kDocument);
  auto moved = WhenModal<EditBookmarksDialog>([&](EditBookmarksDialog* d) {
    EXPECT_EQ(d->kindBox()->currentIndex(), BookmarkKind::kDocument);
    d->list()->setCurrentRow(1);
    d->upButton()->click();
    EXPECT_EQ(Rows(d), (std::vector<QString>{"Second", "In the file"}));
    // Down moves the file's records too (and back again).
    d->list()->setCurrentRow(0);
    d->downButton()->click();
    EXPECT_EQ(Names(kDocument), (std::vector<std::string>{"In the file", "Second"}));
    d->downButton()->click();  // the last row: nothing
    d->upButton()->click();
    EXPECT_EQ(Names(kDocument), (std::vector<std::string>{"Second", "In the file"}));
    EXPECT_EQ(d->list()->currentRow(), 0);
    d->accept();
  });
  RunEditBookmarksDialog(view_.get());
  EXPECT_TRUE(*moved);

  Reopen();
  EXPECT_EQ(Names(kDocument), (std::vector<std::string>{"Second", "In the file"}));
  EXPECT_EQ(Value(kDocument, 1), position);

  // The file keeps names of at most 15 bytes: a UTF-8 name is cut before a
  // character that would not fit whole.
  doc_->state().encoding = Mib::kUtf8;
  Add(QString(9, QChar(0x00e9)), BookmarkKind::kDocument);
  std::string cut;
  for (int i = 0; i < 7; ++i)
    cut += "\xC3\xA9";
  EXPECT_EQ(Names(kDocument), (std::vector<std::string>{"Second", "In the file", cut}));
  auto renamed = WhenModal<EditBookmarksDialog>([&](EditBookmarksDialog* d) {
    d->list()->setCurrentRow(1);
    auto rename = WhenModal<RenameBookmarkDialog>([](RenameBookmarkDialog* r) {
      r->nameEdit()->setText(QStringLiteral("abcdefghijklmn") + QChar(0x00e9));
      QTest::keyClick(r, Qt::Key_Return);
    });
    d->renameButton()->click();
    EXPECT_TRUE(*rename);
    EXPECT_EQ(d->list()->item(1)->text(), QStringLiteral("abcdefghijklmn"));
    d->list()->setCurrentRow(2);
    d->deleteButton()->click();
    d->accept();
  });
  RunEditBookmarksDialog(view_.get());
  EXPECT_TRUE(*renamed);
  Reopen();
  EXPECT_EQ(Names(kDocument), (std::vector<std::string>{"Second", "abcdefghijklmn"}));

  // A read-only file: adding a Document bookmark says why it cannot, for a
  // new name and for one that exists alike, and nothing changes.
  doc_->state().readOnly = true;
  for (const char* name : {"Third", "Second"}) {
    auto told = Answer(QString::fromUtf8(BookmarkText::kReadOnlyDocument), QMessageBox::Ok);
    Add(QString::fromUtf8(name), BookmarkKind::kDocument);
    EXPECT_TRUE(*told) << name;
  }
  EXPECT_EQ(Names(kDocument), (std::vector<std::string>{"Second", "abcdefghijklmn"}));
  EXPECT_EQ(doc_->state().openMode, 0u);
  // The edit dialog offers no changes there, but does for Local bookmarks.
  auto locked = WhenModal<EditBookmarksDialog>([&](EditBookmarksDialog* d) {
    EXPECT_FALSE(d->deleteButton()->isEnabled());
    EXPECT_FALSE(d->upButton()->isEnabled());
    EXPECT_FALSE(d->deleteAllButton()->isEnabled());
    d->kindBox()->setCurrentIndex(BookmarkKind::kLocal);
    emit d->kindBox()->activated(BookmarkKind::kLocal);
    EXPECT_TRUE(d->deleteButton()->isEnabled());
    EXPECT_EQ(d->list()->count(), 0);
    d->accept();
  });
  RunEditBookmarksDialog(view_.get());
  EXPECT_TRUE(*locked);
}

TEST_F(BookmarkDialogsTest, GlobalAndDocumentBookmarksOfARaZoDocument) {
  KELPO_REQUIRE_PEER("python3");
  std::string text;
  for (int i = 1; i <= 300; ++i)
    text += "Line " + std::to_string(i) + " of a compressed book.\n";
  WriteFileBytes(files_.File("book.pdb"),
                 razo_fixture::Write("{\"text\":" + razo_fixture::Json(text) +
                                     ",\"bookmarks\":[[\"Stored\",40]]}"));
  Open(files_.File("book.pdb"));
  ASSERT_EQ(Names(kDocument), (std::vector<std::string>{"Stored"}));

  PageDown(2);
  Add(QStringLiteral("Everywhere"), BookmarkKind::kGlobal);
  Add(QStringLiteral("Here"), BookmarkKind::kDocument);
  EXPECT_EQ(doc_->state().openMode, 1u);
  char excerpt[31] = {};
  ASSERT_EQ(List(0x1060, 0, 30, excerpt), kOk);
  EXPECT_EQ(std::string(excerpt).substr(0, 5), "Line ") << "the text reads after the reopen";
  const std::uint32_t here = Value(kDocument, 1);

  auto ran = WhenModal<EditBookmarksDialog>([&](EditBookmarksDialog* d) {
    EXPECT_EQ(d->kindBox()->currentIndex(), BookmarkKind::kDocument);
    EXPECT_EQ(Rows(d), (std::vector<QString>{"Stored", "Here"}));
    d->kindBox()->setCurrentIndex(BookmarkKind::kGlobal);
    emit d->kindBox()->activated(BookmarkKind::kGlobal);
    EXPECT_EQ(Rows(d), (std::vector<QString>{"Everywhere"}));
    d->accept();
  });
  RunEditBookmarksDialog(view_.get());
  EXPECT_TRUE(*ran);

  Reopen();
  EXPECT_EQ(Names(kDocument), (std::vector<std::string>{"Stored", "Here"}));
  EXPECT_EQ(Names(kGlobal), (std::vector<std::string>{"Everywhere"}));
  EXPECT_EQ(Value(kDocument, 1), here);
}

TEST_F(BookmarkDialogsTest, AFileThatCannotBeReopenedLeavesTheDocumentShowing) {
  KELPO_REQUIRE_PEER("txt2pdbdoc");
  WriteFileBytes(files_.File("book.txt"), Book());
  int status = -1;
  RunPeer("txt2pdbdoc Book '" + files_.File("book.txt") + "' '" + files_.File("book.pdb") + "'", "",
          &status);
  ASSERT_EQ(status, 0);
  Open(files_.File("book.pdb"));
  // The file goes away under the open document: it cannot be reopened for
  // writing, so no bookmark is added, and the view goes on reading.
  ASSERT_EQ(std::remove(files_.File("book.pdb").c_str()), 0);
  Add(QStringLiteral("Lost"), BookmarkKind::kDocument);
  ASSERT_NE(doc_->state().reader, nullptr);
  EXPECT_EQ(doc_->state().openMode, 0u);
  EXPECT_TRUE(Names(kDocument).empty());
  PageDown(2);
  char excerpt[31] = {};
  ASSERT_EQ(List(0x1060, 0, 30, excerpt), kOk);
  EXPECT_EQ(std::string(excerpt).substr(0, 5), "Line ");
}

}  // namespace
