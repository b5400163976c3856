// The reading view leaving its document: the save mode of the preferences
// decides whether the document's local settings stay (and move to the front
// of the recent list) or are deleted when the document closes.
#include "app/window/kelpo_view.h"

#include <gtest/gtest.h>

#include <optional>

#include "app/core/doc_open.h"
#include "app/core/strings.h"
#include "app/window/command_dialogs.h"
#include "engine/stores/settings_store.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide_text.h"

namespace {

class ScriptedPrompter : public Prompter {
 public:
  bool answer = true;
  int questions = 0;
  void Message(std::uint32_t, Icon) override {}
  bool AskYesNo(std::uint32_t id) override {
    EXPECT_EQ(id, StringId::AskSaveLocalSettings);
    ++questions;
    return answer;
  }
};

TEST(KelpoView, TheSaveModeDecidesWhetherLocalSettingsOutliveTheDocument) {
  TempDir data, files;
  ScopedEnv env("KELPO_DATA_HOME", data.Path());
  const std::string file = files.File("story.txt");
  WriteFileBytes(file, "Once upon a time.\nThe end.\n");
  const std::u16string path = U16(file);

  struct Case {
    SaveMode mode;
    bool answer;
    bool kept;
    int questions;
  };
  const Case cases[] = {
      {SaveMode::Always, false, true, 0},
      {SaveMode::Never, true, false, 0},
      {SaveMode::Ask, true, true, 1},
      {SaveMode::Ask, false, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode) * 10 + c.answer);
    std::uint32_t flags = 0;
    EngineObject* store = nullptr;
    ASSERT_EQ(Settings_OpenStore(&SettingsModule, &flags, &store), kOk);
    Preferences prefs;
    Prefs_SetDefaults(&prefs);
    prefs.setSaveMode(static_cast<std::uint8_t>(c.mode));
    ScriptedPrompter prompter;
    prompter.answer = c.answer;
    {
      KelpoDoc doc({&prefs, store, &prompter});
      ASSERT_TRUE(doc.OnOpenDocument(path));
      auto view = std::make_unique<KelpoView>(&doc, nullptr);
      view->resize(300, 200);
      view->OnInitialUpdate();
      view->Render();
      EXPECT_TRUE(view->layoutValid());
      view.reset();  // the view leaves the document first, then the document closes
    }
    EXPECT_EQ(prompter.questions, c.questions);
    LocalSettings ls{};
    const bool kept = Settings_OpenDocument(store, path.c_str(), 0, &ls) == kOk;
    if (kept) {
      EXPECT_EQ(Settings_CloseDocument(store, &ls, kSettingsCloseDelete), kOk);
    }
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(Settings_CloseStore(store), kOk);
  }
}

}  // namespace

namespace {

int g_categoryDialogs = 0;

// Categories are kept in the settings store: without one the command does
// nothing (no empty dialog).
TEST(KelpoView, CategoriesWithoutASettingsStoreDoNothing) {
  TempDir data, files;
  ScopedEnv env("KELPO_DATA_HOME", data.Path());
  const std::string file = files.File("story.txt");
  WriteFileBytes(file, "Once upon a time.\nThe end.\n");
  Preferences prefs;
  Prefs_SetDefaults(&prefs);
  ScriptedPrompter prompter;
  KelpoDoc doc({&prefs, nullptr, &prompter});
  ASSERT_TRUE(doc.OnOpenDocument(U16(file)));
  KelpoView view(&doc, nullptr);
  CommandDialogs dialogs;
  dialogs.categories = [](KelpoView*) { ++g_categoryDialogs; };
  view.SetDialogs(&dialogs);
  view.resize(300, 200);
  view.OnInitialUpdate();
  g_categoryDialogs = 0;
  view.OnCommand(Cmd::Categories);
  EXPECT_EQ(g_categoryDialogs, 0);
}

}  // namespace
