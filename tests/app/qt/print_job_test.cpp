// Printing a Palm Doc book to a PDF file, read back with poppler's tools:
// every word in order, one PDF page per page of the print pagination, text
// inside the inch margins; printing again reuses the pagination; the preview
// opens on the page of the screen's reading position (kept as a picture).
#include "app/window/print_job.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QScrollBar>
#include <QTimer>
#include <cstdlib>
#include <sstream>

#include "app/core/doc_open.h"
#include "app/window/kelpo_view.h"
#include "engine/stores/settings_store.h"
#include "engine/view/text_view.h"
#include "tests/support/peer.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide_text.h"

namespace {

class SilentPrompter : public Prompter {
 public:
  void Message(std::uint32_t, Icon) override {}
  bool AskYesNo(std::uint32_t) override { return false; }
};

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;)
    out.push_back(w);
  return out;
}

class PrintJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Prefs_SetDefaults(&prefs_);
    std::uint32_t flags = 0;
    ASSERT_EQ(Settings_OpenStore(&SettingsModule, &flags, &store_), kOk);
  }
  void TearDown() override {
    view_.reset();
    doc_.reset();
    if (store_ != nullptr) {
      EXPECT_EQ(Settings_CloseStore(store_), kOk);
    }
  }
  // A Palm Doc book made by txt2pdbdoc, open in a view.
  void OpenBook(int lines) {
    for (int i = 0; i < lines; ++i)
      text_ += "Line " + std::to_string(i) + " tells word" + std::to_string(i) +
               " after word of a printed Palm Doc book.\n";
    WriteFileBytes(files_.File("book.txt"), text_);
    int status = -1;
    RunPeer("txt2pdbdoc Book '" + files_.File("book.txt") + "' '" + files_.File("book.pdb") + "'",
            "", &status);
    ASSERT_EQ(status, 0);
    doc_ = std::make_unique<KelpoDoc>(ShellContext{&prefs_, store_, &prompter_});
    ASSERT_TRUE(doc_->OnOpenDocument(U16(files_.File("book.pdb"))));
    view_ = std::make_unique<KelpoView>(doc_.get(), nullptr);
    view_->resize(500, 400);
    view_->OnInitialUpdate();
    view_->Render();
  }
  void PdfPrinter(QPrinter* printer, const std::string& path) {
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(QString::fromStdString(path));
    printer->setPageSize(QPageSize(QPageSize::A5));
    printer->setFullPage(false);
  }

  TempDir data_, files_;
  ScopedEnv env_{"KELPO_DATA_HOME", data_.Path()};
  Preferences prefs_;
  EngineObject* store_ = nullptr;
  SilentPrompter prompter_;
  std::string text_;
  std::unique_ptr<KelpoDoc> doc_;
  std::unique_ptr<KelpoView> view_;
};

TEST_F(PrintJobTest, PalmDocToPdfGivesEveryWordInOrderOnePageEach) {
  KELPO_REQUIRE_PEER("txt2pdbdoc");
  KELPO_REQUIRE_PEER("pdftotext");
  KELPO_REQUIRE_PEER("pdfinfo");
  OpenBook(300);
  const std::string pdf = files_.File("book.pdf");
  QPrinter printer(QPrinter::HighResolution);
  PdfPrinter(&printer, pdf);
  ASSERT_TRUE(KelpoView_PrintTo(view_.get(), &printer));
  const PrintJob* job = view_->printJob();
  ASSERT_NE(job, nullptr);
  ASSERT_GT(job->pageCount(), 3u);

  int status = -1;
  const std::string info = RunPeer("pdfinfo '" + pdf + "'", "", &status);
  ASSERT_EQ(status, 0) << info;
  const std::size_t at = info.find("Pages:");
  ASSERT_NE(at, std::string::npos) << info;
  EXPECT_EQ(std::strtoul(info.c_str() + at + 6, nullptr, 10), job->pageCount()) << info;
  const std::string printed = RunPeer("pdftotext -layout '" + pdf + "' -", "", &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Words(printed), Words(text_));

  // Every word lies an inch (72 points) inside the page's edges.
  const std::string boxes = RunPeer("pdftotext -bbox '" + pdf + "' -", "", &status);
  ASSERT_EQ(status, 0);
  double pageW = 0, pageH = 0;
  int words = 0;
  std::istringstream lines(boxes);
  for (std::string line; std::getline(lines, line);) {
    double a = 0, b = 0, c = 0, d = 0;
    if (std::sscanf(line.c_str(), " <page width=\"%lf\" height=\"%lf\"", &a, &b) == 2) {
      pageW = a;
      pageH = b;
    } else if (std::sscanf(line.c_str(),
                           " <word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"", &a, &b, &c,
                           &d) == 4) {
      ++words;
      EXPECT_GE(a, 71.5);
      EXPECT_GE(b, 71.5 - 4);  // the ascent of the first line may reach a little above
      EXPECT_LE(c, pageW - 71.5);
      EXPECT_LE(d, pageH - 71.5 + 4);
    }
  }
  EXPECT_EQ(words, static_cast<int>(Words(text_).size()));

  // One page alone: its text is that page's of the whole print.
  const std::string page2 = RunPeer("pdftotext -f 2 -l 2 '" + pdf + "' -", "", &status);
  QPrinter one(QPrinter::HighResolution);
  PdfPrinter(&one, files_.File("page2.pdf"));
  one.setPrintRange(QPrinter::PageRange);
  one.setFromTo(2, 2);
  ASSERT_TRUE(KelpoView_PrintTo(view_.get(), &one));
  EXPECT_EQ(job->paginations(), 1u) << "the same printer layout paginates once";
  const std::string alone = RunPeer("pdftotext '" + files_.File("page2.pdf") + "' -", "", &status);
  EXPECT_EQ(Words(alone), Words(page2));
  EXPECT_FALSE(Words(alone).empty());

  // Another paper size paginates again.
  QPrinter bigger(QPrinter::HighResolution);
  PdfPrinter(&bigger, files_.File("a4.pdf"));
  bigger.setPageSize(QPageSize(QPageSize::A4));
  ASSERT_TRUE(KelpoView_PrintTo(view_.get(), &bigger));
  EXPECT_EQ(job->paginations(), 2u);
  EXPECT_LT(job->pageCount(), 8u * 300u);
}

TEST_F(PrintJobTest, PreviewOpensOnTheReadingPage) {
  KELPO_REQUIRE_PEER("txt2pdbdoc");
  OpenBook(300);
  // The screen reads further on: the preview must start on that page.
  EngineObject* tv = view_->textView();
  for (int i = 0; i < 6; ++i)
    ASSERT_FALSE(IsFailure(OpsOf<TextViewOps>(tv).navigate(tv, TextViewNav::ScreenDown, 0)));
  std::uint32_t reading = 0;
  ASSERT_EQ(OpsOf<TextViewOps>(tv).control(tv, 1, 0, &reading), kOk);
  ASSERT_GT(reading, 0u);

  const int barValue = view_->verticalScrollBar()->value();
  const int barMaximum = view_->verticalScrollBar()->maximum();

  QPrinter probe(QPrinter::HighResolution);
  probe.setOutputFormat(QPrinter::PdfFormat);
  probe.setOutputFileName(QString::fromStdString(files_.File("probe.pdf")));
  const std::uint32_t want = KelpoView_ReadingPage(view_.get(), &probe);
  ASSERT_GT(want, 1u);

  int shown = -1, pages = -1;
  QImage picture;
  QTimer::singleShot(200, [&] {
    auto* dialog = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    auto* preview = dialog->findChild<QPrintPreviewWidget*>();
    ASSERT_NE(preview, nullptr);
    shown = preview->currentPage();
    pages = preview->pageCount();
    picture = dialog->grab().toImage();
    dialog->reject();
  });
  KelpoView_OnFilePrintPreview(view_.get());
  EXPECT_EQ(shown, static_cast<int>(want));
  EXPECT_LT(want, view_->printJob()->pageCount()) << "a middle page, not where a preview ends";
  EXPECT_EQ(pages, static_cast<int>(view_->printJob()->pageCount()));
  // The screen's own text view and bar are not disturbed by printing.
  std::uint32_t after = 0;
  ASSERT_EQ(OpsOf<TextViewOps>(tv).control(tv, 1, 0, &after), kOk);
  EXPECT_EQ(after, reading);
  EXPECT_EQ(view_->verticalScrollBar()->value(), barValue);
  EXPECT_EQ(view_->verticalScrollBar()->maximum(), barMaximum);
  if (const char* dir = std::getenv("KELPO_ARTIFACT_DIR")) {
    QDir().mkpath(dir);
    EXPECT_TRUE(picture.save(QString(dir) + "/print_preview.png"));
  }
}

}  // namespace
