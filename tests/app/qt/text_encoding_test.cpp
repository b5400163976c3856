// Plain texts in other charsets opened in the whole program window: what the
// view shows (and what Copy Entire Document puts on the clipboard, taken
// from the same conversion) under a UTF-8 locale and under a Latin-1 one.
// Nothing read may vanish: a text that is not UTF-8 while UTF-8 is only
// the default is read as windows-1252, and a byte no charset can read
// shows as U+FFFD.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/core/commands.h"
#include "app/core/prefs.h"
#include "app/dialogs/options_pages.h"
#include "app/dialogs/options_sheet.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "tests/app/qt/modal_script.h"
#include "tests/app/qt/reader_fixture.h"
#include "tests/support/charset_fixtures.h"

namespace {

const std::string kText = "Caf\xC3\xA9 cr\xC3\xA8me, na\xC3\xAFve fa\xC3\xA7\x61\x64\x65";  // UTF-8

// The preferences are settled by each test under the locale it sets.
class TextEncodingTest : public ReaderTest {
 protected:
  TextEncodingTest() : ReaderTest(DefaultEncoding::kAsDefaults) {}
  // The preferences as the program settles them at start under the locale
  // in force.
  void StartUnderLocale() {
    Prefs_SetDefaults(&prefs_);
    Prefs_SelectDefaultEncoding(&prefs_);
  }
  std::unique_ptr<MainFrame> MakeFrame() { return ShownWindow(QSize(640, 240)); }
  // The document's text as the view converts it for the screen.
  static QString ShownText(MainFrame& frame) {
    QApplication::clipboard()->clear();
    frame.action(Cmd::CopyEntireDocument)->trigger();
    return QApplication::clipboard()->text();
  }
};

std::string Bytes(const std::string& utf8, const char* charset) {
  const std::optional<std::string> b = IconvBytes(utf8, "UTF-8", charset);
  EXPECT_TRUE(b.has_value()) << charset;
  return b.value_or(std::string());
}

TEST_F(TextEncodingTest, AWindows1252TextUnderAUtf8LocaleShowsEveryLetter) {
  ScopedEnv locale("LC_ALL", std::string("C.UTF-8"));
  StartUnderLocale();
  ASSERT_EQ(prefs_.defaultEncoding(), 106);
  WriteFile("cafe-1252.txt", Bytes(kText, "WINDOWS-1252"));
  WriteFile("cafe-utf8.txt", kText);

  auto frame = MakeFrame();
  KelpoView* view = Open(*frame, "cafe-1252.txt");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->document()->state().encoding, 2252u);
  EXPECT_FALSE(view->document()->state().encodingGiven);
  EXPECT_EQ(ShownText(*frame), QString::fromUtf8(kText));
  // The screen shows the very picture of the same text written in UTF-8.
  const QImage shown = view->viewport()->grab().toImage();
  KeepPicture(frame.get(), QStringLiteral("windows1252_text_under_utf8_locale"));

  auto other = MakeFrame();
  KelpoView* reference = Open(*other, "cafe-utf8.txt");
  ASSERT_NE(reference, nullptr);
  EXPECT_EQ(reference->document()->state().encoding, 106u);
  EXPECT_EQ(ShownText(*other), QString::fromUtf8(kText));
  EXPECT_EQ(shown, reference->viewport()->grab().toImage());
}

// One text per charset, opened under each locale. What is shown: the text
// itself when it is read in its own charset; otherwise every byte as
// windows-1252 reads it (U+FFFD for the bytes that charset leaves out),
// never nothing. The plain-text handler shows a NUL byte as '?', so UTF-16
// text, which no offered charset reads as plain text, shows its bytes.
TEST_F(TextEncodingTest, EachCharsetUnderEachLocaleShowsEveryByte) {
  struct File {
    const char* name;
    std::string bytes;
    bool utf8;  // UTF-8 (with or without its mark)
  };
  const std::string polish = "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85";
  const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86";
  const std::vector<File> files = {
      {"utf8.txt", kText, true},
      {"utf8-mark.txt", "\xEF\xBB\xBF" + kText, true},
      {"windows-1252.txt", Bytes(kText, "WINDOWS-1252"), false},
      {"windows-1252-gap.txt", Bytes(kText, "WINDOWS-1252") + " \x81\x9D", false},
      {"iso-8859-2.txt", Bytes(polish, "ISO-8859-2"), false},
      {"shift_jis.txt", Bytes(japanese, "SHIFT_JIS"), false},
      {"utf-16le-mark.txt", "\xFF\xFE" + Bytes(kText, "UTF-16LE"), false},
      {"utf-16be.txt", Bytes(kText, "UTF-16BE"), false},
  };
  struct Locale {
    const char* name;
    std::string path;  // LOCPATH; empty: the system's
    std::uint16_t defaultEncoding;
  };
  const Locale locales[] = {{"C.UTF-8", "", 106}, {kLatin1Locale, Latin1LocalePath(), 2252}};
  for (const Locale& l : locales) {
    if (l.defaultEncoding != 106 && l.path.empty())
      GTEST_SKIP() << "no Latin-1 locale (localedef and the locales package): C.UTF-8 only";
    ScopedEnv lcAll("LC_ALL", std::string(l.name));
    ScopedEnv locPath("LOCPATH", l.path.empty() ? std::nullopt : std::optional(l.path));
    StartUnderLocale();
    prefs_.setSaveMode(2);  // no local settings: every open decides afresh
    ASSERT_EQ(prefs_.defaultEncoding(), l.defaultEncoding) << l.name;
    for (const File& f : files) {
      SCOPED_TRACE(testing::Message() << l.name << " " << f.name);
      std::string noNul = f.bytes;
      for (char& c : noNul)
        if (c == '\0') c = '?';
      const bool asUtf8 = f.utf8 && (l.defaultEncoding == 106 || f.bytes[0] == '\xEF');
      const std::string expected = asUtf8 ? f.bytes : Windows1252AsUtf8(noNul);
      auto frame = MakeFrame();
      WriteFile(f.name, f.bytes);
      ASSERT_NE(Open(*frame, f.name), nullptr);
      EXPECT_EQ(ShownText(*frame), QString::fromUtf8(expected));
    }
  }
}

// A charset the user chose for the document wins over the guess and stays
// chosen: the windows-1252 text read as UTF-8 shows U+FFFD for each byte
// UTF-8 cannot read.
TEST_F(TextEncodingTest, TheUsersChoiceIsKeptAndUnreadableBytesShowAsReplacementCharacters) {
  ScopedEnv locale("LC_ALL", std::string("C.UTF-8"));
  StartUnderLocale();
  WriteFile("cafe.txt", Bytes(kText, "WINDOWS-1252"));
  const QString replaced = QString::fromUtf8(
      "Caf\xEF\xBF\xBD cr\xEF\xBF\xBDme, na\xEF\xBF\xBDve fa\xEF\xBF\xBD\x61\x64\x65");
  {
    auto frame = MakeFrame();
    KelpoView* view = Open(*frame, "cafe.txt");
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(ShownText(*frame), QString::fromUtf8(kText));
    bool ran = false;
    modal_script::WhenModal<OptionsSheet>([&](OptionsSheet* sheet) {
      ran = true;
      sheet->display->encoding->setCurrentIndex(sheet->display->encoding->findText("UTF-8"));
      sheet->buttons->button(QDialogButtonBox::Ok)->click();
    });
    ASSERT_TRUE(RunOptionsSheet(frame.get(), view));
    ASSERT_TRUE(ran);
    Settle();
    EXPECT_EQ(view->document()->state().encoding, 106u);
    EXPECT_EQ(ShownText(*frame), replaced);
    view->Render();
    KeepPicture(frame.get(), QStringLiteral("windows1252_text_read_as_utf8"));
  }
  // Opened again, the choice kept with the document's settings still holds.
  auto frame = MakeFrame();
  KelpoView* view = Open(*frame, "cafe.txt");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->document()->state().encoding, 106u);
  EXPECT_EQ(ShownText(*frame), replaced);
}

}  // namespace
