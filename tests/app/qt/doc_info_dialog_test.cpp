// The document information sheet and the system information dialog,
// headless: a plain-text document opened in the reader shows only its
// General page with the file's own size and date; a document with title,
// author and publisher texts shows a page for each, an ampersand as itself;
// the system dialog's memory agrees with the kernel's.
#include "app/dialogs/doc_info_dialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>
#include <fstream>

#include "app/core/doc_open.h"
#include "app/core/strings.h"
#include "app/dialogs/info_date_text.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "engine/formats/doc_handler.h"
#include "tests/app/qt/modal_script.h"
#include "tests/app/qt/reader_fixture.h"
#include "tests/support/native_writer.h"

namespace {

using modal_script::WhenModal;

QString Text(std::uint32_t id) {
  return QString::fromUtf8(Resource_String(id));
}

class DocInfoDialogTest : public ReaderTest {
 protected:
  void TearDown() override { modal_script::CancelPending(); }
};

TEST_F(DocInfoDialogTest, PlainTextDocumentShowsOnlyItsGeneralPage) {
  for (const auto& c : {std::pair<std::string, QString>{"x", "1KB"},
                        {"", "0KB"},
                        {std::string(5000, 'y'), "5KB"}}) {
    const std::string bytes = c.first;
    const QString size = c.second;
    const std::string path = files_.File("note.txt");
    WriteFileBytes(path, bytes);
    ReaderWindow frame(&settings_, &prefs_, &windowState_);
    ASSERT_TRUE(frame.OpenDocumentFile(QString::fromStdString(path)));
    ASSERT_EQ(frame.Views().size(), 1);
    KelpoView* view = frame.Views().front();
    // What the reader says of its charset decides the encoding shown.
    std::uint16_t charset = 0;
    EngineObject* reader = view->document()->state().reader;
    const bool named =
        !IsFailure(DocOpsOf(reader).control(reader, DocControl::DocumentCharset, 0, &charset));

    bool ran = false;
    WhenModal<CPSDocInfo>([&](CPSDocInfo* sheet) {
      ran = true;
      EXPECT_EQ(sheet->windowTitle(), Text(StringId::DocInfoCaption));
      ASSERT_EQ(sheet->tabs()->count(), 1);
      EXPECT_EQ(sheet->tabs()->tabText(0), "General");
      CPPDocInfoGeneral* general = sheet->generalPage();
      EXPECT_EQ(general->title(), "note.txt");
      EXPECT_EQ(QFileInfo(general->path()).canonicalFilePath(),
                QFileInfo(QString::fromStdString(path)).canonicalFilePath());
      EXPECT_EQ(general->type(), Text(StringId::Unknown));
      EXPECT_EQ(general->size(), size);
      EXPECT_NE(general->date(), Text(StringId::Unknown));
      EXPECT_TRUE(general->date().contains("  ")) << general->date().toStdString();
      if (!named) {
        EXPECT_EQ(general->encoding(), Text(StringId::Unknown));
      }
      if (bytes == "x") KeepPicture(sheet, "document_information_general");
      sheet->accept();
    });
    RunDocInfoDialog(view);
    EXPECT_TRUE(ran);
  }
}

TEST_F(DocInfoDialogTest, NativeDocumentShowsItsStringsDateTypeAndEncoding) {
  // Written by the project's independent writer: title strings 0 and 3,
  // author strings 4 and 6 (5 absent), a publisher with an ampersand, and
  // the date 2024-02-29 14:30 in record 0; strings in UTF-8, as the
  // document says.
  const std::string json =
      R"({"text_hex": "48656c6c6f2c207265616465722e", "charset": 106,)"
      R"( "start_data_hex": "07e8021d0e1e0000", "string_table": {"strings":)"
      R"( ["The Title", null, "", "Second \u201ctitle\u201d", "Ann", null, "Bob", null, null,)"
      R"( "Salt & Pepper Press"]}})";
  std::string error;
  const std::string file = native_tool::Write(json, {}, &error);
  ASSERT_FALSE(file.empty()) << error;
  const std::string path = files_.File("cook.pdb");
  WriteFileBytes(path, file);
  ReaderWindow frame(&settings_, &prefs_, &windowState_);
  ASSERT_TRUE(frame.OpenDocumentFile(QString::fromStdString(path)));
  ASSERT_EQ(frame.Views().size(), 1);

  bool ran = false;
  WhenModal<CPSDocInfo>([&](CPSDocInfo* sheet) {
    ran = true;
    ASSERT_EQ(sheet->tabs()->count(), 4);
    const auto pageText = [sheet](int i) {
      auto* page = dynamic_cast<CPPDocInfoMessage*>(sheet->tabs()->widget(i));
      return page != nullptr ? page->textLabel()->text() : QString();
    };
    EXPECT_EQ(pageText(0), QString::fromUtf8("The Title\n\nSecond \u201Ctitle\u201D"));
    EXPECT_EQ(pageText(1), "Ann\n\nBob");
    EXPECT_EQ(pageText(2), "Salt & Pepper Press");
    CPPDocInfoGeneral* general = sheet->generalPage();
    EXPECT_EQ(general->type(), "Kelpo 3.x/4.x");
    EXPECT_EQ(general->date(), InfoDateText(DateTime{2024, 2, 29, 14, 30, 0, 0}, false, "  "));
    EXPECT_EQ(general->encoding(), "UTF-8");
    EXPECT_EQ(general->size().toStdString(), std::to_string((file.size() + 1023) / 1024) + "KB");
    EXPECT_FALSE(general->title().isEmpty());
    sheet->tabs()->setCurrentIndex(2);
    KeepPicture(sheet, "document_information_native_publisher");
    sheet->tabs()->setCurrentIndex(3);
    KeepPicture(sheet, "document_information_native_general");
    sheet->accept();
  });
  RunDocInfoDialog(frame.Views().front());
  EXPECT_TRUE(ran);
}

TEST_F(DocInfoDialogTest, DatesShowInLocalTimeWithoutSeconds) {
  // The file system's time is UTC; stored document dates are shown as they
  // are. The short time never carries seconds.
  const DateTime stored{2024, 3, 5, 14, 7, 59, 0};
  const QString text = InfoDateText(stored, false, "  ");
  EXPECT_FALSE(text.contains("59")) << text.toStdString();
  const QDateTime utc(QDate(2024, 3, 5), QTime(14, 7), Qt::UTC);
  const QDateTime local = utc.toLocalTime();
  const QLocale locale = QLocale::system();
  EXPECT_TRUE(InfoDateText(stored, true, "  ")
                  .startsWith(locale.toString(local.date(), QLocale::ShortFormat) + "  "));
  EXPECT_TRUE(InfoDateText(stored, true, " ").contains(local.toString("mm")));
  EXPECT_EQ(InfoDateText(DateTime{2024, 13, 1, 0, 0, 0, 0}, false, "  "), "  ");
}

TEST_F(DocInfoDialogTest, TextsTheDocumentCarriesGetAPageEach) {
  DocInfoGeneral general;
  general.title = u"Salt & Pepper";
  general.path = u"/books/salt.pdb";
  general.type = u"Kelpo 1.x/2.x";
  general.size = 2049;
  general.date = DateTime{2023, 7, 14, 9, 30, 15, 0};
  general.encoding = u"windows-1252";
  const std::vector<DocInfoPage> pages = {
      {StringId::DocInfoTitle, u"Salt & Pepper\nA Cook's Tale"},
      {StringId::DocInfoAuthor, u"Ann Smith\n\nBob Jones"},
      {StringId::DocInfoPublisher, u"Kitchen Press"},
  };
  CPSDocInfo sheet(pages, general, nullptr);
  sheet.show();
  ASSERT_EQ(sheet.tabs()->count(), 4);
  EXPECT_EQ(sheet.tabs()->tabText(0), "Title");
  EXPECT_EQ(sheet.tabs()->tabText(1), "Author");
  EXPECT_EQ(sheet.tabs()->tabText(2), "Publisher");
  EXPECT_EQ(sheet.tabs()->tabText(3), "General");
  auto* title = dynamic_cast<CPPDocInfoMessage*>(sheet.tabs()->widget(0));
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->textLabel()->text(), "Salt & Pepper\nA Cook's Tale");
  EXPECT_EQ(title->textLabel()->textFormat(), Qt::PlainText);
  KeepPicture(&sheet, "document_information_title");
  sheet.tabs()->setCurrentIndex(3);
  EXPECT_EQ(sheet.generalPage()->size(), "3KB");
  EXPECT_EQ(sheet.generalPage()->type(), "Kelpo 1.x/2.x");
  EXPECT_EQ(sheet.generalPage()->encoding(), "windows-1252");
  EXPECT_EQ(sheet.generalPage()->title(), "Salt & Pepper");
  KeepPicture(&sheet, "document_information_general_native");
}

TEST_F(DocInfoDialogTest, SystemInformationShowsMemoryAndCharsets) {
  std::ifstream meminfo("/proc/meminfo");
  std::string key, unit;
  std::uint64_t value = 0, totalKb = 0;
  while (meminfo >> key >> value >> unit)
    if (key == "MemTotal:") totalKb = value;
  bool ran = false;
  WhenModal<CSystemInfoDlg>([&](CSystemInfoDlg* dialog) {
    ran = true;
    EXPECT_EQ(dialog->windowTitle(), "System Information");
    EXPECT_EQ(dialog->totalMemory().toStdString(), std::to_string(totalKb) + "K");
    EXPECT_TRUE(dialog->freeMemory().endsWith("K"));
    QListWidget* pages = dialog->codePages();
    ASSERT_GT(pages->count(), 1);
    for (int i = 1; i < pages->count(); ++i)
      EXPECT_LT(pages->item(i - 1)->text().toUInt(), pages->item(i)->text().toUInt());
    EXPECT_FALSE(pages->findItems("2252", Qt::MatchExactly).isEmpty());
    KeepPicture(dialog, "system_information");
    dialog->accept();
  });
  RunSysInfoDialog(nullptr);
  EXPECT_TRUE(ran);
}

}  // namespace
