// The annotation binding through the view: notes added, chosen in the note
// box, edited and deleted persist in the annotation file and come back in a
// new view; a file the store refuses is never replaced; long notes open cut
// with the mark; the path commands.
#include "engine/device/note_box.h"
#include "engine/stores/annot_store.h"
#include "tests/support/temp_dir.h"
#include "tests/view/text_view_fixture.h"

namespace {

// Lines of 10 pixels, 5 pixels a character: [0,18) [18,26) ...
const char* const kText = "abcdefgh abcdefgh\nbcdefgh\ncdefgh dddd eeee\nabc hhh\n";

std::u16string Wide(const std::string& s) {
  return std::u16string(s.begin(), s.end());  // the temporary paths are ASCII
}

class TextViewAnnotTest : public TextViewFixture {
 protected:
  StatusCode Annot(std::uint16_t code, std::uint32_t argument, void* io) {
    return ViewOps().annotCommand(view_, code, argument, io);
  }
  StatusCode SetPath() {
    return Annot(2, static_cast<std::uint32_t>(path_.size()), const_cast<char16_t*>(path_.data()));
  }
  StatusCode Pointer(std::uint16_t code, int x, int y) {
    return ViewOps().pointerEvent(view_, code, static_cast<std::int16_t>(x),
                                  static_cast<std::int16_t>(y));
  }
  StatusCode AddNote(std::uint32_t start, std::uint16_t length, const std::string& note) {
    AnnotEntry e{};
    e.start = start;
    e.length = length;
    e.attribute2 = 3;
    e.text2 = const_cast<char*>(note.data());
    e.text2Size = static_cast<std::uint32_t>(note.size());
    return Annot(8, 0, &e);
  }
  NoteBox& Box() { return V().annotBinding->edit->box; }
  std::string BoxText() {
    return std::string(reinterpret_cast<const char*>(Box().text), Box().textLength);
  }
  // A point on a button of the open box.
  DevicePoint ButtonPoint(int button) {
    const NoteBox& b = Box();
    for (int y = b.y; y < b.y + b.height; ++y)
      for (int x = b.x; x < b.x + b.width; ++x)
        if (NoteBox_HitTest(b, static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)) ==
            button)
          return {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)};
    ADD_FAILURE() << "no button " << button;
    return {};
  }
  // Taps a button of the open box: the answer of the release.
  StatusCode Choose(int button) {
    const DevicePoint p = ButtonPoint(button);
    EXPECT_EQ(Pointer(TextViewPointer::Press, p.x, p.y), kViewNoteBoxOpen);
    return Pointer(TextViewPointer::Release, p.x, p.y);
  }
  std::uint16_t Value(std::uint16_t code) {
    std::uint16_t value = 0xEEEE;
    EXPECT_EQ(Annot(code, 0, &value), kOk);
    return value;
  }
  AnnotStore* Store() {
    AnnotStore* store = nullptr;
    EXPECT_EQ(Annot(0, 0, &store), kOk);
    return store;
  }

  TempDir dir_;
  std::u16string path_ = Wide(dir_.File("notes.kpa"));
};

TEST_F(TextViewAnnotTest, NotesAddedEditedAndDeletedPersistAndComeBack) {
  Open(kText);
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(SetPath(), kOk);
  ASSERT_EQ(AddNote(2, 4, "first note"), kOk) << "a missing file is created";
  ASSERT_EQ(AddNote(20, 3, "second"), kOk);
  EXPECT_EQ(Value(12), 2);

  // A press on the first note opens the box with its text; "View/Edit".
  const std::vector<std::uint32_t> page = F().windowSurface.rgb;
  EXPECT_EQ(Pointer(TextViewPointer::Probe, 17, 5), kYes);
  ASSERT_EQ(Pointer(TextViewPointer::Press, 17, 5), kViewNoteBoxOpen);
  EXPECT_EQ(V().mode, TextViewMode::NoteBox);
  EXPECT_EQ(BoxText(), "first note");
  EXPECT_EQ(Nav(TextViewNav::LineDown), kOk) << "keys go to the box";
  EXPECT_EQ(Box().focused, kUiViewEdit);
  EXPECT_EQ(Choose(kUiViewEdit), kViewNoteBoxChosen);
  EXPECT_EQ(V().mode, TextViewMode::Idle);
  EXPECT_EQ(F().windowSurface.rgb, page) << "the page comes back";
  EXPECT_EQ(Value(6), kUiViewEdit);
  EXPECT_EQ(Value(7), 0);
  // The host edits the chosen note through the view's store.
  AnnotStore* store = Store();
  ASSERT_NE(store, nullptr);
  std::string edited = "edited note";
  AnnotEntry e{};
  e.attribute2 = 3;
  e.text2 = edited.data();
  e.text2Size = static_cast<std::uint32_t>(edited.size());
  ASSERT_EQ(AnnotStore_UpdateEntry(store, Value(7), &e), kOk);

  // "Delete" on the second note; the host removes it.
  ASSERT_EQ(Pointer(TextViewPointer::Press, 12, 15), kViewNoteBoxOpen);
  EXPECT_EQ(BoxText(), "second");
  EXPECT_EQ(Choose(kUiDelete), kViewNoteBoxChosen);
  EXPECT_EQ(Value(6), kUiDelete);
  EXPECT_EQ(Value(7), 1);
  ASSERT_EQ(AnnotStore_DeleteEntries(Store(), Value(7)), kOk);
  ExpectBalancedDrawing();
  Close();

  // A new view on the same file.
  Open(kText);
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(SetPath(), kOk);
  EXPECT_EQ(Value(12), 0) << "the store opens on first need";
  ASSERT_NE(Store(), nullptr);
  EXPECT_EQ(Value(12), 1);
  ASSERT_EQ(Pointer(TextViewPointer::Press, 17, 5), kViewNoteBoxOpen);
  EXPECT_EQ(BoxText(), "edited note");
  // A tap outside closes the box without a button.
  EXPECT_EQ(Pointer(TextViewPointer::Press, 119, 99), kViewNoteBoxClosed);
  EXPECT_EQ(V().annotBinding->edit, nullptr);
  EXPECT_EQ(Pointer(TextViewPointer::Probe, 12, 15), kNo) << "the deleted note is gone";
  // Going to note 0 shows its start.
  ASSERT_EQ(Annot(11, 0, nullptr), kOk);
  EXPECT_LE(V().table.lines[0].start, 2u);
  ExpectBalancedDrawing();
}

TEST_F(TextViewAnnotTest, AFileTheStoreRefusesIsNeverReplaced) {
  const std::string damaged = "not an annotation file at all, but somebody's data";
  WriteFileBytes(dir_.File("notes.kpa"), damaged);
  Open(kText);
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(SetPath(), kOk);
  EXPECT_TRUE(IsFailure(AddNote(2, 4, "a note")));
  EXPECT_TRUE(IsFailure(Annot(0, 0, nullptr)));
  EXPECT_EQ(ReadFileBytes(dir_.File("notes.kpa")), damaged);
  EXPECT_EQ(Pointer(TextViewPointer::Press, 17, 5), kOk) << "no store: plain text";
}

TEST_F(TextViewAnnotTest, LongNotesOpenCutAndTheBoxClosesEveryWay) {
  Open(kText);
  ASSERT_EQ(Paint(), kOk);
  ASSERT_EQ(SetPath(), kOk);
  ASSERT_EQ(AddNote(2, 4, std::string(600, 'n')), kOk);
  ASSERT_EQ(Pointer(TextViewPointer::Press, 17, 5), kViewNoteBoxOpen);
  EXPECT_EQ(Box().textLength, 510u);
  EXPECT_TRUE(Box().flags & NoteBoxFlag::Partial);
  EXPECT_TRUE(Box().truncated & 1);
  // Commit with no button focused closes the box and ends the edit.
  EXPECT_EQ(Annot(4, 0, nullptr), kOk);
  EXPECT_EQ(V().mode, TextViewMode::Idle);
  EXPECT_EQ(V().annotBinding->edit, nullptr);
  // Commit with a focused button chooses it.
  ASSERT_EQ(Pointer(TextViewPointer::Press, 17, 5), kViewNoteBoxOpen);
  ASSERT_EQ(Nav(TextViewNav::LineUp), kOk);
  EXPECT_EQ(Annot(4, 0, nullptr), kViewNoteBoxChosen);
  EXPECT_EQ(Value(6), kUiDelete);
  // Cancel, and leaving the modes (Control 31), close it too.
  ASSERT_EQ(Pointer(TextViewPointer::Press, 17, 5), kViewNoteBoxOpen);
  EXPECT_EQ(Annot(5, 0, nullptr), kViewNoteBoxClosed);
  ASSERT_EQ(Pointer(TextViewPointer::Press, 17, 5), kViewNoteBoxOpen);
  EXPECT_EQ(ViewOps().control(view_, 31, 0, nullptr), kOk);
  EXPECT_EQ(V().mode, TextViewMode::Idle);
  // Closing the store ends everything; the note is still in the file.
  ASSERT_EQ(Annot(9, 0, nullptr), kOk);
  EXPECT_EQ(Pointer(TextViewPointer::Probe, 17, 5), kNo) << "no open store";
  ASSERT_NE(Store(), nullptr);
  EXPECT_EQ(Value(12), 1);
  ExpectBalancedDrawing();
}

TEST_F(TextViewAnnotTest, PathCommands) {
  Open(kText);
  char16_t buffer[64] = {u'x'};
  EXPECT_EQ(Annot(3, 64, buffer), kOk);
  EXPECT_EQ(buffer[0], 0) << "no path: an empty string";
  EXPECT_EQ(Annot(0, 0, nullptr), kViewNoAnnotPath);
  EXPECT_EQ(AddNote(1, 1, "x"), kViewNoAnnotPath);
  EXPECT_EQ(Annot(6, 0, buffer), kFailed) << "no binding";
  const std::u16string path = u"/tmp/a.kpa";
  ASSERT_EQ(Annot(2, 0, const_cast<char16_t*>(path.c_str())), kOk) << "measured to the NUL";
  EXPECT_EQ(Annot(3, static_cast<std::uint32_t>(path.size()), buffer), kIndexOutOfRange)
      << "no room for the terminator";
  EXPECT_EQ(Annot(3, 0, buffer), kIndexOutOfRange);
  ASSERT_EQ(Annot(3, static_cast<std::uint32_t>(path.size() + 1), buffer), kOk);
  EXPECT_EQ(std::u16string(buffer), path);
  ASSERT_EQ(Annot(2, 0, nullptr), kOk) << "null closes the binding";
  EXPECT_EQ(V().annotBinding, nullptr);
  EXPECT_EQ(Annot(1, 0, nullptr), kNotSupported);
  EXPECT_EQ(Annot(13, 0, nullptr), kNotSupported);
  std::uint16_t count = 9;
  EXPECT_EQ(Annot(12, 0, &count), kOk);
  EXPECT_EQ(count, 0);
}

}  // namespace
