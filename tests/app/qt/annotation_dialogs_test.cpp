// The annotation dialogs driven headless: the list edits, deletes and goes
// to annotations of a real annotations file bound to the view; the edit
// dialog shows line breaks by its two rules and keeps its limits; the
// settings dialog chooses, replaces and detaches the file. What they change
// is read back after the document is closed and opened again.
#include "app/dialogs/annotation_dialogs.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <string>

#include "app/core/doc_open.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "engine/formats/doc_handler.h"
#include "engine/runtime/allocator.h"
#include "engine/stores/annot_store.h"
#include "engine/stores/settings_store.h"
#include "engine/view/text_view.h"
#include "tests/app/qt/dialog_driver.h"
#include "tests/app/qt/reader_fixture.h"
#include "tests/support/wide_text.h"

namespace {

std::shared_ptr<bool> Answer(const QString& text, QMessageBox::StandardButton button) {
  return WhenModal<QMessageBox>([text, button](QMessageBox* box) {
    EXPECT_EQ(box->text(), text);
    box->button(button)->click();
  });
}

struct Stored {
  std::uint32_t start;
  int colour;
  std::string text, comment;
};

class AnnotationDialogsTest : public ViewTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ViewTest::SetUp());
    std::string text;
    for (int i = 1; i <= 400; ++i)
      text += "Line " + std::to_string(i) + " of a book with notes in it.\n";
    WriteFileBytes(files_.File("book.txt"), text);
    Open();
  }
  void Open() { OpenView(files_.File("book.txt"), QSize(420, 300)); }
  void Reopen() {
    CloseView();
    Open();
  }
  StatusCode Annot(std::uint16_t code, std::uint32_t argument, void* io) {
    EngineObject* tv = view_->textView();
    return OpsOf<TextViewOps>(tv).annotCommand(tv, code, argument, io);
  }
  void Bind(const std::string& path) {
    const std::u16string wide = U16(path);
    ASSERT_EQ(
        Annot(2, static_cast<std::uint32_t>(wide.size()), const_cast<char16_t*>(wide.c_str())),
        kOk);
  }
  std::string BoundPath() {
    char16_t path[261] = {};
    EXPECT_EQ(Annot(3, 261, path), kOk);
    return U8(path);
  }
  void AddNote(std::uint32_t start, int colour, std::string text, std::string comment) {
    AnnotEntry e{};
    e.start = start;
    e.length = 10;
    e.attribute2 = static_cast<std::uint8_t>(colour);
    e.text1 = text.data();
    e.text1Size = static_cast<std::uint32_t>(text.size());
    e.text2 = comment.data();
    e.text2Size = static_cast<std::uint32_t>(comment.size());
    ASSERT_EQ(Annot(8, 0, &e), kOk);
  }
  // Every entry of an annotations file, read from the file itself.
  static std::vector<Stored> ReadFile(const std::string& path) {
    std::vector<Stored> out;
    const std::u16string wide = U16(path);
    AnnotStore* store = nullptr;
    EXPECT_EQ(AnnotStore_Open(wide.c_str(), 0, kAnnotOpenRead, &store), kOk);
    if (store == nullptr) return out;
    std::uint16_t count = 0;
    EXPECT_EQ(AnnotStore_GetCount(store, &count), kOk);
    for (std::uint16_t i = 0; i < count; ++i) {
      AnnotEntry e{};
      e.text1Size = e.text2Size = kAnnotTextAll;
      EXPECT_EQ(AnnotStore_GetEntry(store, i, 0, &e), kOk);
      out.push_back({e.start, e.attribute2, std::string(e.text1 ? e.text1 : "", e.text1Size),
                     std::string(e.text2 ? e.text2 : "", e.text2Size)});
      Engine_Free(e.text1);
      Engine_Free(e.text2);
    }
    EXPECT_EQ(AnnotStore_Close(store), kOk);
    return out;
  }
  // The text offset of the first line on show.
  std::uint32_t Here() {
    EngineObject* tv = view_->textView();
    const auto& ops = OpsOf<TextViewOps>(tv);
    char name[] = "here";
    EXPECT_EQ(ops.positionListCommand(tv, 0x1050 | 2, 0xFFFF, name), kOk);
    std::uint16_t count = 0;
    EXPECT_EQ(ops.positionListCommand(tv, DocBookmark::Count | 2, 0, &count), kOk);
    std::uint32_t value = 0;
    EXPECT_EQ(ops.positionListCommand(tv, DocBookmark::GetValue | 2, count - 1u, &value), kOk);
    EXPECT_EQ(ops.positionListCommand(tv, DocBookmark::Delete | 2, count - 1u, nullptr), kOk);
    return value;
  }
  static QString Cell(const AnnotationsDialog* d, int row, int column) {
    return d->list()->topLevelItem(row)->text(column);
  }
};

TEST_F(AnnotationDialogsTest, TheListEditsDeletesAndGoesToAnnotations) {
  const std::string notes = files_.File("notes.kpa");
  Bind(notes);
  AddNote(100, 17, "w1\n\n\nw2\n", "first note");
  AddNote(3000, 5, "second", "");
  AddNote(6000, 2, std::string(150, 'z'), "third");
  const std::uint32_t top = Here();

  auto ran = WhenModal<AnnotationsDialog>([&](AnnotationsDialog* d) {
    ASSERT_EQ(d->list()->topLevelItemCount(), 3);
    EXPECT_EQ(d->list()->headerItem()->text(0), QStringLiteral("Text"));
    EXPECT_EQ(d->list()->headerItem()->text(1), QStringLiteral("Comment"));
    EXPECT_EQ(Cell(d, 0, 1), QStringLiteral("first note"));
    EXPECT_EQ(Cell(d, 2, 0), QString(98, QLatin1Char('z'))) << "the list reads 98 bytes";
    EXPECT_EQ(d->list()->currentItem(), d->list()->topLevelItem(0));
    KeepPicture(d, QStringLiteral("annotations_list"));

    // View/Edit: a stored text shows every line feed as a break; colour 17
    // shows as Yellow.
    auto edit = WhenModal<AnnotationDialog>([](AnnotationDialog* a) {
      EXPECT_EQ(a->textEdit()->toPlainText(), QStringLiteral("w1\n\n\nw2\n"));
      EXPECT_EQ(a->commentEdit()->toPlainText(), QStringLiteral("first note"));
      EXPECT_EQ(a->colourBox()->currentIndex(), 0);
      EXPECT_EQ(a->colourBox()->currentText(), QStringLiteral("Yellow"));
      a->commentEdit()->setPlainText(QStringLiteral("edited\nnote"));
      a->colourBox()->setCurrentIndex(5);  // Blue
      a->accept();
    });
    d->viewEditButton()->click();
    EXPECT_TRUE(*edit);
    EXPECT_EQ(Cell(d, 0, 1), QStringLiteral("edited note")) << "one line a row";
    EXPECT_EQ(Cell(d, 0, 0), QStringLiteral("w1   w2 "));
    EXPECT_TRUE(d->changed());

    // Delete asks; No keeps the row, Yes removes it from list and file.
    d->list()->setCurrentItem(d->list()->topLevelItem(1));
    auto no = Answer(QString::fromUtf8(AnnotationText::kConfirmDelete), QMessageBox::No);
    d->deleteButton()->click();
    EXPECT_TRUE(*no);
    EXPECT_EQ(d->list()->topLevelItemCount(), 3);
    auto yes = Answer(QString::fromUtf8(AnnotationText::kConfirmDelete), QMessageBox::Yes);
    d->deleteButton()->click();
    EXPECT_TRUE(*yes);
    ASSERT_EQ(d->list()->topLevelItemCount(), 2);
    EXPECT_EQ(Cell(d, 1, 1), QStringLiteral("third"));

    // Without a selected row the buttons say so.
    d->list()->clearSelection();
    d->list()->setCurrentItem(nullptr);
    for (QPushButton* b : {d->viewEditButton(), d->goToButton(), d->deleteButton()}) {
      auto told = Answer(QString::fromUtf8(AnnotationText::kSelectFirst), QMessageBox::Ok);
      b->click();
      EXPECT_TRUE(*told) << b->text().toStdString();
    }
    // Go To ends the dialog on that row.
    d->list()->setCurrentItem(d->list()->topLevelItem(1));
    d->goToButton()->click();
  });
  RunAnnotationsDialog(view_.get());
  ASSERT_TRUE(*ran);
  const std::uint32_t there = Here();
  EXPECT_GT(there, top);
  EXPECT_LE(there, 6000u);
  EXPECT_GT(there, 5000u) << "the view shows the annotation's passage";

  Reopen();
  EXPECT_EQ(BoundPath(), notes);
  const std::vector<Stored> stored = ReadFile(notes);
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].text, "w1\n\n\nw2\n") << "the text is stored as it was";
  EXPECT_EQ(stored[0].comment, "edited\nnote");
  EXPECT_EQ(stored[0].colour, 6);
  EXPECT_EQ(stored[1].start, 6000u);
  EXPECT_EQ(stored[1].comment, "third");
}

TEST_F(AnnotationDialogsTest, DeleteAllAsksOnlyWhenThereIsSomethingToDelete) {
  const std::string notes = files_.File("notes.kpa");
  Bind(notes);
  AddNote(100, 1, "one", "1");
  AddNote(500, 1, "two", "2");
  auto ran = WhenModal<AnnotationsDialog>([&](AnnotationsDialog* d) {
    auto yes = Answer(QString::fromUtf8(AnnotationText::kConfirmDeleteAll), QMessageBox::Yes);
    d->deleteAllButton()->click();
    EXPECT_TRUE(*yes);
    EXPECT_EQ(d->list()->topLevelItemCount(), 0);
    auto asked = WhenModal<QMessageBox>([](QMessageBox* box) { box->reject(); }, 300);
    d->deleteAllButton()->click();
    QTest::qWait(400);
    EXPECT_FALSE(*asked);
    d->accept();
  });
  RunAnnotationsDialog(view_.get());
  ASSERT_TRUE(*ran);
  Reopen();
  EXPECT_TRUE(ReadFile(notes).empty());

  // A document without an annotations file: an empty list.
  ASSERT_EQ(Annot(2, 0, nullptr), kOk);
  auto empty = WhenModal<AnnotationsDialog>([](AnnotationsDialog* d) {
    EXPECT_EQ(d->list()->topLevelItemCount(), 0);
    d->accept();
  });
  RunAnnotationsDialog(view_.get());
  EXPECT_TRUE(*empty);
}

// A plain click on an annotated passage opens its note box and leaves it
// open; Enter, Space and Esc close it, after which the keys scroll again.
TEST_F(AnnotationDialogsTest, AClickLeavesTheNoteBoxOpenAndItsKeysCloseIt) {
  Bind(files_.File("notes.kpa"));
  AddNote(0, 17, "a note on the first line", "its comment");
  view_->Render();
  EngineObject* tv = view_->textView();
  // Where the annotated words are (text-view x 10; the view adds its gap).
  int y = -1;
  for (int probe = 0; probe < 60 && y < 0; ++probe)
    if (OpsOf<TextViewOps>(tv).pointerEvent(tv, 9, 10, static_cast<std::int16_t>(probe)) == kYes)
      y = probe;
  ASSERT_GE(y, 0) << "the note is on show";
  const QPoint on(14, y);
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Space, Qt::Key_Escape}) {
    SCOPED_TRACE(key);
    QTest::mouseClick(view_->viewport(), Qt::LeftButton, {}, on);
    ASSERT_TRUE(view_->viewMode() & ViewMode::NoteBox) << "the opening click's release is no close";
    if (key == Qt::Key_Return) KeepPicture(view_.get(), QStringLiteral("note_box_by_click"));
    QTest::keyClick(view_.get(), key);
    EXPECT_FALSE(view_->viewMode() & ViewMode::NoteBox);
    const std::uint32_t top = Here();
    QTest::keyClick(view_.get(), Qt::Key_PageDown);
    EXPECT_GT(Here(), top) << "keys reach the text again";
    QTest::keyClick(view_.get(), Qt::Key_Home, Qt::ControlModifier);
    ASSERT_EQ(Here(), 0u);
  }
}

TEST_F(AnnotationDialogsTest, ANewAnnotationJoinsLineBreaksAndTheTextsHaveALimit) {
  AnnotationDialogFields fields;
  fields.text = u"w1\n\n\nw2\n";
  fields.colour = 0;  // no colour yet: Yellow
  auto ran = WhenModal<AnnotationDialog>([](AnnotationDialog* a) {
    EXPECT_EQ(a->textEdit()->toPlainText(), QStringLiteral("w1\nw2"));
    EXPECT_EQ(a->colourBox()->currentIndex(), 0);
    a->commentEdit()->setPlainText(QStringLiteral("My note"));
    a->colourBox()->setCurrentIndex(10);  // Olive
    KeepPicture(a, QStringLiteral("annotation_edit"));
    // The palette as its list shows it: swatch and name on every row.
    a->colourBox()->showPopup();
    QWidget* popup = a->colourBox()->view()->window();
    const QImage palette = KeepPicture(popup, QStringLiteral("annotation_palette"));
    EXPECT_GT(palette.height(), 16 * 10);
    a->colourBox()->hidePopup();

    // Past 15000 characters OK says so and the dialog stays.
    a->commentEdit()->setPlainText(QString(15001, QLatin1Char('c')));
    auto told = Answer(QStringLiteral("Enter no more than 15000 characters."), QMessageBox::Ok);
    a->accept();
    EXPECT_TRUE(*told);
    EXPECT_TRUE(a->isVisible());
    a->commentEdit()->setPlainText(QString(15000, QLatin1Char('c')));
    a->accept();
  });
  ASSERT_TRUE(RunAnnotationDialog(nullptr, &fields));
  EXPECT_TRUE(*ran);
  EXPECT_EQ(fields.text, u"w1\nw2");
  EXPECT_EQ(fields.comment, std::u16string(15000, u'c'));
  EXPECT_EQ(fields.colour, 11);

  // Cancel leaves the fields alone.
  auto cancel = WhenModal<AnnotationDialog>([](AnnotationDialog* a) {
    a->commentEdit()->setPlainText(QStringLiteral("dropped"));
    a->reject();
  });
  EXPECT_FALSE(RunAnnotationDialog(nullptr, &fields));
  EXPECT_TRUE(*cancel);
  EXPECT_EQ(fields.colour, 11);
}

TEST_F(AnnotationDialogsTest, SettingsChooseReplaceAndDetachTheFile) {
  const std::string fresh = files_.File("fresh.kpa");
  const std::string other = files_.File("other.kpa");
  const std::string existing = files_.File("existing.kpa");
  WriteFileBytes(other, "not an annotations file");
  {
    AnnotStore* made = nullptr;
    ASSERT_EQ(AnnotStore_Create(U16(existing).c_str(), 0, &made), kOk);
    ASSERT_EQ(AnnotStore_Close(made), kOk);
  }

  // A name not there yet, through the file dialog that offers the document's
  // name without its extension: taken without a question.
  auto ran = WhenModal<AnnotationSettingsDialog>([&](AnnotationSettingsDialog* d) {
    EXPECT_TRUE(d->pathEdit()->text().isEmpty());
    auto chosen = WhenModal<QFileDialog>([&](QFileDialog* f) {
      EXPECT_EQ(f->windowTitle(), QString::fromUtf8(AnnotationText::kFileDialogTitle));
      EXPECT_EQ(f->selectedNameFilter(), QStringLiteral("Kelpo Annotations (*.kpa)"));
      ASSERT_FALSE(f->selectedFiles().isEmpty());
      EXPECT_TRUE(
          f->selectedFiles().constFirst().startsWith(QString::fromStdString(files_.File("book"))))
          << f->selectedFiles().constFirst().toStdString();
      f->selectFile(QString::fromStdString(fresh));
      static_cast<QDialog*>(f)->accept();  // the file dialog's own OK
    });
    d->selectButton()->click();
    EXPECT_TRUE(*chosen);
    EXPECT_EQ(d->pathEdit()->text().toStdString(), fresh);
    EXPECT_TRUE(d->changed());
    KeepPicture(d, QStringLiteral("annotation_settings"));
    d->accept();
  });
  RunAnnotationSettingsDialog(view_.get());
  ASSERT_TRUE(*ran);
  EXPECT_EQ(BoundPath(), fresh);
  Reopen();
  EXPECT_EQ(BoundPath(), fresh);

  // Another kind of file: asked; No keeps the choice, Yes replaces that file
  // with an empty annotations file once the dialog's OK applies it.
  auto replace = WhenModal<AnnotationSettingsDialog>([&](AnnotationSettingsDialog* d) {
    EXPECT_EQ(d->pathEdit()->text().toStdString(), fresh);
    auto no = Answer(QString::fromUtf8(AnnotationText::kNotAnnotationsFile), QMessageBox::No);
    EXPECT_FALSE(d->ChooseFile(U16(other)));
    EXPECT_TRUE(*no);
    EXPECT_EQ(d->pathEdit()->text().toStdString(), fresh);
    // An annotations file that exists is taken as it is.
    EXPECT_TRUE(d->ChooseFile(U16(existing)));
    EXPECT_FALSE(d->replaceFile());
    // The open document itself is never taken.
    auto refused = WhenModal<QMessageBox>([](QMessageBox* box) { box->accept(); });
    EXPECT_FALSE(d->ChooseFile(U16(files_.File("book.txt"))));
    EXPECT_TRUE(*refused);
    auto yes = Answer(QString::fromUtf8(AnnotationText::kNotAnnotationsFile), QMessageBox::Yes);
    EXPECT_TRUE(d->ChooseFile(U16(other)));
    EXPECT_TRUE(*yes);
    EXPECT_TRUE(d->replaceFile());
    d->accept();
  });
  RunAnnotationSettingsDialog(view_.get());
  ASSERT_TRUE(*replace);
  EXPECT_EQ(BoundPath(), other);
  EXPECT_TRUE(ReadFile(other).empty()) << "now an annotations file";
  AddNote(200, 3, "kept", "in other");
  EXPECT_EQ(ReadFileBytes(files_.File("book.txt")).substr(0, 7), "Line 1 ");

  // Cancel changes nothing; Disassociate then OK detaches the file.
  auto cancel = WhenModal<AnnotationSettingsDialog>([](AnnotationSettingsDialog* d) {
    d->disassociateButton()->click();
    d->reject();
  });
  RunAnnotationSettingsDialog(view_.get());
  EXPECT_TRUE(*cancel);
  EXPECT_EQ(BoundPath(), other);
  auto detach = WhenModal<AnnotationSettingsDialog>([](AnnotationSettingsDialog* d) {
    d->disassociateButton()->click();
    EXPECT_TRUE(d->pathEdit()->text().isEmpty());
    d->accept();
  });
  RunAnnotationSettingsDialog(view_.get());
  EXPECT_TRUE(*detach);
  Reopen();
  EXPECT_EQ(BoundPath(), "");
  ASSERT_EQ(ReadFile(other).size(), 1u) << "detaching keeps the file's annotations";
}

}  // namespace
