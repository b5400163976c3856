// From asking the main window to open a Palm Doc to its first screen drawn:
// a 20 MiB book against a 20 KiB one in the same run, both made by the peer
// converter from real text (the licence texts in /usr/share/common-licenses,
// repeated and cut). Each open is split into the engine's part, timed apart
// in the same iteration on the same file (file stream, record database,
// handler open, every background step, the first text window: what the open
// pipeline asks of the engine before the window exists), and the rest
// (windows, the text view's layout and the toolkit's drawing).
//
// The same for the sample native book of tools/native_sample_book.py
// (styled chapters, bullets, links, a nested table, a table of 2,000 rows):
// its first screen, the first screen of the chapter holding the long table
// (shown before that table's layout pass has run) and the time until that
// chapter is paginated, the pass included.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/device/win_device.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "app/window/qt_settings_store.h"
#include "bench/real_text.h"
#include "engine/formats/doc_handler.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/module_table.h"
#include "engine/startup/engine_start.h"
#include "engine/view/text_view.h"

namespace {

QTemporaryDir* g_dir = nullptr;

std::string MakeBook(std::size_t bytes, const char* name) {
  const std::string text = bench_real::RepeatTo(bench_real::Licences(), bytes);
  if (text.empty()) return {};
  const std::string path = g_dir->path().toStdString() + "/" + name;
  std::ofstream(path + ".txt", std::ios::binary) << text;
  const std::string command = "txt2pdbdoc Book '" + path + ".txt' '" + path + ".pdb' > /dev/null";
  if (std::system(command.c_str()) != 0) return {};
  return path + ".pdb";
}

// The engine's part of an open, in seconds: the document file opened as the
// open pipeline opens it, every background step, and the first window of
// text; -1 on a failure.
double EngineOpenOnce(const std::string& path) {
  QElapsedTimer clock;
  clock.start();
  std::u16string wide(path.begin(), path.end());
  EngineObject* stream = nullptr;
  if (FileSys_Open(g_FileSysModule, wide.data(), 0, kFileOpenRead, &stream) != kOk) return -1;
  bool served = false;
  EngineObject* db = nullptr;
  if (DbFile_Open(g_DbFileModule, stream, kDbOpenRead, &db) == kOk) {
    const DocHandlerOps& ops = DocOpsOf(g_PalmDocModule);
    EngineObject* h = nullptr;
    if (ops.create(g_PalmDocModule, &h) == kOk) {
      StatusCode s = ops.command(h, DocCommand::OpenDatabase, db, 0);
      while (s == kOk)
        s = ops.backgroundStep(h);
      const std::uint8_t* text = nullptr;
      std::uint32_t n = 4096;
      served = s == kDocStepDone && ops.getText(h, 0, &text, &n) == kOk && n > 0;
      (void)ops.destroy(h);  // frees memory only
    }
    (void)DbFile_Close(db);  // read-only: nothing to commit
  }
  (void)StreamOf(stream).close(stream);  // a read-only file closes cleanly
  const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  return served ? seconds : -1;
}

// One open of the document to its first screen drawn, in seconds.
double OpenOnce(MainFrame& frame, const std::string& path) {
  QElapsedTimer clock;
  clock.start();
  if (!frame.OpenDocumentFile(QString::fromStdString(path))) return -1;
  KelpoView* view = frame.Views().back();
  view->Render();
  benchmark::DoNotOptimize(view->layoutValid());
  const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  static_cast<QWidget*>(view->parentWidget())->close();
  QApplication::processEvents();
  return seconds;
}

// Each iteration opens the 20 KiB and the 20 MiB book; the counters give
// their mean times, the ratio of the large to the small, and each book's
// engine part and the rest.
void FirstScreen(benchmark::State& state, const std::string& small, const std::string& large) {
  if (small.empty() || large.empty()) {
    state.SkipWithError("the peer converter (txt2pdbdoc) or the licence texts are missing");
    return;
  }
  QtSettingsStore settings;
  Preferences prefs;
  Prefs_SetDefaults(&prefs);
  prefs.setDefaultEncoding(2252);
  WindowState window;
  Prefs_InitWindowState(&window);
  MainFrame frame(&settings, &prefs, &window);
  frame.resize(800, 600);
  frame.show();
  double smallTotal = 0, largeTotal = 0, smallEngine = 0, largeEngine = 0;
  for (auto _ : state) {
    const double a = OpenOnce(frame, small);
    const double b = OpenOnce(frame, large);
    const double ea = EngineOpenOnce(small);
    const double eb = EngineOpenOnce(large);
    if (a < 0 || b < 0 || ea < 0 || eb < 0) {
      state.SkipWithError("a document did not open");
      return;
    }
    smallTotal += a;
    largeTotal += b;
    smallEngine += ea;
    largeEngine += eb;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["small_ms"] = smallTotal / n * 1e3;
  state.counters["large_ms"] = largeTotal / n * 1e3;
  state.counters["ratio"] = smallTotal > 0 ? largeTotal / smallTotal : 0;
  state.counters["small_engine_ms"] = smallEngine / n * 1e3;
  state.counters["large_engine_ms"] = largeEngine / n * 1e3;
  state.counters["small_rest_ms"] = (smallTotal - smallEngine) / n * 1e3;
  state.counters["large_rest_ms"] = (largeTotal - largeEngine) / n * 1e3;
}

std::string MakeNativeBook() {
  const char* root = std::getenv("KELPO_SOURCE_DIR");
  const std::string source = root != nullptr ? root : KELPO_SOURCE_DIR;
  const std::string path = g_dir->path().toStdString() + "/native.pdb";
  const std::string command =
      "python3 '" + source + "/tools/native_sample_book.py' '" + path + "' 4 2000 > /dev/null";
  if (std::system(command.c_str()) != 0) return {};
  return path;
}

// Each iteration opens the native book (its first screen), then moves to
// the chapter with the long table and draws its first screen.
void NativeBook(benchmark::State& state, const std::string& book) {
  if (book.empty()) {
    state.SkipWithError("the sample book could not be written");
    return;
  }
  QtSettingsStore settings;
  Preferences prefs;
  Prefs_SetDefaults(&prefs);
  WindowState window;
  Prefs_InitWindowState(&window);
  MainFrame frame(&settings, &prefs, &window);
  frame.resize(800, 600);
  frame.show();
  double openTotal = 0, tableTotal = 0, pagedTotal = 0;
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    if (!frame.OpenDocumentFile(QString::fromStdString(book))) {
      state.SkipWithError("the sample book did not open");
      return;
    }
    KelpoView* view = frame.Views().back();
    view->Render();
    openTotal += static_cast<double>(clock.nsecsElapsed()) / 1e9;
    clock.restart();
    EngineObject* tv = view->textView();
    if (OpsOf<TextViewOps>(tv).navigate(tv, TextViewNav::SectionByNumber, 2) != kOk) {
      state.SkipWithError("the long table's chapter could not be shown");
      return;
    }
    view->Render();
    benchmark::DoNotOptimize(view->layoutValid());
    tableTotal += static_cast<double>(clock.nsecsElapsed()) / 1e9;
    // The chapter's pagination, its long table's layout pass first, runs on
    // the view's timer; it ends with the chapter paginated.
    std::uint32_t paginated = 0;
    for (int k = 0; k < 100000 && paginated == 0; ++k) {
      QApplication::processEvents();
      if (OpsOf<TextViewOps>(tv).control(tv, 30, 1, &paginated) != kOk) break;
    }
    if (paginated == 0) {
      state.SkipWithError("the long table's chapter was never paginated");
      return;
    }
    pagedTotal += static_cast<double>(clock.nsecsElapsed()) / 1e9;
    static_cast<QWidget*>(view->parentWidget())->close();
    QApplication::processEvents();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["first_screen_ms"] = openTotal / n * 1e3;
  state.counters["table_chapter_ms"] = tableTotal / n * 1e3;
  state.counters["table_chapter_paginated_ms"] = pagedTotal / n * 1e3;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QTemporaryDir dir;
  g_dir = &dir;
  qputenv("KELPO_DATA_HOME", dir.path().toUtf8());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
  Core_SetHostDeviceModule(&WinDeviceModule);
  if (IsFailure(Core_RegisterAllModules())) return 1;
  const std::string small = MakeBook(20 * 1024, "small");
  const std::string large = MakeBook(20 * 1024 * 1024, "large");
  benchmark::RegisterBenchmark("FirstScreen/20MiB_vs_20KiB", [&](benchmark::State& state) {
    FirstScreen(state, small, large);
  })->Unit(benchmark::kMillisecond);
  const std::string native = MakeNativeBook();
  benchmark::RegisterBenchmark("FirstScreen/NativeBook", [&](benchmark::State& state) {
    NativeBook(state, native);
  })->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
