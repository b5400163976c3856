// The Options sheet headless: driven end to end through the reading view's
// runner (every page changed, a theme made with the editor and the colour
// chooser), what it stored read back after the program and the document
// are opened again; the frame's runner; the colour page's edits; the
// tap-region control under the mouse; the font page; and a picture of every
// page and of the theme editor.
#include "app/dialogs/options_sheet.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

#include "app/core/commands.h"
#include "app/device/win_device.h"
#include "app/dialogs/option_previews.h"
#include "app/dialogs/options_colour_page.h"
#include "app/dialogs/options_pages.h"
#include "app/dialogs/tap_region_ctrl.h"
#include "app/dialogs/theme_editor.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "engine/runtime/module_table.h"
#include "engine/stores/settings_store.h"
#include "tests/app/qt/reader_fixture.h"

namespace {

// Runs fn on the next visible modal window of type T. A window that does not
// come within five seconds fails the test, and whatever modal window is up
// then is closed, so that a test never hangs.
template <typename T>
void WhenModal(std::function<void(T*)> fn) {
  auto* timer = new QTimer;
  auto* clock = new QElapsedTimer;
  clock->start();
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, clock, fn] {
    QWidget* modal = QApplication::activeModalWidget();
    if (T* w = dynamic_cast<T*>(modal); w != nullptr && w->isVisible()) {
      timer->stop();
      timer->deleteLater();
      delete clock;
      fn(w);
    } else if (clock->elapsed() > 5000) {
      timer->stop();
      timer->deleteLater();
      delete clock;
      ADD_FAILURE() << "no modal window of the expected kind came up";
      if (auto* dialog = dynamic_cast<QDialog*>(modal)) dialog->reject();
    }
  });
  timer->start();
}

// Answers the next message box with the button given, keeping its text.
void AnswerBox(QMessageBox::StandardButton button, QString* text = nullptr) {
  WhenModal<QMessageBox>([button, text](QMessageBox* box) {
    if (text != nullptr) *text = box->text();
    box->button(button)->click();
  });
}

// Picks a colour in the next colour chooser.
void ChooseColour(const QColor& colour) {
  WhenModal<QColorDialog>([colour](QColorDialog* chooser) {
    chooser->setCurrentColor(colour);
    chooser->accept();
  });
}

const SettingsOps& Store(EngineObject* s) {
  return OpsOf<SettingsOps>(s);
}

// Adds themes to the store's theme file; answers their keys.
std::vector<std::uint16_t> AddThemes(
    EngineObject* store, std::initializer_list<std::pair<const char16_t*, QColor>> all) {
  ColourThemeSet* set = nullptr;
  EXPECT_EQ(Store(store).getColourThemes(store, &set), kOk);
  std::vector<std::uint16_t> keys;
  for (const auto& [name, background] : all) {
    const ThemeColour colours[2] = {{1, 0, 0, 0},
                                    {2, static_cast<std::uint8_t>(background.red()),
                                     static_cast<std::uint8_t>(background.green()),
                                     static_cast<std::uint8_t>(background.blue())}};
    std::int32_t at = 0;
    EXPECT_EQ(Store(store).setColourTheme(store, set, 0, name, 2, colours, &at), kOk);
    keys.push_back(Settings_ThemeKey(*set, static_cast<std::uint32_t>(at)));
  }
  EXPECT_EQ(Store(store).saveColourThemes(store, set, 1), kOk);
  return keys;
}

// The themes in the store's file, by name, in file order.
QStringList ThemeNames(EngineObject* store) {
  ColourPage page(nullptr, store, 0);
  QStringList names;
  for (int i = 1; i < page.list()->count(); ++i)
    names << page.list()->item(i)->text();
  return names;
}

class OptionsSheetTest : public ReaderTest {
 protected:
  void TearDown() override {
    if (store_ != nullptr) (void)Store(store_).closeStore(store_);
  }
  EngineObject* OpenStore() {
    std::uint32_t flags = 0;
    EXPECT_EQ(Store(g_SettingsModule).openStore(g_SettingsModule, &flags, &store_), kOk);
    return store_;
  }

  EngineObject* store_ = nullptr;
};

TEST_F(OptionsSheetTest, ViewSheetEndToEndAndReadBackAfterReopening) {
  std::string text;
  for (int i = 0; i < 60; ++i)
    text += "Line " + std::to_string(i) + " of a plain text document.\n";
  const QString path = QString::fromStdString(files_.File("book.txt"));
  WriteFileBytes(files_.File("book.txt"), text);

  // The document's settings are never kept until the sheet says otherwise.
  prefs_.setSaveMode(2);
  std::uint16_t themeKey = 0;
  QString faceChosen;
  {
    ReaderWindow frame(&settings_, &prefs_, &windowState_);
    frame.resize(700, 500);
    frame.show();
    ASSERT_TRUE(frame.OpenDocumentFile(path));
    Settle();
    KelpoView* view = frame.Views().value(0);
    ASSERT_NE(view, nullptr);
    const DocOpenState& state = view->document()->state();
    ASSERT_EQ(state.displayFlags, 2);
    ASSERT_FALSE(state.encodingGiven);

    bool ran = false;
    WhenModal<OptionsSheet>([&](OptionsSheet* sheet) {
      ran = true;
      EXPECT_EQ(sheet->tabs->count(), 6);
      EXPECT_EQ(sheet->tabs->currentIndex(), 0);
      EXPECT_TRUE(sheet->display->alsoDefaults->isVisibleTo(sheet));
      // Display: largest text, no layout at all, page numbers, UTF-8, and
      // the same for new documents.
      sheet->display->size->setCurrentIndex(0);
      sheet->display->layout->button(2)->click();
      sheet->display->location->button(1)->click();
      sheet->display->encoding->setCurrentIndex(sheet->display->encoding->findText("UTF-8"));
      sheet->display->alsoDefaults->setChecked(true);
      // Scroll: smooth autoscroll, cursor down a whole screen, the bar in
      // full screen.
      sheet->scroll->autoscroll->button(1)->click();
      sheet->scroll->keyDown->setCurrentIndex(3);
      sheet->scroll->fullScreenBar->setChecked(true);
      // Region: the top region does nothing, and its band is dragged down.
      sheet->tabs->setCurrentIndex(2);
      Settle();
      sheet->region->actions[0]->setCurrentIndex(3);
      RegionCtrl* regions = sheet->region->control;
      regions->grab();  // lays the bands out
      const int divider = RegionBands_Divider(regions->bands(), 0);
      QTest::mousePress(regions, Qt::LeftButton, {}, QPoint(40, divider));
      QTest::mouseMove(regions, QPoint(40, divider + regions->height() / 5));
      QTest::mouseRelease(regions, Qt::LeftButton, {}, QPoint(40, divider + regions->height() / 5));
      // Font: the monospace family gets the last face of the list.
      sheet->tabs->setCurrentIndex(3);
      sheet->font->ChooseFamily(3);
      sheet->font->ChooseFont(sheet->font->font->count() - 1);
      faceChosen = sheet->font->font->currentText();
      // Settings: always save, at most 500 KB.
      EXPECT_EQ(sheet->settings->mode->currentIndex(), 2);
      sheet->settings->mode->setCurrentIndex(0);
      sheet->settings->maxKB->setValue(500);
      // Color: a new theme, white on dark blue, made in the editor.
      sheet->tabs->setCurrentIndex(4);
      WhenModal<ThemeEditor>([](ThemeEditor* editor) {
        EXPECT_EQ(editor->nameEdit()->text(), QStringLiteral("New Color Theme 1"));
        editor->nameEdit()->setText(QStringLiteral("Night"));
        ChooseColour(Qt::white);
        editor->textButton()->click();
        ChooseColour(QColor(0, 0, 96));
        editor->backgroundButton()->click();
        EXPECT_EQ(editor->preview()->backgroundColor(), QColor(0, 0, 96));
        editor->accept();
      });
      sheet->colour->newButton()->click();
      EXPECT_EQ(sheet->colour->list()->currentItem()->text(), QStringLiteral("Night"));
      sheet->tabs->setCurrentIndex(5);
      sheet->buttons->button(QDialogButtonBox::Ok)->click();
    });
    ASSERT_TRUE(RunOptionsSheet(&frame, view));
    ASSERT_TRUE(ran);
    Settle();

    // The document and the program's preferences hold the new values.
    EXPECT_EQ(state.displayFlags, 0x00A0);
    EXPECT_EQ(state.locationFlags, 0x0013);
    EXPECT_EQ(state.encoding, 106u);
    EXPECT_NE(state.colourTheme, 0);
    themeKey = state.colourTheme;
    EXPECT_EQ(prefs_.defaultDisplayFlags(), 0x00A0);
    EXPECT_EQ(prefs_.defaultLocationFlags(), 0x0010);
    EXPECT_EQ(prefs_.defaultEncoding(), 106);
    EXPECT_EQ(prefs_.scrollFlags() & 2, 0);
    EXPECT_EQ(prefs_.keyDown(), 3);
    EXPECT_EQ(prefs_.regionAction(0), 3);
    EXPECT_GT(prefs_.regionPercent(0), 25);
    EXPECT_EQ(prefs_.regionPercent(0) + prefs_.regionPercent(1) + prefs_.regionPercent(2) +
                  prefs_.regionPercent(3),
              100);
    EXPECT_EQ(QString::fromStdU16String(prefs_.fontFace(4)), faceChosen);
    EXPECT_EQ(prefs_.saveMode(), 0);
    EXPECT_EQ(prefs_.localSettingsLimitKB(), 500);
    EXPECT_EQ(prefs_.lastOptionsPage(), 5);

    // The view shows the theme's background at once.
    const QImage* surface = WinDevice_Surface(view->device());
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->pixelColor(surface->width() * 3 / 4, surface->height() / 2),
              QColor(0, 0, 96));
    KeepPicture(frame.grab().toImage(), QStringLiteral("options_applied_to_view"));
  }
  ASSERT_TRUE(Prefs_SaveAll(settings_, &prefs_, windowState_));

  // The program again: its preferences and the document's settings.
  Preferences again;
  WindowState state2;
  QtSettingsStore settings2;
  Prefs_LoadAll(settings2, &again, &state2);
  EXPECT_EQ(again.defaultDisplayFlags(), 0x00A0);
  EXPECT_EQ(again.keyDown(), 3);
  EXPECT_EQ(again.regionAction(0), 3);
  EXPECT_EQ(again.saveMode(), 0);
  EXPECT_EQ(again.localSettingsLimitKB(), 500);
  EXPECT_EQ(QString::fromStdU16String(again.fontFace(4)), faceChosen);
  {
    ReaderWindow frame(&settings2, &again, &state2);
    frame.show();
    ASSERT_TRUE(frame.OpenDocumentFile(path));
    KelpoView* view = frame.Views().value(0);
    ASSERT_NE(view, nullptr);
    const DocOpenState& state = view->document()->state();
    EXPECT_EQ(state.displayFlags, 0x00A0);
    EXPECT_EQ(state.locationFlags, 0x0013);
    EXPECT_EQ(state.encoding, 106u);
    EXPECT_EQ(state.colourTheme, themeKey);
    // The document shows in its theme again.
    Settle();
    view->Render();
    const QImage* surface = WinDevice_Surface(view->device());
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->pixelColor(surface->width() * 3 / 4, surface->height() / 2),
              QColor(0, 0, 96));

    // The sheet opens on the page it was left on, showing what is stored.
    WhenModal<OptionsSheet>([&](OptionsSheet* sheet) {
      EXPECT_EQ(sheet->tabs->currentIndex(), 5);
      EXPECT_EQ(sheet->display->size->currentIndex(), 0);
      EXPECT_EQ(sheet->display->layout->checkedId(), 2);
      EXPECT_EQ(sheet->display->encoding->currentText(), QStringLiteral("UTF-8"));
      EXPECT_EQ(sheet->colour->list()->currentItem()->text(), QStringLiteral("Night"));
      EXPECT_EQ(sheet->settings->maxKB->value(), 500);
      sheet->settings->maxKB->setValue(9);
      sheet->buttons->button(QDialogButtonBox::Cancel)->click();
    });
    EXPECT_FALSE(RunOptionsSheet(&frame, view));
    EXPECT_EQ(again.localSettingsLimitKB(), 500);  // Cancel keeps everything
  }
}

TEST_F(OptionsSheetTest, TheOptionsCommandRunsTheSheet) {
  WriteFileBytes(files_.File("notes.txt"), "Notes in plain text.\n");
  ReaderWindow frame(&settings_, &prefs_, &windowState_);
  frame.show();
  ASSERT_TRUE(frame.OpenDocumentFile(QString::fromStdString(files_.File("notes.txt"))));
  KelpoView* view = frame.Views().value(0);
  ASSERT_NE(view, nullptr);
  // From the view: the sheet with the colour page, on the document.
  WhenModal<OptionsSheet>([](OptionsSheet* sheet) {
    EXPECT_NE(sheet->colour, nullptr);
    sheet->display->alignment->button(1)->click();
    sheet->accept();
  });
  frame.RunCommand(Cmd::Options);
  EXPECT_EQ(view->document()->state().displayFlags, 0x0042);
  // From the window once no document is open: the preferences' defaults.
  frame.area()->closeAllSubWindows();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(frame.Views().isEmpty());
  WhenModal<OptionsSheet>([](OptionsSheet* sheet) {
    EXPECT_EQ(sheet->colour, nullptr);
    sheet->display->size->setCurrentIndex(4);
    sheet->accept();
  });
  frame.RunCommand(Cmd::Options);
  EXPECT_EQ(prefs_.defaultDisplayFlags(), 0x0004);
}

TEST_F(OptionsSheetTest, FrameSheetWritesThePreferencesDefaults) {
  prefs_.setLastOptionsPage(4);  // the colour page, which this sheet lacks
  OpenStore();
  bool ran = false;
  WhenModal<OptionsSheet>([&](OptionsSheet* sheet) {
    ran = true;
    EXPECT_EQ(sheet->tabs->count(), 5);
    EXPECT_EQ(sheet->colour, nullptr);
    EXPECT_EQ(sheet->tabs->currentWidget(), sheet->settings);
    EXPECT_FALSE(sheet->display->alsoDefaults->isVisibleTo(sheet));
    EXPECT_EQ(sheet->display->encoding->currentText(), QStringLiteral("windows-1252"));
    sheet->display->bold->setChecked(true);
    sheet->display->location->button(2)->click();
    sheet->display->encoding->setCurrentIndex(sheet->display->encoding->findText("UTF-8"));
    sheet->scroll->fullScreenBar->setChecked(true);
    sheet->settings->mode->setCurrentIndex(2);
    sheet->buttons->button(QDialogButtonBox::Ok)->click();
  });
  ASSERT_TRUE(RunOptionsSheet(nullptr, &prefs_, store_, nullptr));
  ASSERT_TRUE(ran);
  EXPECT_EQ(prefs_.defaultDisplayFlags(), 0x0012);
  EXPECT_EQ(prefs_.defaultLocationFlags(), 0x0023);
  EXPECT_EQ(prefs_.defaultEncoding(), 2252);  // without a document it is not stored
  EXPECT_EQ(prefs_.saveMode(), 2);
  EXPECT_EQ(prefs_.lastOptionsPage(), 5);  // Settings, as the full sheet counts it

  // A stored page beyond the last opens the last one and is kept as it.
  prefs_.setLastOptionsPage(200);
  WhenModal<OptionsSheet>([](OptionsSheet* sheet) {
    EXPECT_EQ(sheet->tabs->currentWidget(), sheet->settings);
    sheet->reject();
  });
  EXPECT_FALSE(RunOptionsSheet(nullptr, &prefs_, store_, nullptr));
  EXPECT_EQ(prefs_.lastOptionsPage(), 5);
}

TEST_F(OptionsSheetTest, ColourPageEditNewDeleteAndWhatOkWrites) {
  EngineObject* store = OpenStore();
  const std::vector<std::uint16_t> keys =
      AddThemes(store, {{u"Day", QColor(255, 255, 224)}, {u"Dusk", QColor(64, 64, 96)}});
  const std::uint16_t dusk = keys[1];

  {
    // The document's theme is selected; Edit on "none" cannot be done.
    ColourPage page(nullptr, store, dusk);
    ASSERT_EQ(page.list()->count(), 3);
    EXPECT_EQ(page.list()->currentItem()->text(), QStringLiteral("Dusk"));
    page.list()->setCurrentRow(0);
    QString said;
    AnswerBox(QMessageBox::Ok, &said);
    page.Edit();
    EXPECT_EQ(said, QStringLiteral("That color theme can not be modified."));

    // Renaming Dusk to a taken name (in other letter case) says so and
    // opens the editor again; the second name is taken.
    page.list()->setCurrentRow(2);
    WhenModal<ThemeEditor>([&](ThemeEditor* editor) {
      editor->nameEdit()->setText(QStringLiteral("DAY"));
      AnswerBox(QMessageBox::Ok, &said);
      WhenModal<ThemeEditor>([](ThemeEditor* again) {
        EXPECT_EQ(again->nameEdit()->text(), QStringLiteral("DAY"));
        again->nameEdit()->setText(QStringLiteral("Evening"));
        again->accept();
      });
      editor->accept();
    });
    page.Edit();
    EXPECT_EQ(said, QStringLiteral("A color theme named \"DAY\" already exists."));
    EXPECT_EQ(page.list()->currentItem()->text(), QStringLiteral("Evening"));
    EXPECT_TRUE(page.changed());  // the document's theme changed its looks

    // An empty name after New changes nothing.
    WhenModal<ThemeEditor>([](ThemeEditor* editor) {
      EXPECT_EQ(editor->nameEdit()->text(), QStringLiteral("New Color Theme 1"));
      editor->nameEdit()->clear();
      editor->accept();
    });
    page.New();
    EXPECT_EQ(page.list()->count(), 3);
    // Cancel (the page goes without its OK): the file stays as it was.
  }
  EXPECT_EQ(ThemeNames(store), (QStringList{"Day", "Dusk"}));

  {
    // Deleting the document's own theme changes the choice; OK writes.
    ColourPage page(nullptr, store, dusk);
    page.list()->setCurrentRow(2);
    QString asked;
    AnswerBox(QMessageBox::Yes, &asked);
    page.Delete();
    EXPECT_EQ(asked, QStringLiteral("Are you sure you want to delete the \"Dusk\" color theme?"));
    EXPECT_EQ(page.list()->count(), 2);
    EXPECT_EQ(page.list()->currentRow(), 1);  // the last went: the one before
    EXPECT_TRUE(page.changed());
    // Answering No to a delete keeps the theme.
    AnswerBox(QMessageBox::No);
    page.Delete();
    EXPECT_EQ(page.list()->count(), 2);
    page.list()->setCurrentRow(0);
    page.Accept();
    EXPECT_EQ(page.chosenKey(), 0);
  }
  EXPECT_EQ(ThemeNames(store), (QStringList{"Day"}));

  {
    // Only the document's choice of another theme counts as a change.
    ColourPage page(nullptr, store, keys[0]);
    EXPECT_EQ(page.list()->currentRow(), 1);
    page.Accept();
    EXPECT_FALSE(page.changed());
    EXPECT_EQ(page.chosenKey(), keys[0]);
  }
  {
    // A key with bit 15 set selects the item it numbers.
    ColourPage page(nullptr, store, 0x8001);
    EXPECT_EQ(page.list()->currentRow(), 1);
    ColourPage unknown(nullptr, store, 0x1234);
    EXPECT_EQ(unknown.list()->currentRow(), 0);
  }
}

TEST_F(OptionsSheetTest, AnEditTheStoreRefusesKeepsTheTheme) {
  // A theme file just over its size limit: "A" and 433 themes with names of
  // 31 characters (8 + 14 + 433 x 74 = 32064 bytes). Renaming "A" would
  // first take it out (32050 bytes, still over) and then be refused.
  EngineObject* store = OpenStore();
  ColourThemeSet* set = nullptr;
  ASSERT_EQ(Store(store).getColourThemes(store, &set), kOk);
  const ThemeColour colours[2] = {{1, 0, 0, 0}, {2, 250, 250, 250}};
  std::int32_t at = 0;
  ASSERT_EQ(Store(store).setColourTheme(store, set, 0, u"A", 2, colours, &at), kOk);
  for (int i = 0; i < 433; ++i) {
    const std::u16string name = QStringLiteral("Theme %1")
                                    .arg(i, 4, 10, QLatin1Char('0'))
                                    .leftJustified(31, 'x')
                                    .toStdU16String();
    ASSERT_EQ(Store(store).setColourTheme(store, set, 0, name.c_str(), 2, colours, &at), kOk) << i;
  }
  ASSERT_EQ(set->image.Size(), 32064u);
  ASSERT_EQ(Store(store).saveColourThemes(store, set, 1), kOk);

  ColourPage page(nullptr, store, 0);
  ASSERT_EQ(page.list()->count(), 435);
  page.list()->setCurrentRow(1);
  ASSERT_EQ(page.list()->currentItem()->text(), QStringLiteral("A"));
  QString said;
  WhenModal<ThemeEditor>([&](ThemeEditor* editor) {
    editor->nameEdit()->setText(QStringLiteral("B"));
    AnswerBox(QMessageBox::Ok, &said);
    editor->accept();
  });
  page.Edit();
  EXPECT_EQ(said, QStringLiteral("The color theme could not be changed."));
  EXPECT_EQ(page.list()->item(1)->text(), QStringLiteral("A"));
  EXPECT_EQ(page.list()->count(), 435);
  page.list()->setCurrentRow(0);  // the document keeps no theme
  page.Accept();
  EXPECT_FALSE(page.changed());
  EXPECT_EQ(ThemeNames(store).value(0), QStringLiteral("A"));

  // New on the full file: refused for its size, not its name, so the
  // editor does not come back.
  ColourPage again(nullptr, store, 0);
  WhenModal<ThemeEditor>([&](ThemeEditor* editor) {
    EXPECT_EQ(editor->nameEdit()->text(), QStringLiteral("New Color Theme 1"));
    AnswerBox(QMessageBox::Ok, &said);
    editor->accept();
  });
  again.New();
  EXPECT_EQ(said, QStringLiteral("The color theme could not be added."));
  EXPECT_EQ(again.list()->count(), 435);
}

TEST_F(OptionsSheetTest, ADamagedThemeFileIsNeverWrittenOverByOk) {
  EngineObject* store = OpenStore();
  const std::string clr = data_.Path() + "/Kelpo/Kelpo/Settings/_Reg_/clr";
  const std::string damaged("\x40\x00\x03\x00garbage that is no theme file", 33);
  WriteFileBytes(clr, damaged);
  {
    // The damaged file reads as no themes; confirming the page without a
    // change leaves the file as it is.
    ColourPage page(nullptr, store, 0);
    EXPECT_EQ(page.list()->count(), 1);
    page.Accept();
    EXPECT_FALSE(page.changed());
  }
  EXPECT_EQ(ReadFileBytes(clr), damaged);
  {
    // A theme file that is there but cannot be read (a folder in its place)
    // offers no themes and nothing to add to; OK writes nothing over it.
    ASSERT_EQ(std::rename(clr.c_str(), (clr + ".kept").c_str()), 0);
    ASSERT_EQ(::mkdir(clr.c_str(), 0755), 0);
    ColourPage page(nullptr, store, 0);
    EXPECT_EQ(page.list()->count(), 1);
    auto editorCame = std::make_shared<bool>(false);
    QTimer::singleShot(50, [editorCame] {
      if (auto* editor = dynamic_cast<ThemeEditor*>(QApplication::activeModalWidget())) {
        *editorCame = true;
        editor->reject();
      }
    });
    page.New();
    EXPECT_FALSE(*editorCame);
    page.Accept();
    struct stat info {};
    ASSERT_EQ(::stat(clr.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    ASSERT_EQ(::rmdir(clr.c_str()), 0);
    ASSERT_EQ(std::rename((clr + ".kept").c_str(), clr.c_str()), 0);
  }
  EXPECT_EQ(ReadFileBytes(clr), damaged);
}

TEST_F(OptionsSheetTest, MaximumSizeTakesFourDigitsAndStaysInRange) {
  SettingsPage page(nullptr);
  OptionsValues v;
  v.maxKB = 9998;
  page.Load(v);
  page.show();
  page.maxKB->setFocus();
  QTest::keyClick(page.maxKB, Qt::Key_Up);
  QTest::keyClick(page.maxKB, Qt::Key_Up);
  EXPECT_EQ(page.maxKB->value(), 9999);  // up counts up, and stops at 9999
  page.maxKB->selectAll();
  QTest::keyClicks(page.maxKB, QStringLiteral("12345"));
  EXPECT_EQ(page.maxKB->text(), QStringLiteral("1234"));
  page.maxKB->setValue(0);
  QTest::keyClick(page.maxKB, Qt::Key_Down);
  OptionsValues out;
  page.Store(&out);
  EXPECT_EQ(out.maxKB, 0);
}

TEST_F(OptionsSheetTest, RegionControlDragsUnderTheMouse) {
  RegionCtrl control;
  control.resize(120, 205);
  control.SetRegionPercents({25, 25, 25, 25});
  control.show();
  Settle();
  control.grab();  // lays the bands out
  ASSERT_FALSE(control.bands().needsLayout);
  const int divider = RegionBands_Divider(control.bands(), 1);

  // Released inside: the split follows the pointer, as far as the band
  // below keeps the height of the control's text.
  QTest::mousePress(&control, Qt::LeftButton, {}, QPoint(60, divider + 3));
  EXPECT_TRUE(control.dragging());
  QTest::mouseMove(&control, QPoint(60, divider + 40));
  // The two bands being dragged are hatched.
  const QImage picture = control.grab().toImage();
  KeepPicture(picture, QStringLiteral("tap_region_dragging"));
  const QColor face = control.palette().color(QPalette::Button);
  auto hatched = [&](int band) {
    const QRect r(1, RegionBands_Top(control.bands(), band), 20, 6);
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        if (picture.pixelColor(x, y) != face) return true;
    return false;
  };
  EXPECT_FALSE(hatched(0));
  EXPECT_TRUE(hatched(1));
  EXPECT_TRUE(hatched(2));
  QTest::mouseRelease(&control, Qt::LeftButton, {}, QPoint(60, divider + 40));
  EXPECT_FALSE(control.dragging());
  EXPECT_EQ(control.bands().height[2], control.fontMetrics().height());
  const std::array<int, 4> dragged = control.GetRegionPercents();
  EXPECT_EQ(dragged[0], 25);
  EXPECT_EQ(dragged[3], 25);
  EXPECT_EQ(dragged[2], 75 - ((150 - control.fontMetrics().height()) * 100 + 100) / 200);
  EXPECT_EQ(dragged[1], 50 - dragged[2]);

  // Released outside: nothing changes.
  const int again = RegionBands_Divider(control.bands(), 0);
  QTest::mousePress(&control, Qt::LeftButton, {}, QPoint(60, again));
  QTest::mouseMove(&control, QPoint(60, again + 20));
  QTest::mouseRelease(&control, Qt::LeftButton, {}, QPoint(60, 400));
  EXPECT_EQ(control.GetRegionPercents(), dragged);

  // A press away from the dividers starts nothing.
  QTest::mousePress(&control, Qt::LeftButton, {}, QPoint(60, 20));
  EXPECT_FALSE(control.dragging());
  QTest::mouseRelease(&control, Qt::LeftButton, {}, QPoint(60, 20));
}

TEST_F(OptionsSheetTest, FontPageFollowsFamiliesAndPreview) {
  OptionsValues v;
  v.faces = {u"DejaVu Sans", u"DejaVu Serif", u"No Such Face", u"DejaVu Sans Mono"};
  FontPage page(nullptr);
  page.Load(v);
  EXPECT_EQ(page.font->currentText(), QStringLiteral("DejaVu Sans"));
  EXPECT_EQ(page.size->currentText(), QStringLiteral("12"));
  EXPECT_EQ(page.preview->sampleText(), QStringLiteral("DejaVu Sans"));
  EXPECT_EQ(page.font->findText(QStringLiteral("@DejaVu Sans")), -1);

  // A family whose face is not installed selects no face: "unspecified".
  page.ChooseFamily(2);
  EXPECT_EQ(page.font->currentIndex(), -1);
  EXPECT_EQ(page.preview->sampleText(), QStringLiteral("unspecified"));
  // Choosing a face gives it to the family; size, bold and italic only
  // change the preview.
  page.ChooseFont(page.font->findText(QStringLiteral("DejaVu Serif")));
  page.size->setCurrentIndex(page.size->findText("36"));
  page.bold->setChecked(true);
  page.italic->setChecked(true);
  EXPECT_EQ(page.preview->sampleText(), QStringLiteral("DejaVu Serif"));
  EXPECT_TRUE(page.preview->previewFont().bold());
  EXPECT_TRUE(page.preview->previewFont().italic());
  OptionsValues out = v;
  page.Store(&out);
  EXPECT_EQ(out.faces[2], u"DejaVu Serif");
  EXPECT_EQ(out.faces[0], u"DejaVu Sans");
  page.ChooseFamily(3);
  EXPECT_EQ(page.font->currentText(), QStringLiteral("DejaVu Sans Mono"));
}

TEST_F(OptionsSheetTest, EncodingListFollowsTheDocument) {
  DisplayPage page(nullptr);
  OptionsValues v;
  v.encodingFixed = true;
  v.encoding = 17;
  page.Load(v);
  ASSERT_EQ(page.encoding->count(), 1);
  EXPECT_EQ(page.encoding->currentText(), QStringLiteral("Specified by document"));
  OptionsValues out;
  page.Store(&out);
  EXPECT_EQ(out.encoding, 17u);

  v.encodingFixed = false;
  v.encoding = 2251;
  page.Load(v);
  EXPECT_EQ(page.encoding->count(), 18);
  EXPECT_EQ(page.encoding->currentData().toUInt(), 2251u);
  // A charset that is not offered: the first item.
  v.encoding = 9999;
  page.Load(v);
  EXPECT_EQ(page.encoding->currentIndex(), 0);
}

TEST_F(OptionsSheetTest, PicturesOfEveryPageAndTheThemeEditor) {
  EngineObject* store = OpenStore();
  const std::vector<std::uint16_t> keys = AddThemes(store, {{u"Paper", QColor(255, 250, 230)},
                                                            {u"Slate", QColor(40, 44, 52)},
                                                            {u"Sea", QColor(200, 230, 250)}});
  OptionsValues v;
  Options_CopyIn(prefs_, Options_FrameDocument(prefs_), false, &v);
  v.regionPercent = {10, 40, 40, 10};
  v.faces[0] = u"DejaVu Serif";
  OptionsSheet sheet(nullptr, store, true, keys[1]);
  sheet.Load(v);
  sheet.resize(560, 460);
  sheet.show();
  const char* names[] = {"display", "scroll", "region", "font", "color", "settings"};
  for (int i = 0; i < sheet.tabs->count(); ++i) {
    sheet.tabs->setCurrentIndex(i);
    Settle();
    const QImage picture = sheet.grab().toImage();
    KeepPicture(picture, QStringLiteral("options_page_") + names[i]);
  }
  // The colour page draws each theme on its own background.
  sheet.tabs->setCurrentIndex(4);
  Settle();
  // Themes are listed by name: Paper, Sea, Slate; Slate is selected.
  QListWidget* list = sheet.colour->list();
  ASSERT_EQ(list->currentRow(), 3);
  const QImage listPicture = list->viewport()->grab().toImage();
  const QRect sea = list->visualItemRect(list->item(2));
  EXPECT_EQ(listPicture.pixelColor(sea.center().x(), sea.top() + 3), QColor(200, 230, 250));
  const QRect slate = list->visualItemRect(list->item(3));
  EXPECT_EQ(listPicture.pixelColor(slate.right() - 20, slate.top() + 3), QColor(40, 44, 52));
  // The selected theme's side bars in its text colour.
  EXPECT_EQ(listPicture.pixelColor(slate.left() + 3, slate.center().y()), QColor(0, 0, 0));

  ThemeEditor editor(nullptr, {QStringLiteral("Slate"), QColor(230, 230, 230), QColor(40, 44, 52)});
  editor.show();
  Settle();
  const QImage picture = editor.grab().toImage();
  KeepPicture(picture, QStringLiteral("theme_editor"));
  const QPoint inside = editor.preview()->mapTo(&editor, QPoint(4, 4));
  EXPECT_EQ(picture.pixelColor(inside * picture.devicePixelRatio()), QColor(40, 44, 52));
  sheet.reject();
}

}  // namespace
