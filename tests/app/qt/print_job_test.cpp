// Printing a Palm Doc book to a PDF file, read back with poppler's tools:
// every word in order, one PDF page per page of the print pagination, text
// inside the inch margins; printing again reuses the pagination; the preview
// opens on the page of the screen's reading position (kept as a picture).
// Through the main window: a long print draws its pages with progress and
// Cancel, and a cancelled one leaves the chosen file as it was; the preview
// of thousands of pages keeps only the sheets on show in memory and gives
// them back; Print in the preview prints the range chosen.
#include "app/window/print_job.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/core/commands.h"
#include "app/core/doc_open.h"
#include "app/core/worker.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/print_preview.h"
#include "app/window/progress_dialog.h"
#include "engine/stores/settings_store.h"
#include "engine/view/text_view.h"
#include "tests/app/qt/reader_fixture.h"
#include "tests/support/peer.h"
#include "tests/support/wide_text.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/allocator_interface.h>
#define KELPO_TEST_ASAN 1
#endif
#endif

namespace {

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;)
    out.push_back(w);
  return out;
}

class PrintJobTest : public ViewTest {
 protected:
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
    OpenView(files_.File("book.pdb"), QSize(500, 400));
  }
  void PdfPrinter(QPrinter* printer, const std::string& path) {
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(QString::fromStdString(path));
    printer->setPageSize(QPageSize(QPageSize::A5));
    printer->setFullPage(false);
  }

  std::string text_;
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

  // The screen's background layout runs to its end first: it goes on while
  // the preview is up, and would move the bar by itself.
  int slices = 0;
  do {
    view_->OnTimer(2);
  } while (view_->timerInterval(2) == 1 && ++slices < 10000);  // 1 ms: more to lay out
  ASSERT_NE(view_->timerInterval(2), 1);
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
    auto* preview = qobject_cast<PrintPreview*>(QApplication::activeModalWidget());
    ASSERT_NE(preview, nullptr);
    shown = static_cast<int>(preview->currentPage());
    pages = static_cast<int>(preview->pageCount());
    picture = preview->grab().toImage();
    preview->reject();
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

// ---------------------------------------------------------------------------
// Long prints and the preview through the main window.

// The heap's bytes in use in MiB, as the allocator counts them (freed
// memory does not count, even while it is still mapped).
double HeapMiB() {
#if KELPO_TEST_ASAN
  return static_cast<double>(__sanitizer_get_current_allocated_bytes()) / 1048576.0;
#else
  const struct mallinfo2 m = mallinfo2();
  return static_cast<double>(m.uordblks + m.hblkhd) / 1048576.0;
#endif
}

// The process's resident memory in MiB.
double ResidentMiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

// Runs act on the next visible modal window of type T for which wanted
// answers true (polled every 5 ms); the flag turns true once it ran.
template <class T>
std::shared_ptr<bool> WhenUp(std::function<bool(T*)> wanted, std::function<void(T*)> act) {
  auto ran = std::make_shared<bool>(false);
  auto* timer = new QTimer;
  timer->setInterval(5);
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  QObject::connect(timer, &QTimer::timeout, [timer, wanted, act, ran, clock] {
    T* window = qobject_cast<T*>(QApplication::activeModalWidget());
    if (window == nullptr || !window->isVisible() || !wanted(window)) {
      if (clock->elapsed() > 60000) {
        timer->stop();
        timer->deleteLater();
      }
      return;
    }
    timer->stop();
    timer->deleteLater();
    *ran = true;
    act(window);
  });
  timer->start();
  return ran;
}
template <class T>
std::shared_ptr<bool> WhenUp(std::function<void(T*)> act) {
  return WhenUp<T>([](T*) { return true; }, std::move(act));
}

// The print dialog chooses a PDF file and a range, as its fields would.
void AnswerPrintDialog(QPrintDialog* dialog, const std::string& pdf, QPrinter::PrintRange range,
                       int from, int to) {
  dialog->printer()->setOutputFormat(QPrinter::PdfFormat);
  dialog->printer()->setOutputFileName(QString::fromStdString(pdf));
  dialog->printer()->setPrintRange(range);
  if (range == QPrinter::PageRange) dialog->printer()->setFromTo(from, to);
  dialog->done(QDialog::Accepted);
}

int PdfPages(const std::string& pdf) {
  int status = -1;
  const std::string info = RunPeer("pdfinfo '" + pdf + "'", "", &status);
  const std::size_t at = info.find("Pages:");
  if (status != 0 || at == std::string::npos) return -1;
  return static_cast<int>(std::strtol(info.c_str() + at + 6, nullptr, 10));
}

std::string PdfText(const std::string& pdf, int first = 0, int last = 0) {
  int status = -1;
  std::string range;
  if (first != 0) range = " -f " + std::to_string(first) + " -l " + std::to_string(last);
  return RunPeer("pdftotext" + range + " '" + pdf + "' -", "", &status);
}

// Every read of the workers' clock is 300 ms later: a worker's progress
// dialog shows at its first poll.
std::atomic<std::uint32_t> g_ticks{0};
std::uint32_t SlowClock() noexcept {
  return g_ticks.fetch_add(300);
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

class PrintWindowTest : public ReaderTest {
 protected:
  void TearDown() override {
    frame_.reset();
    Worker_SetClock(nullptr);
  }
  // A plain text book of numbered lines, open in the main window.
  KelpoView* OpenBook(int lines) {
    WriteFile("book.txt", NumberedLines(lines, " of a long book to print, page after page."));
    frame_ = ActiveWindow();
    return Open(*frame_, "book.txt");
  }
  // The main window active again, the view with the focus, as after a
  // dialog closed.
  void Reactivate(KelpoView* view) {
    frame_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(frame_.get()));
    view->setFocus();
  }
  // The main window with the modal window on top of it, as one picture.
  void KeepScreen(QWidget* modal, const QString& name) {
    QImage screen = frame_->grab().toImage();
    QPainter p(&screen);
    p.drawImage(modal->mapToGlobal(QPoint(0, 0)) - frame_->mapToGlobal(QPoint(0, 0)),
                modal->grab().toImage());
    p.end();
    KeepPicture(screen, name);
  }

  std::unique_ptr<ReaderWindow> frame_;
};

TEST_F(PrintWindowTest, CancellingWhileThePagesAreDrawnLeavesTheFileAsItWas) {
  KELPO_REQUIRE_PEER("pdfinfo");
  KelpoView* view = OpenBook(20000);
  ASSERT_NE(view, nullptr);
  // A cancelled print is no print: a new file does not appear, and a file
  // of that name already there keeps what it held, not some of the pages.
  const struct {
    const char* name;
    const char* before;  // null: no file there
  } rows[] = {{"new.pdf", nullptr}, {"old.pdf", "an older file the user keeps\n"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string pdf = files_.File(r.name);
    if (r.before != nullptr) WriteFileBytes(pdf, r.before);
    g_ticks.store(0);
    Worker_SetClock(&SlowClock);
    PaintCounter counter;
    std::uint32_t drawingAtCancel = 0;
    QString countShown;
    bool painted = false;
    WorkerKind busy = WorkerKind::None;
    auto asked = WhenUp<QPrintDialog>([&](QPrintDialog* d) {
      // The pagination's dialog closes by itself; the pages' one is Cancelled
      // once a few pages are out.
      WhenUp<ProgressDialog>(
          [](ProgressDialog* p) { return p->kind() == ProgressDialog::Kind::Printing; },
          [&](ProgressDialog* p) {
            EXPECT_EQ(p->windowTitle(), QStringLiteral("Printing..."));
            busy = Worker_Busy();
            QElapsedTimer wait;
            wait.start();
            while (p->shownPages() < 5 && p->isVisible() && wait.elapsed() < 20000)
              QTest::qWait(10);
            EXPECT_TRUE(p->countCaption()->isVisible());
            // The window keeps painting (what it showed last) meanwhile.
            view->viewport()->installEventFilter(&counter);
            view->viewport()->update();
            QTest::qWait(60);
            view->viewport()->removeEventFilter(&counter);
            painted = counter.paints > 0;
            if (r.before == nullptr) KeepScreen(p, QStringLiteral("print_progress"));
            p->Tick();
            drawingAtCancel = static_cast<std::uint32_t>(p->shownPages());
            countShown = p->countLabel()->text();
            QTest::mouseClick(p->findChild<QPushButton*>(), Qt::LeftButton);
          });
      AnswerPrintDialog(d, pdf, QPrinter::AllPages, 0, 0);
    });
    Reactivate(view);
    QTest::keyClick(view, Qt::Key_P, Qt::ControlModifier);
    Worker_SetClock(nullptr);
    ASSERT_TRUE(*asked);
    ASSERT_GT(drawingAtCancel, 0u) << "the pages' progress dialog showed";
    EXPECT_EQ(busy, WorkerKind::Print);
    EXPECT_TRUE(painted);
    const PrintJob* job = view->printJob();
    ASSERT_NE(job, nullptr);
    EXPECT_GT(job->pageCount(), 300u);
    EXPECT_EQ(countShown, QStringLiteral("%1 of %2").arg(drawingAtCancel).arg(job->pageCount()));
    // Cancel stops with the page being drawn (the count shown may be a page
    // behind the worker when Cancel is pressed).
    EXPECT_LE(job->pagesPrinted(), drawingAtCancel + 2);
    EXPECT_GE(job->pagesPrinted(), drawingAtCancel - 1);
    if (r.before == nullptr) {
      EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(pdf)));
    } else {
      EXPECT_EQ(ReadFileBytes(pdf), r.before);
    }
    EXPECT_EQ(QDir(QString::fromStdString(files_.Path())).entryList(QDir::Files | QDir::Hidden),
              (r.before == nullptr ? QStringList{"book.txt"} : QStringList{"book.txt", "old.pdf"}))
        << "no working copy left beside the file";
    EXPECT_EQ(Worker_Busy(), WorkerKind::None);
  }
  // Not cancelled, the same print writes every page (the pagination kept).
  const std::string whole = files_.File("old.pdf");
  auto asked = WhenUp<QPrintDialog>(
      [&](QPrintDialog* d) { AnswerPrintDialog(d, whole, QPrinter::PageRange, 2, 9); });
  Reactivate(view);
  QTest::keyClick(view, Qt::Key_P, Qt::ControlModifier);
  ASSERT_TRUE(*asked);
  EXPECT_EQ(PdfPages(whole), 8);
  EXPECT_EQ(view->printJob()->paginations(), 1u);
}

TEST_F(PrintWindowTest, PreviewOfThousandsOfPagesDrawsWhatItShowsAndGivesItBack) {
  KelpoView* view = OpenBook(50000);
  ASSERT_NE(view, nullptr);
  // Small sheets (Print Set-up's page): thousands of them from a few MiB.
  frame_->printSetup()->setPageSize(QPageSize(QPageSize::A6));
  const double before = ResidentMiB(), heapBefore = HeapMiB();
  double during = 0, heapDuring = 0;
  std::uint32_t pages = 0, drawn = 0;
  std::vector<std::uint32_t> shown;
  bool blank = true;
  auto seen = WhenUp<PrintPreview>([&](PrintPreview* preview) {
    pages = preview->pageCount();
    QApplication::processEvents();
    // Turning pages, two at a time, larger, to the end and back: each step
    // draws what comes on show and drops what went.
    const std::function<void()> steps[] = {
        [&] { QTest::keyClick(preview, Qt::Key_End); },
        [&] { QTest::mouseClick(preview->button(PrintPreview::Prev), Qt::LeftButton); },
        [&] { QTest::mouseClick(preview->button(PrintPreview::TwoPage), Qt::LeftButton); },
        [&] { QTest::keyClick(preview, Qt::Key_Home); },
        [&] { QTest::mouseClick(preview->button(PrintPreview::Next), Qt::LeftButton); },
        [&] { QTest::mouseClick(preview->button(PrintPreview::ZoomIn), Qt::LeftButton); },
        [&] { QTest::mouseClick(preview->button(PrintPreview::ZoomIn), Qt::LeftButton); },
        [&] { preview->pageBox()->setValue(static_cast<int>(pages / 2)); },
        [&] { QTest::keyClick(preview, Qt::Key_PageDown); },
    };
    for (const auto& step : steps) {
      step();
      for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
      shown.push_back(preview->currentPage());
      during = std::max(during, ResidentMiB());
      heapDuring = std::max(heapDuring, HeapMiB());
      if (shown.size() == 3)
        KeepPicture(preview->grab().toImage(), QStringLiteral("print_preview_two_pages"));
    }
    drawn = preview->sheetsDrawn();
    KeepPicture(preview->grab().toImage(), QStringLiteral("print_preview_zoomed"));
    const QImage& sheet = preview->sheet(0);
    for (int y = 0; y < sheet.height() && blank; ++y)
      for (int x = 0; x < sheet.width() && blank; ++x)
        blank = qGray(sheet.pixel(x, y)) > 128;
    preview->reject();
  });
  frame_->RunCommand(Cmd::PrintPreview);
  ASSERT_TRUE(*seen);
  const double after = ResidentMiB(), heapAfter = HeapMiB();
  // The print job (and its pagination) stays with the view for the next
  // print; released, the heap is where it was.
  view->ReleasePrintView();
  const double heapReleased = HeapMiB();
  std::printf(
      "%u pages; heap in use: %.1f MiB before, %.1f at most during, %.1f after, %.1f with "
      "the print job released; resident: %.1f MiB before, %.1f during, %.1f after\n",
      pages, heapBefore, heapDuring, heapAfter, heapReleased, before, during, after);
  ASSERT_GE(pages, 3000u);
  EXPECT_EQ(shown, (std::vector<std::uint32_t>{pages, pages - 1, pages - 1, 1, 3, 3, 3, pages / 2,
                                               pages / 2 + 1}));
  EXPECT_FALSE(blank) << "the sheet on show holds text";
  // One sheet per step (two in the two-page steps), not one per page.
  EXPECT_LE(drawn, 16u);
  // In use while it shows thousands of pages: the sheets on show (at most
  // two, the largest zoom 3 x 4096 pixels high at most) and the pagination.
  EXPECT_LT(heapDuring - heapBefore, 64.0) << "bounded while it shows " << pages << " pages";
  EXPECT_LT(heapAfter - heapBefore, 4.0) << "given back once it closed (the print job kept)";
  EXPECT_LT(heapReleased - heapBefore, 2.0);
  // Resident memory holds what the allocator keeps of freed memory too
  // (under AddressSanitizer its quarantine, up to 256 MiB, and its shadow):
  // its bounds are wider there, tight enough either way to catch every page
  // being kept.
#if KELPO_TEST_ASAN
  constexpr double kDuringSlack = 320, kAfterSlack = 320;
#else
  constexpr double kDuringSlack = 64, kAfterSlack = 16;
#endif
  EXPECT_LT(during - before, kDuringSlack) << "bounded while it shows " << pages << " pages";
  EXPECT_LT(after - before, kAfterSlack) << "given back to the system once it closed";
}

TEST_F(PrintWindowTest, PrintFromThePreviewHonoursTheRangeChosen) {
  KELPO_REQUIRE_PEER("pdfinfo");
  KELPO_REQUIRE_PEER("pdftotext");
  KelpoView* view = OpenBook(1000);
  ASSERT_NE(view, nullptr);
  // The whole print, to compare pages with.
  const std::string all = files_.File("all.pdf");
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(all));
  ASSERT_TRUE(KelpoView_PrintTo(view, &printer));
  const int total = PdfPages(all);
  ASSERT_GT(total, 12);

  const struct {
    QPrinter::PrintRange range;
    int from, to;
    int first, last;  // the pages expected
  } rows[] = {
      {QPrinter::PageRange, 3, 5, 3, 5},
      {QPrinter::CurrentPage, 0, 0, 7, 7},  // the page on show in the preview
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.first);
    const std::string pdf = files_.File("range" + std::to_string(r.first) + ".pdf");
    bool currentOffered = false;
    auto seen = WhenUp<PrintPreview>([&](PrintPreview* preview) {
      preview->GoToPage(7);
      WhenUp<QPrintDialog>([&](QPrintDialog* d) {
        currentOffered = d->testOption(QAbstractPrintDialog::PrintCurrentPage);
        AnswerPrintDialog(d, pdf, r.range, r.from, r.to);
      });
      QTest::mouseClick(preview->button(PrintPreview::Print), Qt::LeftButton);
    });
    frame_->RunCommand(Cmd::PrintPreview);
    ASSERT_TRUE(*seen);
    EXPECT_TRUE(currentOffered);
    EXPECT_EQ(PdfPages(pdf), r.last - r.first + 1);
    EXPECT_EQ(Words(PdfText(pdf)), Words(PdfText(all, r.first, r.last)));
  }
}
}  // namespace
