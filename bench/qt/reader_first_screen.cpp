// From asking the main window to open a Palm Doc to its first screen drawn:
// a 20 MiB book against a 20 KiB one in the same run. The first screen must
// not wait for work that grows with the document, so the ratio should stay
// near 1. Both files are made by the peer converter from the same seeded
// text.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "app/device/win_device.h"
#include "app/shell/kelpo_view.h"
#include "app/shell/main_frame.h"
#include "app/shell/qt_settings_store.h"
#include "engine/startup/engine_start.h"

namespace {

QTemporaryDir* g_dir = nullptr;

std::string MakeBook(std::size_t bytes, const char* name) {
  std::mt19937 rng(20261210);
  const char* words[] = {"reader", "page", "the",    "of", "chapter", "light",
                         "river",  "and",  "slowly", "a",  "window",  "night"};
  std::string text;
  while (text.size() < bytes) {
    text += words[rng() % 12];
    text += (rng() % 13 == 0) ? ".\n" : " ";
  }
  text.resize(bytes);
  const std::string base = g_dir->path().toStdString() + "/" + name;
  std::ofstream(base + ".txt", std::ios::binary) << text;
  const std::string command = "txt2pdbdoc Book '" + base + ".txt' '" + base + ".pdb' > /dev/null";
  if (std::system(command.c_str()) != 0) return {};
  return base + ".pdb";
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
// their mean times and the ratio of the large to the small.
void FirstScreen(benchmark::State& state, const std::string& small, const std::string& large) {
  if (small.empty() || large.empty()) {
    state.SkipWithError("the peer converter (txt2pdbdoc) is missing");
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
  double smallTotal = 0, largeTotal = 0;
  for (auto _ : state) {
    const double a = OpenOnce(frame, small);
    const double b = OpenOnce(frame, large);
    if (a < 0 || b < 0) {
      state.SkipWithError("a document did not open");
      return;
    }
    smallTotal += a;
    largeTotal += b;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["small_ms"] = smallTotal / n * 1e3;
  state.counters["large_ms"] = largeTotal / n * 1e3;
  state.counters["ratio"] = smallTotal > 0 ? largeTotal / smallTotal : 0;
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
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
