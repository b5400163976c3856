// The reading window as the user drives it, headless: Annotate through the
// questions of a first note (a file of another kind overwritten, the open
// document refused) with the note read back after the document is opened
// again, and a note that cannot be stored reported; a window narrowed by
// Tile, or by full screen and back, showing nothing of its wider layout
// beside the scroll bar; and Cascade giving its windows a size to read in.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/commands.h"
#include "app/core/strings.h"
#include "app/dialogs/annotation_dialogs.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/file_sys.h"
#include "engine/stores/annot_store.h"
#include "engine/view/text_view.h"
#include "tests/app/qt/dialog_driver.h"
#include "tests/app/qt/reader_fixture.h"
#include "tests/support/wide_text.h"

namespace {

struct Note {
  std::string text, comment;
};

// Every note of an annotations file, read from the file itself.
std::vector<Note> ReadNotes(const std::string& path) {
  std::vector<Note> notes;
  AnnotStore* store = nullptr;
  if (AnnotStore_Open(U16(path).c_str(), 0, kAnnotOpenRead, &store) != kOk) return notes;
  std::uint16_t count = 0;
  EXPECT_EQ(AnnotStore_GetCount(store, &count), kOk);
  for (std::uint16_t i = 0; i < count; ++i) {
    AnnotEntry e{};
    e.text1Size = e.text2Size = kAnnotTextAll;
    EXPECT_EQ(AnnotStore_GetEntry(store, i, 0, &e), kOk);
    notes.push_back({std::string(e.text1 ? e.text1 : "", e.text1Size),
                     std::string(e.text2 ? e.text2 : "", e.text2Size)});
    Engine_Free(e.text1);
    Engine_Free(e.text2);
  }
  EXPECT_EQ(AnnotStore_Close(store), kOk);
  return notes;
}

// The next message box: its text is checked, then comes what must be ready
// for the window its answer opens, then the answer.
std::shared_ptr<bool> Answer(std::uint32_t id, QMessageBox::StandardButton button,
                             std::function<void()> then = {}) {
  return WhenModal<QMessageBox>([id, button, then](QMessageBox* box) {
    EXPECT_EQ(box->text().toStdString(), Resource_String(id));
    QAbstractButton* answer = box->button(button);
    if (answer == nullptr) {
      ADD_FAILURE() << "no such button on: " << box->text().toStdString();
      box->close();
      return;
    }
    if (then) then();
    answer->click();
  });
}

// The file dialog of a first note: the name is typed and taken.
std::shared_ptr<bool> Choose(const std::string& path, std::function<void()> then = {}) {
  return WhenModal<QFileDialog>([path, then](QFileDialog* dialog) {
    dialog->selectFile(QString::fromStdString(path));
    if (then) then();
    static_cast<QDialog*>(dialog)->accept();  // the file dialog's own OK
  });
}

// The Annotation dialog: the comment is written and OK pressed.
std::shared_ptr<bool> Write(const QString& comment, std::function<void()> then = {}) {
  return WhenModal<AnnotationDialog>([comment, then](AnnotationDialog* dialog) {
    dialog->commentEdit()->setPlainText(comment);
    if (then) then();
    dialog->accept();
  });
}

class ReadingWindowTest : public ReaderTest {
 protected:
  void SetUp() override {
    // Paragraphs that wrap: text runs up to the right edge at any width.
    for (int i = 0; i < 120; ++i)
      book_ += "Paragraph " + std::to_string(i) +
               " runs on with words and more words so that every line of it is filled "
               "from the left margin to the right one at whatever width the window has.\n";
    WriteFile("book.txt", book_);
    WriteFile("other.txt", book_);
    WriteFile("third.txt", book_);
  }
  void TearDown() override { FileSys_FailWritesAfter(kFileSysWritesUnlimited); }
  // Closes the document's window and opens the document again.
  KelpoView* Reopen(MainFrame& frame, const char* name) {
    frame.area()->closeAllSubWindows();
    // The closed window goes (and keeps its settings) as it would on the
    // way back to the event loop, before the document opens again.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Settle();
    EXPECT_TRUE(frame.Views().isEmpty());
    return Open(frame, name);
  }
  // Selects two lines' worth from the left of the text at height top by a
  // drag in select mode; the selection's menu comes up and is handed back.
  static QMenu* Select(MainFrame& frame, KelpoView* view, int top) {
    if (!(view->viewMode() & ViewMode::Select)) frame.RunCommand(Cmd::SelectMode);
    QWidget* vp = view->viewport();
    const QPoint from(8, top), to(160, top + 24);
    QTest::mousePress(vp, Qt::LeftButton, {}, from);
    QMouseEvent drag(QEvent::MouseMove, QPointF(to), vp->mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(vp, &drag);
    view->OnTimer(1);
    QTest::mouseRelease(vp, Qt::LeftButton, {}, to);
    for (QMenu* menu : view->findChildren<QMenu*>())
      if (menu->isVisible()) return menu;
    ADD_FAILURE() << "no selection menu";
    return nullptr;
  }
  // Annotate from the selection's menu.
  static void Annotate(MainFrame& frame, KelpoView* view, int top = 6) {
    QMenu* menu = Select(frame, view, top);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 2);
    QAction* annotate = menu->actions()[1];
    menu->close();
    annotate->trigger();
  }
  static std::string BoundPath(KelpoView* view) {
    char16_t path[261] = {};
    EngineObject* tv = view->textView();
    EXPECT_EQ(OpsOf<TextViewOps>(tv).annotCommand(tv, 3, 261, path), kOk);
    return U8(path);
  }

  std::string book_;
};

// A first note asks for its file. The open document is refused; a file of
// another kind, once the user agrees to overwrite it, becomes the
// annotations file and holds the note, which is there (and shows its box on
// a click) after the document is opened again; later notes go to it too.
TEST_F(ReadingWindowTest, AnnotateOverwritesAnotherKindOfFileAndTheNoteIsReadBack) {
  const std::string notes = files_.File("notes.kpa");
  WriteFileBytes(notes, "a shopping list, not an annotations file\n");
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);

  // The document itself as the annotations file: refused, nothing bound.
  std::shared_ptr<bool> chosen, refused;
  auto asked = Answer(StringId::NoAnnotationsFileYet, QMessageBox::Ok, [&] {
    chosen = Choose(files_.File("book.txt"), [&] {
      refused = Answer(StringId::AnnotationsFileIsDocument, QMessageBox::Ok);
    });
  });
  Annotate(*frame, view);
  ASSERT_TRUE(*asked);
  ASSERT_TRUE(chosen && *chosen);
  ASSERT_TRUE(refused && *refused);
  EXPECT_EQ(BoundPath(view), "");
  EXPECT_EQ(ReadFileBytes(files_.File("book.txt")), book_);

  // The other file, overwritten on Yes; the note goes into it.
  std::shared_ptr<bool> overwrite, written, complaint;
  asked = Answer(StringId::NoAnnotationsFileYet, QMessageBox::Ok, [&] {
    chosen = Choose(notes, [&] {
      overwrite = Answer(StringId::NotAnAnnotationsFile, QMessageBox::Yes, [&] {
        written = Write(QStringLiteral("the first note"), [&] {
          complaint = WhenModal<QMessageBox>([](QMessageBox* box) { box->accept(); }, 500);
        });
      });
    });
  });
  Annotate(*frame, view);
  ASSERT_TRUE(*asked);
  ASSERT_TRUE(*chosen);
  ASSERT_TRUE(overwrite && *overwrite);
  ASSERT_TRUE(written && *written);
  QTest::qWait(600);
  EXPECT_FALSE(*complaint) << "no message after a stored note";
  EXPECT_EQ(BoundPath(view), notes);
  std::vector<Note> stored = ReadNotes(notes);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].comment, "the first note");
  EXPECT_EQ(stored[0].text.rfind("p. 1: Paragraph 0", 0), 0u) << stored[0].text;
  // The passage shows in the note's colour (yellow, the first) at once.
  Settle();
  const QImage marked = view->viewport()->grab().toImage();
  EXPECT_EQ(marked.pixelColor(60, 4), QColor(255, 255, 0));

  // Opened again: the association and the note are there, and a click on
  // the passage opens the note's box.
  view = Reopen(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(BoundPath(view), notes);
  EngineObject* tv = view->textView();
  AnnotStore* store = nullptr;
  ASSERT_EQ(OpsOf<TextViewOps>(tv).annotCommand(tv, 0, 0, &store), kOk);
  std::uint16_t count = 0;
  ASSERT_EQ(AnnotStore_GetCount(store, &count), kOk);
  EXPECT_EQ(count, 1);
  int y = -1;
  for (int probe = 0; probe < 60 && y < 0; ++probe)
    if (OpsOf<TextViewOps>(tv).pointerEvent(tv, 9, 20, static_cast<std::int16_t>(probe)) == kYes)
      y = probe;
  ASSERT_GE(y, 0) << "the note's passage is on show";
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(24, y));
  ASSERT_TRUE(view->viewMode() & ViewMode::NoteBox);
  KeepPicture(frame.get(), QStringLiteral("annotate_note_box_after_reopen"));
  QTest::keyClick(view, Qt::Key_Escape);
  EXPECT_FALSE(view->viewMode() & ViewMode::NoteBox);

  // A later note (on another passage) goes straight to the dialog and into
  // the same file.
  written = Write(QStringLiteral("a second note"));
  Annotate(*frame, view, 200);
  ASSERT_TRUE(*written);
  stored = ReadNotes(notes);
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].comment, "the first note");
  EXPECT_EQ(stored[1].comment, "a second note");
}

// A note that cannot be stored is reported, and so is a file that cannot be
// overwritten; neither leaves anything changed on disk.
TEST_F(ReadingWindowTest, ANoteThatCannotBeStoredIsReported) {
  auto frame = ActiveWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);

  // A new name in a folder that cannot be made (a file stands in its way):
  // taken as a new file, but the note has nowhere to go.
  const std::string lost = files_.File("other.txt") + "/notes.kpa";
  std::shared_ptr<bool> chosen, written, told;
  auto asked = Answer(StringId::NoAnnotationsFileYet, QMessageBox::Ok, [&] {
    chosen = Choose(lost, [&] {
      written = Write(QStringLiteral("nowhere to go"),
                      [&] { told = Answer(StringId::AnnotationNotStored, QMessageBox::Ok); });
    });
  });
  Annotate(*frame, view);
  ASSERT_TRUE(*asked);
  ASSERT_TRUE(chosen && *chosen);
  ASSERT_TRUE(written && *written);
  ASSERT_TRUE(told && *told);
  EXPECT_EQ(ReadFileBytes(files_.File("other.txt")), book_);
  // Every later try says so again.
  written = Write(QStringLiteral("still nowhere"),
                  [&] { told = Answer(StringId::AnnotationNotStored, QMessageBox::Ok); });
  Annotate(*frame, view);
  ASSERT_TRUE(*written);
  ASSERT_TRUE(told && *told);

  // Another kind of file on a full disk: the overwrite fails, the file
  // stays as it was and is not taken.
  view = Reopen(*frame, "third.txt");
  ASSERT_NE(view, nullptr);
  const std::string list = files_.File("list.kpa");
  const std::string content = "a shopping list, not an annotations file\n";
  WriteFileBytes(list, content);
  std::shared_ptr<bool> overwrite;
  asked = Answer(StringId::NoAnnotationsFileYet, QMessageBox::Ok, [&] {
    chosen = Choose(list, [&] {
      overwrite = Answer(StringId::NotAnAnnotationsFile, QMessageBox::Yes, [&] {
        FileSys_FailWritesAfter(0);
        told = Answer(StringId::AnnotationsFileNotReplaced, QMessageBox::Ok);
      });
    });
  });
  Annotate(*frame, view);
  FileSys_FailWritesAfter(kFileSysWritesUnlimited);
  ASSERT_TRUE(*asked);
  ASSERT_TRUE(overwrite && *overwrite);
  ASSERT_TRUE(told && *told);
  EXPECT_EQ(ReadFileBytes(list), content);
  EXPECT_EQ(BoundPath(view), "");
}

// A document window narrows: by Tile from maximised, or back from full
// screen (F11, then Esc) to its tiled place. The strip between its text and
// the scroll bar must look as in a view painted afresh at that size, not
// keep pieces of the wider layout, also after paging.
TEST_F(ReadingWindowTest, ANarrowedWindowShowsNothingOfItsWiderLayout) {
  struct Way {
    const char* name;
    bool tiledFirst;
    std::function<void(MainFrame&, KelpoView*)> narrow;
  };
  const Way ways[] = {
      {"Window > Tile", false, [](MainFrame& f, KelpoView*) { f.RunCommand(Cmd::Tile); }},
      {"full screen and back, tiled", true,
       [](MainFrame& f, KelpoView* v) {
         f.RunCommand(Cmd::FullScreen);
         Settle();
         v->Render();
         Settle();
         QTest::keyClick(v, Qt::Key_Escape);
       }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    auto frame = ActiveWindow();
    ASSERT_NE(Open(*frame, "other.txt"), nullptr);
    KelpoView* view = Open(*frame, "book.txt");
    ASSERT_NE(view, nullptr);
    // From the start, where the fresh view below starts too (an earlier
    // round left the document paged on).
    frame->RunCommand(Cmd::Home);
    if (way.tiledFirst) {
      frame->RunCommand(Cmd::Tile);
      Settle();
      view->Render();
    }
    const int before = view->viewport()->width();
    way.narrow(*frame, view);
    Settle();
    view->Render();
    Settle();
    const QSize size = view->viewport()->size();
    ASSERT_LT(size.width(), frame->area()->width() - 100) << "the window is narrow";
    if (!way.tiledFirst) ASSERT_LT(size.width(), before - 100);

    // The same document in a view of its own, painted once at this size.
    KelpoDoc doc(ShellContext{&prefs_, nullptr, nullptr});
    ASSERT_TRUE(doc.OnOpenDocument(U16(files_.File("book.txt"))));
    KelpoView fresh(&doc, nullptr);
    fresh.resize(view->size());
    fresh.OnInitialUpdate();
    fresh.show();
    Settle();
    ASSERT_EQ(fresh.viewport()->size(), size);

    const int strip = 12;  // the right margin and a little of the text
    for (int pages = 0; pages < 3; ++pages) {
      SCOPED_TRACE(pages);
      fresh.Render();
      view->Render();
      Settle();
      const QImage got = view->viewport()->grab().toImage();
      const QImage want = fresh.viewport()->grab().toImage();
      ASSERT_EQ(got.size(), want.size());
      if (pages == 0 && !way.tiledFirst)
        KeepPicture(frame.get(), QStringLiteral("tiled_window_right_edge"));
      int differing = 0, firstX = -1;
      for (int x = size.width() - strip; x < size.width(); ++x)
        for (int y = 0; y < size.height(); ++y)
          if (got.pixel(x, y) != want.pixel(x, y)) {
            ++differing;
            if (firstX < 0 || x < firstX) firstX = x;
          }
      EXPECT_EQ(differing, 0) << "from x " << firstX << " of " << size.width();
      view->PageDown(true);
      fresh.PageDown(true);
    }
  }
}

// Cascade leaves every window big enough to read in: the windows keep the
// cascade's steps and the last one reaches the area's bottom-right corner.
TEST_F(ReadingWindowTest, CascadedWindowsTakeTheAreaLessTheCascadeSteps) {
  auto frame = ActiveWindow();
  const QSize area = frame->area()->viewport()->size();
  ASSERT_GT(area.width(), 600);
  ASSERT_GT(area.height(), 400);
  const char* names[] = {"book.txt", "other.txt", "third.txt"};
  for (int count : {2, 3}) {
    SCOPED_TRACE(count);
    frame->area()->closeAllSubWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Settle();
    for (int i = 0; i < count; ++i)
      ASSERT_NE(Open(*frame, names[i]), nullptr);
    frame->RunCommand(Cmd::Cascade);
    Settle();
    const QList<QMdiSubWindow*> windows = frame->area()->subWindowList();
    ASSERT_EQ(windows.size(), count);
    QPoint deepest(0, 0);
    for (QMdiSubWindow* w : windows) {
      EXPECT_FALSE(w->isMaximized());
      deepest = QPoint(std::max(deepest.x(), w->x()), std::max(deepest.y(), w->y()));
    }
    EXPECT_GT(deepest.x(), 0);
    EXPECT_GT(deepest.y(), 0);
    for (QMdiSubWindow* w : windows) {
      SCOPED_TRACE(w->windowTitle().toStdString());
      EXPECT_EQ(w->size(), area - QSize(deepest.x(), deepest.y()));
      EXPECT_TRUE(QRect(QPoint(0, 0), area).contains(w->geometry()));
      EXPECT_GT(w->width(), area.width() * 3 / 4);
      EXPECT_GT(w->height(), area.height() * 3 / 4);
    }
    if (count == 3) KeepPicture(frame.get(), QStringLiteral("cascaded_windows"));
  }
}

}  // namespace
