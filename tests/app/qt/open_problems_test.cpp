// Files that cannot be opened, named on the command line or chosen in File
// Open, in the whole program window: each is named in a message with the
// reason (several at once in one message), and no empty window is left. Bad
// documents of every format (empty, cut short, bits flipped, a text block
// that cannot be read) get a message or show their text. A file whose name
// is not valid UTF-8 opens from the command line, from File Open (typed as
// shown) and from the recent files, and is shown with U+FFFD for its
// undecodable bytes.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/core/commands.h"
#include "app/program/reader_dialogs.h"
#include "app/program/startup.h"
#include "app/window/kelpo_view.h"
#include "app/window/local_files.h"
#include "app/window/main_frame.h"
#include "tests/app/qt/dialog_driver.h"
#include "tests/app/qt/reader_fixture.h"
#include "tests/formats/razo_fixture.h"
#include "tests/support/native_writer.h"
#include "tests/support/record_db_fixtures.h"

namespace {

// Root reads a file whatever its permissions through two capabilities; for
// the scope they leave the thread's effective set, so a file with no read
// permission cannot be read by root either. The engine opens files on this
// thread.
class PermissionsBindRoot {
 public:
  PermissionsBindRoot() {
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct bound[2] = {saved_[0], saved_[1]};
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
      bound[cap / 32].effective &= ~(1u << (cap % 32));
    restore_ = syscall(SYS_capset, &header_, bound) == 0;
  }
  ~PermissionsBindRoot() {
    if (restore_) (void)syscall(SYS_capset, &header_, saved_);
  }
  PermissionsBindRoot(const PermissionsBindRoot&) = delete;
  PermissionsBindRoot& operator=(const PermissionsBindRoot&) = delete;
  // Whether permissions bind this thread now.
  bool Binding() const { return geteuid() != 0 || restore_; }

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2] = {};
  bool restore_ = false;
};

class OpenProblemsTest : public ReaderTest {
 protected:
  OpenProblemsTest() : ReaderTest(DefaultEncoding::kAsDefaults) {}
  void SetUp() override {
    WriteFile("good.txt", "A readable text.\n");
    WriteFile("locked.txt", "Nobody may read this.\n");
    ASSERT_EQ(chmod(files_.File("locked.txt").c_str(), 0), 0);
    ASSERT_EQ(mkdir(files_.File("folder").c_str(), 0755), 0);
    AcceptEveryMessage();
  }
  std::unique_ptr<MainFrame> MakeFrame() { return ShownWindow(QSize(700, 500)); }
  QString Name(const char* file) {
    return QDir::toNativeSeparators(QString::fromStdString(files_.File(file)));
  }
  // A file of the test's folder by its bytes, and as the reader shows it.
  QString Path(const std::string& file) {
    return LocalFile_FromBytes(QByteArray::fromStdString(files_.File(file)));
  }
  QString Shown(const std::string& file) { return LocalFile_Shown(Path(file)); }
  // Chooses a file in File Open, as typed into the dialog.
  void ChooseInFileOpen(MainFrame* frame, const QString& typed) {
    auto chosen = WhenModal<QFileDialog>([typed](QFileDialog* dialog) {
      dialog->selectFile(typed);
      QMetaObject::invokeMethod(dialog, "accept");
    });
    frame->action(Cmd::Open)->trigger();
    ASSERT_TRUE(*chosen);
    QApplication::processEvents();
  }
  // The share of the view's first lines that is inked.
  static double Ink(KelpoView* view) {
    Settle();
    const QImage picture = view->viewport()->grab().toImage();
    const QColor background = picture.pixelColor(picture.width() - 3, picture.height() - 3);
    int inked = 0, all = 0;
    for (int y = 0; y < std::min(picture.height(), 60); ++y)
      for (int x = 0; x < picture.width() / 2; ++x, ++all)
        inked += picture.pixelColor(x, y) != background;
    return all == 0 ? 0 : static_cast<double>(inked) / all;
  }
};

TEST_F(OpenProblemsTest, EachFileThatCannotBeOpenedIsNamedWithItsReason) {
  const PermissionsBindRoot bind;
  const bool root = !bind.Binding();  // permissions do not bind root
  struct Row {
    std::vector<const char*> files;
    QString message;  // empty: none
    int views;
  };
  const std::vector<Row> rows = {
      {{"missing.txt"},
       "This file could not be opened:\n" + Name("missing.txt") + ": there is no such file.",
       0},
      {{"folder"},
       "This file could not be opened:\n" + Name("folder") + ": this is a folder, not a document.",
       0},
      {{"locked.txt"},
       root ? QString()
            : "This file could not be opened:\n" + Name("locked.txt") +
                  ": the file cannot be read (Permission denied).",
       root ? 1 : 0},
      // Several at once: one message lists them; the readable one opens.
      {{"missing.txt", "good.txt", "folder"},
       "These files could not be opened:\n" + Name("missing.txt") + ": there is no such file.\n" +
           Name("folder") + ": this is a folder, not a document.",
       1},
  };
  for (const Row& row : rows) {
    messages_.clear();
    auto frame = MakeFrame();
    QStringList paths;
    for (const char* file : row.files)
      paths << QString::fromStdString(files_.File(file));
    frame->OpenDocumentFiles(paths);
    QApplication::processEvents();
    EXPECT_EQ(messages_, row.message.isEmpty() ? QStringList{} : QStringList{row.message})
        << row.files.front();
    EXPECT_EQ(frame->Views().size(), row.views) << row.files.front();
  }
}

TEST_F(OpenProblemsTest, FileOpenNamesAnUnreadableFile) {
  const PermissionsBindRoot bind;
  if (!bind.Binding()) GTEST_SKIP() << "permissions do not bind root";
  auto frame = MakeFrame();
  auto chosen = WhenModal<QFileDialog>([this](QFileDialog* dialog) {
    dialog->selectFile(QString::fromStdString(files_.File("locked.txt")));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  frame->action(Cmd::Open)->trigger();
  ASSERT_TRUE(*chosen);
  QApplication::processEvents();
  EXPECT_EQ(messages_, QStringList{"This file could not be opened:\n" + Name("locked.txt") +
                                   ": the file cannot be read (Permission denied)."});
  EXPECT_TRUE(frame->Views().isEmpty());
}

// Lines of text long enough for two 4096-byte blocks.
std::string BookText() {
  std::string text;
  for (int i = 0; text.size() < 6000; ++i)
    text += "Line " + std::to_string(i) + " of a document that reads well.\n";
  return text;
}

// A Palm Doc database with the text stored uncompressed.
std::string PalmDocBytes(const std::string& text) {
  using record_db_fixtures::PutBE;
  std::vector<std::string> records(1);
  for (std::size_t at = 0; at < text.size(); at += 4096)
    records.push_back(text.substr(at, 4096));
  std::string& r0 = records[0];
  PutBE(r0, 1, 2);  // no compression
  PutBE(r0, 0, 2);
  PutBE(r0, static_cast<std::uint32_t>(text.size()), 4);
  PutBE(r0, static_cast<std::uint32_t>(records.size() - 1), 2);
  PutBE(r0, 4096, 2);
  PutBE(r0, 0, 4);
  return record_db_fixtures::BuildDb(records, "TEXt", "REAd");
}

std::string Cut(const std::string& bytes) {
  return bytes.substr(0, bytes.size() / 2);
}

// Bits flipped through the whole file, record 0 and the text included.
std::string Flipped(std::string bytes) {
  for (std::size_t at = 60; at < bytes.size(); at += 97)
    bytes[at] = static_cast<char>(bytes[at] ^ 0x24);
  return bytes;
}

TEST_F(OpenProblemsTest, EveryBadInputGetsAMessageOrAReadableDocument) {
  const PermissionsBindRoot bind;
  const bool root = !bind.Binding();  // permissions do not bind root
  const std::string text = BookText();
  std::string error;
  const std::string native = native_tool::Write("{}", text, &error);
  ASSERT_FALSE(native.empty()) << error;
  const std::string razo = razo_fixture::Write("{\"text\":" + razo_fixture::Json(text) + "}");
  const std::string razoFirstBlock =
      razo_fixture::Write("{\"text\":" + razo_fixture::Json(text) + ",\"damage\":\"block_type\"}");
  ASSERT_FALSE(razo.empty());
  const std::string palm = PalmDocBytes(text);

  const QString kDamaged = QStringLiteral(": the document is damaged and cannot be read.");
  const QString kMissing = QStringLiteral(": there is no such file.");
  const QString kFolder = QStringLiteral(": this is a folder, not a document.");
  const QString kLocked = QStringLiteral(": the file cannot be read (Permission denied).");
  const QString kPipe = QStringLiteral(": this is a device, pipe or socket, not a document.");
  const QString kTooLong =
      QStringLiteral(": the path is too long (the reader takes paths of at most 259 characters).");
  ASSERT_EQ(mkfifo(files_.File("pipe").c_str(), 0644), 0);
  // A path longer than the engine's paths can be.
  std::string longName;
  for (int i = 0; i < 6; ++i) {
    longName += std::string(48, static_cast<char>('a' + i)) + "/";
    ASSERT_EQ(mkdir(files_.File(longName).c_str(), 0755), 0);
  }
  longName += "long.txt";
  const QString kDocument;                           // the document opens and shows its text
  const QString kEmpty = QStringLiteral("(empty)");  // opens, with nothing to show
  struct Row {
    std::string file;                    // bytes of the name
    std::optional<std::string> content;  // none: made by the row's kind
    QString reason;
    bool inDialog;  // File Open can choose it (not a missing file nor a folder)
  };
  const std::vector<Row> rows = {
      {"missing.txt", std::nullopt, kMissing, false},
      {"folder", std::nullopt, kFolder, false},
      {"locked.txt", std::nullopt, kLocked, true},
      {"caf\xe9 cr\xe8me.txt", text, kDocument, true},
      {"gone \xff.txt", std::nullopt, kMissing, false},
      {"pipe", std::nullopt, kPipe, true},  // never waited on
      {longName, text, kTooLong, true},
      {"empty.txt", std::string(), kEmpty, true},
      {"empty.pdb", std::string(), kEmpty, true},
      {"cut.txt", Cut(text), kDocument, true},
      {"flipped.txt", Flipped(text), kDocument, true},
      {"native.pdb", native, kDocument, true},
      {"native-cut.pdb", Cut(native), kDamaged, true},
      {"native-flipped.pdb", Flipped(native), kDocument, true},
      {"razo.pdb", razo, kDocument, true},
      {"razo-cut.pdb", Cut(razo), kDamaged, true},
      {"razo-flipped.pdb", Flipped(razo), kDocument, true},
      {"razo-first-block.pdb", razoFirstBlock, kDamaged, true},
      {"palm.pdb", palm, kDocument, true},
      {"palm-cut.pdb", Cut(palm), kDocument, true},
      {"palm-flipped.pdb", Flipped(palm), kDocument, true},
  };
  for (const Row& row : rows) {
    const std::string path = files_.File(row.file);
    if (row.content) WriteFileBytes(path, *row.content);
  }

  for (const bool fromDialog : {false, true}) {
    for (const Row& row : rows) {
      const QString shown = Shown(row.file);
      SCOPED_TRACE((fromDialog ? "File Open: " : "command line: ") + shown.toStdString());
      if (fromDialog && !row.inDialog) continue;
      if (row.reason == kLocked && root) continue;  // root reads it
      messages_.clear();
      std::unique_ptr<MainFrame> frame;
      if (fromDialog) {
        frame = MakeFrame();
        // Names that are not valid UTF-8 are typed as shown: the dialog
        // does not list them.
        ChooseInFileOpen(frame.get(),
                         LocalFile_HasUndecodedBytes(Path(row.file)) ? shown : Path(row.file));
      } else {
        frame = StartReader(&settings_, &prefs_, &windowState_, {Path(row.file)});
      }
      Settle();
      if (row.reason == kDocument || row.reason == kEmpty) {
        EXPECT_EQ(messages_.join(u'|').toStdString(), "");
        ASSERT_EQ(frame->Views().size(), 1);
        EXPECT_EQ(frame->Views().front()->parentWidget()->windowTitle(),
                  shown.mid(shown.lastIndexOf(u'/') + 1));
        if (row.reason == kDocument) EXPECT_GT(Ink(frame->Views().front()), 0.01);
      } else {
        EXPECT_EQ(messages_.join(u'|').toStdString(),
                  ("This file could not be opened:\n" + shown + row.reason).toStdString());
        EXPECT_TRUE(frame->Views().isEmpty());
      }
    }
  }
}

// A name that is not valid UTF-8: shown with U+FFFD in the window title and
// the recent files, kept as its bytes in the settings file, and opened again
// from there; dropped, it opens too.
TEST_F(OpenProblemsTest, NameThatIsNotUtf8IsShownReadablyAndReopensFromRecentFiles) {
  const std::string bytes = "r\xe9sum\xe9.txt";
  WriteFileBytes(files_.File(bytes), "A summary.\n");
  const QString path = Path(bytes);
  {
    auto frame = StartReader(&settings_, &prefs_, &windowState_, {path});
    Settle();
    ASSERT_EQ(frame->Views().size(), 1);
    EXPECT_EQ(frame->Views().front()->parentWidget()->windowTitle(),
              QStringLiteral("r\uFFFDsum\uFFFD.txt"));
    EXPECT_EQ(frame->Views().front()->document()->path(), path.toStdU16String());
  }
  ASSERT_TRUE(settings_.Save());
  // The settings file holds the true bytes of the name.
  QSettings file(settings_.fileName(), QSettings::IniFormat);
  EXPECT_EQ(file.value("Recent File List/Files").toList().value(0).toByteArray(),
            QByteArray::fromStdString(files_.File(bytes)));

  // Dropped, the name comes percent-encoded.
  {
    auto frame = MakeFrame();
    frame->OpenDroppedFiles({QUrl::fromEncoded(
        "file://" + QByteArray::fromStdString(files_.File(bytes)).toPercentEncoding("/"))});
    Settle();
    ASSERT_EQ(frame->Views().size(), 1);
    EXPECT_EQ(frame->Views().front()->document()->path(), path.toStdU16String());
  }

  auto frame = MakeFrame();
  QMenu* recent = nullptr;
  for (QAction* a : frame->menu(MenuId::File)->actions())
    if (a->menu() != nullptr && a->text().contains("Recent")) recent = a->menu();
  ASSERT_NE(recent, nullptr);
  ASSERT_FALSE(recent->actions().isEmpty());
  EXPECT_EQ(recent->actions().front()->text(), QStringLiteral("&1 r\uFFFDsum\uFFFD.txt"));
  recent->actions().front()->trigger();
  Settle();
  EXPECT_EQ(messages_, QStringList{});
  ASSERT_EQ(frame->Views().size(), 1);
  EXPECT_EQ(frame->Views().front()->document()->path(), path.toStdU16String());
}

// A 'RaZo' document whose second text block cannot be read: it opens on its
// first page; paging on to the place that cannot be read says so, once.
TEST_F(OpenProblemsTest, TextThatCannotBeReadWhereTheReaderIsIsTold) {
  const std::string text = BookText() + BookText();
  WriteFileBytes(files_.File("second.pdb"),
                 razo_fixture::Write("{\"text\":" + razo_fixture::Json(text) +
                                     ",\"damage\":\"second_block_type\"}"));
  auto frame = StartReader(&settings_, &prefs_, &windowState_, {Path("second.pdb")});
  Settle();
  EXPECT_EQ(messages_.join(u'|').toStdString(), "");
  ASSERT_EQ(frame->Views().size(), 1);
  KelpoView* view = frame->Views().front();
  EXPECT_GT(Ink(view), 0.01);
  for (int i = 0; i < 12; ++i) {
    QTest::keyClick(view, Qt::Key_PageDown);
    Settle();
  }
  EXPECT_EQ(messages_.join(u'|').toStdString(),
            "The text at this place in the document cannot be read: the document is damaged "
            "here. The text before it can still be read.");
  EXPECT_GT(Ink(view), 0.01) << "the text before it stays shown";
}

// The picture of the message that names files that could not be opened.
TEST_F(OpenProblemsTest, PictureOfTheMessageForFilesThatCannotBeOpened) {
  const PermissionsBindRoot bind;
  WriteFileBytes(files_.File("damaged.pdb"),
                 razo_fixture::Write("{\"text\":" + razo_fixture::Json(BookText()) +
                                     ",\"damage\":\"block_type\"}"));
  StopAcceptingMessages();
  auto frame = MakeFrame();
  QString shown;
  auto told = WhenModal<QMessageBox>([&shown](QMessageBox* box) {
    shown = box->text();
    KeepPicture(box, QStringLiteral("open_problems_message"));
    box->accept();
  });
  frame->OpenDocumentFiles({Path("locked.txt"), Path("damaged.pdb"), Path("gone \xff.txt")});
  ASSERT_TRUE(*told);
  EXPECT_EQ(
      shown.toStdString(),
      ("These files could not be opened:\n" +
       (bind.Binding() ? Name("locked.txt") + ": the file cannot be read (Permission denied).\n"
                       : QString()) +
       Name("damaged.pdb") + ": the document is damaged and cannot be read.\n" +
       Shown("gone \xff.txt") + ": there is no such file.")
          .toStdString());
}

// Names as bytes: every byte string comes back as the same bytes; only the
// bytes that are not UTF-8 show as U+FFFD; a name typed as shown finds its
// file only when no other file looks the same.
TEST_F(OpenProblemsTest, NamesKeepTheirBytesAndAreFoundByTheirShownForm) {
  struct Case {
    std::string bytes;
    QString shown;
  };
  const Case cases[] = {
      {"plain.txt", QStringLiteral("plain.txt")},
      {"caf\xc3\xa9.txt", QStringLiteral("caf\u00e9.txt")},
      {"caf\xe9.txt", QStringLiteral("caf\uFFFD.txt")},
      {"\xed\xa0\x80 \xc0\xaf \xf4\x90\x80\x80", QString(3, QChar(0xFFFD)) + u' ' +
                                                     QString(2, QChar(0xFFFD)) + u' ' +
                                                     QString(4, QChar(0xFFFD))},
  };
  for (const Case& c : cases) {
    const QString name = LocalFile_FromBytes(QByteArray::fromStdString(c.bytes));
    QByteArray back;
    ASSERT_TRUE(LocalFile_ToBytes(name, &back));
    EXPECT_EQ(back.toStdString(), c.bytes);
    EXPECT_EQ(LocalFile_Shown(name).toStdString(), c.shown.toStdString());
    EXPECT_EQ(LocalFile_FromSetting(LocalFile_ToSetting(name)), name);
  }
  std::string all;
  for (int b = 1; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  QByteArray back;
  ASSERT_TRUE(LocalFile_ToBytes(LocalFile_FromBytes(QByteArray::fromStdString(all)), &back));
  EXPECT_EQ(back.toStdString(), all);

  WriteFileBytes(files_.File("one\xe9.txt"), "x");
  WriteFileBytes(files_.File("two\xe9.txt"), "x");
  WriteFileBytes(files_.File("two\xe8.txt"), "x");
  EXPECT_EQ(LocalFile_FindShown(Shown("one\xe9.txt")), Path("one\xe9.txt"));
  EXPECT_EQ(LocalFile_FindShown(Shown("two\xe9.txt")), QString()) << "two files look alike";
}

}  // namespace
