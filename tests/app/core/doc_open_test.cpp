// The document open pipeline with fake handler classes in the module table:
// probe order, the message of each failure, every engine object released on
// every failure branch, the encoding precedence and the two close modes of
// the local settings.
#include "app/core/doc_open.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "app/core/strings.h"
#include "engine/formats/flow_text.h"
#include "engine/runtime/module_table.h"
#include "tests/support/record_db_fixtures.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide_text.h"

namespace {

// What a fake class answers; one per class slot in the module table.
struct FakeClass {
  StatusCode probe = kOk;  // answer to the stream probe
  bool refuseCreate = false;
  StatusCode open = kOk;  // answer to the open command
  int steps = 0;          // background steps before done
  StatusCode stepFailure = kOk;
  std::uint16_t charset = 0;
  EngineObject module{};
  int live = 0;  // instances not yet destroyed
  std::uint32_t openCode = 0;
  int refuseReplace = 0;  // database swaps refused before one is taken
  std::uint32_t textLength = 0;
  bool textUnreadable = false;  // GetText fails
};

struct FakeBody {
  FakeClass* cls;
  int stepsLeft;
  DocHandlerSettings settings;
};

FakeClass* ClassOf(EngineObject* o);

StatusCode FakeCreate(EngineObject* module, EngineObject** out) noexcept {
  FakeClass* c = ClassOf(module);
  if (c->refuseCreate) return kOutOfMemory;
  auto* instance = new EngineInstance<FakeBody>{};
  instance->header = {&instance->body, module->ops};
  instance->body = {c, c->steps, {}};
  ++c->live;
  *out = &instance->header;
  return kOk;
}
StatusCode FakeDestroy(EngineObject* h) noexcept {
  auto& b = BodyOf<FakeBody>(h);
  --b.cls->live;
  delete reinterpret_cast<EngineInstance<FakeBody>*>(h);
  return kOk;
}
StatusCode FakeCommand(EngineObject* h, std::uint32_t code, void*, std::uint32_t) noexcept {
  if (h->state == nullptr) return code == DocCommand::ProbeStream ? ClassOf(h)->probe : kFailed;
  FakeBody& b = BodyOf<FakeBody>(h);
  b.cls->openCode = code;
  if (code == DocCommand::ReplaceDatabase && b.cls->refuseReplace > 0) {
    --b.cls->refuseReplace;
    return kDocMalformed;
  }
  return b.cls->open;
}
StatusCode FakeStep(EngineObject* h) noexcept {
  FakeBody& b = BodyOf<FakeBody>(h);
  if (b.stepsLeft-- > 0) return IsFailure(b.cls->stepFailure) ? b.cls->stepFailure : kOk;
  return kDocStepDone;
}
StatusCode FakeControl(EngineObject* h, std::uint16_t code, std::uint32_t, void* record) noexcept {
  FakeBody& b = BodyOf<FakeBody>(h);
  if (code != DocControl::DocumentCharset || b.cls->charset == 0) return kNotSupported;
  *static_cast<std::uint16_t*>(record) = b.cls->charset;
  return kOk;
}
StatusCode FakeTextLength(EngineObject* h, std::uint32_t* length) noexcept {
  *length = BodyOf<FakeBody>(h).cls->textLength;
  return kOk;
}
StatusCode FakeGetText(EngineObject* h, std::uint32_t position, const std::uint8_t** text,
                       std::uint32_t* length) noexcept {
  static const std::uint8_t kText[] = "text";
  const FakeClass* c = BodyOf<FakeBody>(h).cls;
  if (c->textUnreadable) return kDocMalformed;
  *text = position < c->textLength ? kText : nullptr;
  *length = position < c->textLength ? 1 : 0;
  return kOk;
}
template <class Fn>
constexpr Fn Refuse() {
  return CoreStub<Fn>::NotSupported;
}

constexpr DocHandlerOps kFakeOps = MakeDocHandlerOps({
    .create = FakeCreate,
    .destroy = FakeDestroy,
    .command = FakeCommand,
    .getSectionRange = Refuse<decltype(DocHandlerOps::getSectionRange)>(),
    .findSection = Refuse<decltype(DocHandlerOps::findSection)>(),
    .getTextLength = FakeTextLength,
    .getText = FakeGetText,
    .getTextBefore = Refuse<decltype(DocHandlerOps::getTextBefore)>(),
    .getCharStyle = Refuse<decltype(DocHandlerOps::getCharStyle)>(),
    .control = FakeControl,
    .backgroundStep = FakeStep,
});

FakeClass g_classes[4];  // native, 'RaZo', Palm Doc, plain text

FakeClass* ClassOf(EngineObject* o) {
  if (o->state != nullptr) return BodyOf<FakeBody>(o).cls;
  for (FakeClass& c : g_classes)
    if (&c.module == o) return &c;
  return nullptr;
}

class Recorder : public Prompter {
 public:
  std::vector<std::uint32_t> messages;
  bool answer = true;
  void Message(std::uint32_t id, Icon) override { messages.push_back(id); }
  bool AskYesNo(std::uint32_t id) override {
    messages.push_back(id);
    return answer;
  }
};

class DocOpenTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = {g_NativeDocModule, g_RaZoDocModule, g_PalmDocModule, g_TextDocModule};
    EngineObject** entries[] = {&g_NativeDocModule, &g_RaZoDocModule, &g_PalmDocModule,
                                &g_TextDocModule};
    for (int i = 0; i < 4; ++i) {
      g_classes[i] = FakeClass{};
      g_classes[i].module = {nullptr, &kFakeOps};
      g_classes[i].probe = kDocProbeText;  // nobody claims the file by default
      *entries[i] = &g_classes[i].module;
    }
    Prefs_SetDefaults(&prefs_);
    prefs_.setDefaultEncoding(2252);
    context_ = {&prefs_, nullptr, &prompter_};
    WriteFileBytes(dbPath_, record_db_fixtures::BuildDb({"record one", "record two"}));
    WriteFileBytes(textPath_, "plain text\n");
  }
  void TearDown() override {
    g_NativeDocModule = saved_[0];
    g_RaZoDocModule = saved_[1];
    g_PalmDocModule = saved_[2];
    g_TextDocModule = saved_[3];
    for (const FakeClass& c : g_classes)
      EXPECT_EQ(c.live, 0) << "a handler instance was not released";
  }
  std::u16string Path(const std::string& p) { return U16(p); }

  TempDir dir_;
  std::string dbPath_ = dir_.File("book.pdb");
  std::string textPath_ = dir_.File("notes.txt");
  std::vector<EngineObject*> saved_;
  Preferences prefs_;
  Recorder prompter_;
  ShellContext context_;
};

TEST_F(DocOpenTest, TheFirstClassThatClaimsTheFileWinsInProbeOrder) {
  g_classes[0].probe = kDocProbeText;  // native only accepts it as text: not a claim
  g_classes[1].probe = kDocProbeMine;
  g_classes[2].probe = kDocProbeMine;
  KelpoDoc doc(context_);
  ASSERT_TRUE(doc.OnOpenDocument(Path(dbPath_)));
  EXPECT_EQ(doc.state().handlerClass, &g_classes[1].module);
  EXPECT_EQ(doc.state().probeResult, kDocProbeMine);
  EXPECT_NE(doc.state().container, nullptr);
  EXPECT_EQ(g_classes[1].openCode, DocCommand::OpenDatabase);
  EXPECT_EQ(g_classes[1].live, 1);
  EXPECT_TRUE(prompter_.messages.empty());
}

TEST_F(DocOpenTest, AnUnclaimedFileGoesToThePlainTextHandlerAndAnUnregisteredClassIsSkipped) {
  g_NativeDocModule = nullptr;  // not registered: never asked, never a fallback
  KelpoDoc doc(context_);
  ASSERT_TRUE(doc.OnOpenDocument(Path(dbPath_)));
  EXPECT_EQ(doc.state().handlerClass, &g_classes[3].module);
  EXPECT_EQ(doc.state().probeResult, kDocProbeText);
  EXPECT_EQ(doc.state().container, nullptr);
  EXPECT_EQ(g_classes[3].openCode, DocCommand::AttachStream);
}

TEST_F(DocOpenTest, AFileOfAFormatWhoseHandlerIsNotRegisteredIsRefusedNotShownAsText) {
  g_PalmDocModule = nullptr;  // the fixture database is a Palm Doc ("TEXt")
  KelpoDoc doc(context_);
  EXPECT_FALSE(doc.OnOpenDocument(Path(dbPath_)));
  EXPECT_EQ(prompter_.messages, std::vector<std::uint32_t>{StringId::UnsupportedFormat});
  EXPECT_EQ(g_classes[3].live, 0);
  EXPECT_EQ(g_classes[3].openCode, 0u) << "the text handler never saw it";
}

TEST_F(DocOpenTest, EachFailureShowsItsMessageAndReleasesEverything) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::optional<std::uint32_t> message;
  };
  const Case cases[] = {
      {"nobody accepts the file", [] { g_classes[3].probe = kOk; }, StringId::UnsupportedFormat},
      {"a newer version", [] { g_classes[3].open = kDocNewerVersion; },
       StringId::NeedsNewerVersion},
      {"cancelled", [] { g_classes[3].open = kCancelled; }, std::nullopt},
      {"damaged", [] { g_classes[3].open = kDocMalformed; }, StringId::CannotOpenCorrupt},
      {"handler not created", [] { g_classes[3].refuseCreate = true; }, std::nullopt},
      {"a background step fails",
       [] {
         g_classes[3].steps = 3;
         g_classes[3].stepFailure = kMalformed;
       },
       std::nullopt},
      {"the database does not open",
       [] { g_classes[0].probe = kDocProbeMine; },  // claims the text file
       std::nullopt},
      {"the text cannot be read from its start",
       [] {
         g_classes[3].textLength = 100;
         g_classes[3].textUnreadable = true;
       },
       StringId::CannotOpenCorrupt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (FakeClass& k : g_classes) {
      const EngineObject m = k.module;
      k = FakeClass{};
      k.module = m;
      k.probe = kDocProbeText;
    }
    c.arrange();
    prompter_.messages.clear();
    KelpoDoc doc(context_);
    DocOpenState state;
    EXPECT_FALSE(doc.OpenDocumentState(&state, Path(textPath_)));
    EXPECT_EQ(state.reader, nullptr);
    EXPECT_EQ(state.stream, nullptr);
    EXPECT_EQ(state.container, nullptr);
    for (const FakeClass& k : g_classes)
      EXPECT_EQ(k.live, 0);
    if (c.message) {
      EXPECT_EQ(prompter_.messages, std::vector<std::uint32_t>{*c.message});
    } else {
      EXPECT_TRUE(prompter_.messages.empty());
    }
    // A caller that tells the user itself gets the failure instead.
    prompter_.messages.clear();
    DocOpenFailure failure;
    EXPECT_FALSE(doc.OpenDocumentState(&state, Path(textPath_), &failure));
    EXPECT_TRUE(prompter_.messages.empty());
    EXPECT_EQ(failure.message, c.message.value_or(0));
    EXPECT_TRUE(IsFailure(failure.status));
    for (const FakeClass& k : g_classes)
      EXPECT_EQ(k.live, 0);
  }
  KelpoDoc doc(context_);
  EXPECT_FALSE(doc.OnOpenDocument(Path(dir_.File("missing.txt"))));
  EXPECT_TRUE(prompter_.messages.empty()) << "a file that cannot be opened says nothing";
}

TEST_F(DocOpenTest, TheDocumentsOwnCharsetWinsOverThePreferences) {
  g_classes[3].steps = 2;
  KelpoDoc plain(context_);
  ASSERT_TRUE(plain.OnOpenDocument(Path(textPath_)));
  EXPECT_FALSE(plain.state().encodingGiven);
  EXPECT_EQ(plain.state().encoding, 2252u);
  EXPECT_FALSE(plain.state().readOnly);

  g_classes[3].charset = 106;
  KelpoDoc named(context_);
  ASSERT_TRUE(named.OnOpenDocument(Path(textPath_)));
  EXPECT_TRUE(named.state().encodingGiven);
  EXPECT_EQ(named.state().encoding, 106u);
}

TEST_F(DocOpenTest, AReadOnlyFileOpensButIsNotReopenedForWriting) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  ASSERT_EQ(chmod(textPath_.c_str(), 0444), 0);
  KelpoDoc doc(context_);
  ASSERT_TRUE(doc.OnOpenDocument(Path(textPath_)));
  EXPECT_TRUE(doc.state().readOnly);
  EXPECT_FALSE(doc.ReopenForWriting());
  EXPECT_NE(doc.state().reader, nullptr) << "the document stays open";
}

TEST_F(DocOpenTest, ReopeningForWritingSwapsTheDatabaseUnderTheHandler) {
  g_classes[2].probe = kDocProbeMine;
  KelpoDoc doc(context_);
  ASSERT_TRUE(doc.OnOpenDocument(Path(dbPath_)));
  EXPECT_TRUE(doc.ReopenForWriting());
  EXPECT_EQ(doc.state().openMode, 1u);
  EXPECT_EQ(g_classes[2].openCode, DocCommand::ReplaceDatabase);
  EXPECT_TRUE(doc.ReopenForWriting()) << "already open for writing";
  // The file vanished: it cannot be opened again, and the document keeps
  // its handler on the old source (a view may still be drawing from it).
  ASSERT_EQ(std::remove(dbPath_.c_str()), 0);
  EXPECT_FALSE(doc.ReopenFile(0, true, false));
  EXPECT_NE(doc.state().reader, nullptr);
  EXPECT_NE(doc.state().container, nullptr);
  EXPECT_EQ(doc.state().openMode, 1u);
  EXPECT_EQ(g_classes[2].live, 1);
}

TEST_F(DocOpenTest, AHandlerThatRefusesTheReopenedFileKeepsTheOldModeAndTheUserIsTold) {
  g_classes[2].probe = kDocProbeMine;
  KelpoDoc doc(context_);
  ASSERT_TRUE(doc.OnOpenDocument(Path(dbPath_)));
  // The handler refuses the file opened for writing: it reads it again as
  // it was opened, and the user hears why nothing is stored.
  g_classes[2].refuseReplace = 1;
  EXPECT_FALSE(doc.ReopenForWriting());
  EXPECT_NE(doc.state().reader, nullptr);
  EXPECT_NE(doc.state().container, nullptr);
  EXPECT_EQ(doc.state().openMode, 0u);
  EXPECT_EQ(g_classes[2].openCode, DocCommand::ReplaceDatabase) << "given the file again";
  EXPECT_EQ(prompter_.messages, std::vector<std::uint32_t>{StringId::CannotReopenForWriting});
  // Refused in both modes: nothing is left to read from, the document closes.
  g_classes[2].refuseReplace = 2;
  EXPECT_FALSE(doc.ReopenForWriting());
  EXPECT_EQ(doc.state().reader, nullptr);
  EXPECT_EQ(doc.state().container, nullptr);
  EXPECT_EQ(doc.state().stream, nullptr);
  EXPECT_EQ(g_classes[2].live, 0);
}

// The real settings store in a temporary data folder.
class DocOpenStoreTest : public DocOpenTest {
 protected:
  void SetUp() override {
    DocOpenTest::SetUp();
    std::uint32_t flags = 0;
    ASSERT_EQ(Settings_OpenStore(&SettingsModule, &flags, &store_), kOk);
    context_.store = store_;
  }
  void TearDown() override {
    if (store_ != nullptr) {
      EXPECT_EQ(Settings_CloseStore(store_), kOk);
    }
    DocOpenTest::TearDown();
  }
  bool SettingsExist(const std::u16string& path) {
    LocalSettings ls{};
    if (IsFailure(Settings_OpenDocument(store_, path.c_str(), 0, &ls))) return false;
    EXPECT_EQ(Settings_CloseDocument(store_, &ls, 0), kOk);
    return true;
  }
  TempDir data_;
  ScopedEnv env_{"KELPO_DATA_HOME", data_.Path()};
  EngineObject* store_ = nullptr;
};

TEST_F(DocOpenStoreTest, SavedStateComesBackAndUnsavedSettingsAreDeletedOnRelease) {
  const std::u16string path = Path(textPath_);
  {
    KelpoDoc doc(context_);
    ASSERT_TRUE(doc.OnOpenDocument(path));
    // Never saved: the preferences' display words and encoding.
    EXPECT_EQ(doc.state().displayFlags, prefs_.defaultDisplayFlags());
    EXPECT_EQ(doc.state().encoding, 2252u);
    DocOpenState& s = doc.state();
    ASSERT_EQ(
        Settings_SaveDocumentState(store_, &s.localSettings, path.c_str(), 3, 0x12, 7, 106, 5),
        kOk);
  }  // released with mode "recent": the settings stay
  ASSERT_TRUE(SettingsExist(path));
  {
    KelpoDoc doc(context_);
    ASSERT_TRUE(doc.OnOpenDocument(path));
    EXPECT_EQ(doc.state().locationFlags, 3);
    EXPECT_EQ(doc.state().displayFlags, 0x12);
    EXPECT_EQ(doc.state().displayExtra, 7);
    EXPECT_EQ(doc.state().encoding, 106u);
    EXPECT_EQ(doc.state().colourTheme, 5);
    doc.state().settingsNotSaved = true;
  }  // released with mode "delete"
  EXPECT_FALSE(SettingsExist(path));
}

}  // namespace
