// The category dialogs driven headless through their buttons and message
// boxes: a document's categories made, ticked, stored in ascending order and
// found ticked again after the program starts afresh; rename moving an item
// with its sub-categories and ticks; the name checks and their messages;
// delete purging the document's list; names cut at character boundaries;
// and the categorised open listing, sorting and opening a document, with the
// category it showed last remembered.
#include "app/dialogs/category_dialogs.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <string>
#include <vector>

#include "app/core/doc_open.h"
#include "app/core/strings.h"
#include "app/program/reader_dialogs.h"
#include "app/window/kelpo_view.h"
#include "app/window/main_frame.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/dict.h"
#include "engine/runtime/file_sys.h"
#include "tests/app/qt/modal_script.h"
#include "tests/app/qt/reader_fixture.h"

namespace {

using modal_script::AnswerMessage;
using modal_script::WhenModal;

QString Text(std::uint32_t id) {
  return QString::fromUtf8(Resource_String(id));
}

class CategoryDialogsTest : public ReaderTest {
 protected:
  void TearDown() override { modal_script::CancelPending(); }
  // Opens the document of the test's folder and answers its view, found by
  // its window's title among the open ones.
  KelpoView* Open(MainFrame& frame, const std::string& name) {
    const QString path = QString::fromStdString(files_.File(name));
    EXPECT_TRUE(frame.OpenDocumentFile(path));
    for (KelpoView* view : frame.Views())
      if (view->parentWidget()->windowTitle() == QString::fromStdString(name)) return view;
    ADD_FAILURE() << "no view of " << name;
    return nullptr;
  }
  static EngineObject* Dictionary(MainFrame& frame) {
    EngineObject* dict = nullptr;
    EXPECT_EQ(OpsOf<SettingsOps>(frame.store()).getCategorySet(frame.store(), &dict), kOk);
    return dict;
  }
  // The id of a category path, or 0xFFFF when there is none.
  static std::uint16_t IdOf(MainFrame& frame, const std::u16string& path) {
    std::uint16_t id = kDictNone;
    if (Dict_AddPath(Dictionary(frame), nullptr, path.c_str(),
                     static_cast<std::uint32_t>(path.size()), 0, 0, &id) != kOk)
      return kDictNone;
    return id;
  }
  // The stored categories of a document, as ids in stored order.
  static std::vector<std::uint16_t> StoredIds(EngineObject* store, const char16_t* settingsPath) {
    std::uint16_t* list = nullptr;
    EXPECT_EQ(OpsOf<SettingsOps>(store).getDocumentCategories(store, settingsPath, &list), kOk);
    std::vector<std::uint16_t> ids;
    if (list != nullptr) ids.assign(list + 1, list + 1 + list[0]);
    Engine_Free(list);
    return ids;
  }
  static std::vector<std::uint16_t> StoredIds(KelpoView* view) {
    KelpoDoc* doc = view->document();
    return StoredIds(doc->context().store, doc->state().localSettings.path);
  }
  static QTreeWidgetItem* Item(QTreeWidget* tree, const QString& name) {
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it)
      if ((*it)->text(0) == name) return *it;
    ADD_FAILURE() << "no item " << name.toStdString();
    return nullptr;
  }
  static QStringList Children(QTreeWidgetItem* item) {
    QStringList names;
    for (int i = 0; i < item->childCount(); ++i)
      names << item->child(i)->text(0);
    return names;
  }
  static QStringList Checked(QTreeWidget* tree) {
    QStringList names;
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it)
      if ((*it)->checkState(0) == Qt::Checked) names << (*it)->text(0);
    return names;
  }
};

TEST_F(CategoryDialogsTest, TickedCategoriesAreStoredAscendingAndShownAgainAfterARestart) {
  WriteFileBytes(files_.File("book.txt"), "A book to file under some categories.\n");
  std::vector<std::uint16_t> stored;
  {
    auto frame = NewWindow();
    KelpoView* view = Open(*frame, "book.txt");
    ASSERT_NE(view, nullptr);
    bool ran = false;
    WhenModal<CCategoriesDlg>([&](CCategoriesDlg* dlg) {
      ran = true;
      // The first start's categories.
      EXPECT_NE(Item(dlg->tree(), "Business"), nullptr);
      EXPECT_NE(Item(dlg->tree(), "Personal"), nullptr);
      EXPECT_TRUE(Checked(dlg->tree()).isEmpty());

      // New at the top with nothing selected: no sub-category on offer.
      dlg->tree()->setCurrentItem(nullptr);
      WhenModal<CNewCategoryDlg>([](CNewCategoryDlg* d) {
        EXPECT_FALSE(d->subCategoryCheck()->isEnabled());
        QTest::keyClicks(d->nameEdit(), "Travel");
        d->accept();
      });
      dlg->newButton()->click();
      QTreeWidgetItem* travel = Item(dlg->tree(), "Travel");
      ASSERT_NE(travel, nullptr);
      EXPECT_EQ(travel->parent(), nullptr);
      EXPECT_EQ(dlg->tree()->currentItem(), travel);

      // A sub-category of the selected one.
      WhenModal<CNewCategoryDlg>([](CNewCategoryDlg* d) {
        EXPECT_TRUE(d->subCategoryCheck()->isEnabled());
        QTest::keyClicks(d->nameEdit(), "Maps");
        d->subCategoryCheck()->setChecked(true);
        KeepPicture(d, "new_category_dialog");
        d->accept();
      });
      dlg->newButton()->click();
      QTreeWidgetItem* maps = Item(dlg->tree(), "Maps");
      ASSERT_NE(maps, nullptr);
      EXPECT_EQ(maps->parent(), travel);
      EXPECT_EQ(maps->checkState(0), Qt::Unchecked);

      // A name a sibling has is refused with its message.
      WhenModal<CNewCategoryDlg>([](CNewCategoryDlg* d) {
        QTest::keyClicks(d->nameEdit(), "Maps");
        d->subCategoryCheck()->setChecked(false);  // beside the selected Maps
        AnswerMessage(Text(StringId::CategoryExists).replace("%s", "Maps"), QMessageBox::Ok,
                      QMessageBox::Warning);
        d->accept();
      });
      dlg->newButton()->click();
      EXPECT_EQ(Children(travel), QStringList{"Maps"});

      // Ticked in an order unlike their ids' (Personal stands above
      // Business but was made after it).
      maps->setCheckState(0, Qt::Checked);
      Item(dlg->tree(), "Personal")->setCheckState(0, Qt::Checked);
      Item(dlg->tree(), "Business")->setCheckState(0, Qt::Checked);
      KeepPicture(dlg, "categories_dialog");
      dlg->okButton()->click();
      // The list for the caller is in stored (ascending) order, not the
      // tree's.
      ASSERT_TRUE(dlg->result().has_value());
      const std::vector<std::uint16_t>& result = *dlg->result();
      EXPECT_EQ(result.size(), 4u);
      EXPECT_EQ(result[0], 3);
      EXPECT_TRUE(std::is_sorted(result.begin() + 1, result.end()));
    });
    RunCategoriesDialog(view);
    ASSERT_TRUE(ran);
    stored = StoredIds(view);
    const std::uint16_t business = IdOf(*frame, u"Business"), maps = IdOf(*frame, u"Travel/Maps"),
                        personal = IdOf(*frame, u"Personal");
    ASSERT_NE(maps, kDictNone);
    std::vector<std::uint16_t> want{business, maps, personal};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(stored, want);  // ascending, whatever the tree's order
  }

  // The program starts afresh: the categories and the ticks are back.
  auto frame = NewWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(StoredIds(view), stored);
  bool ran = false;
  WhenModal<CCategoriesDlg>([&](CCategoriesDlg* dlg) {
    ran = true;
    EXPECT_EQ(Checked(dlg->tree()), (QStringList{"Personal", "Business", "Maps"}));
    EXPECT_EQ(Item(dlg->tree(), "Maps")->parent(), Item(dlg->tree(), "Travel"));
    // Ticking and unticking back to the starting set writes nothing.
    Item(dlg->tree(), "Travel")->setCheckState(0, Qt::Checked);
    Item(dlg->tree(), "Travel")->setCheckState(0, Qt::Unchecked);
    dlg->okButton()->click();
    EXPECT_EQ(dlg->result(), std::nullopt);
  });
  RunCategoriesDialog(frame.get());  // the active window's document
  EXPECT_TRUE(ran);
  EXPECT_EQ(StoredIds(view), stored);

  // Unticking everything deletes the list.
  WhenModal<CCategoriesDlg>([&](CCategoriesDlg* dlg) {
    for (QTreeWidgetItemIterator it(dlg->tree()); *it != nullptr; ++it)
      (*it)->setCheckState(0, Qt::Unchecked);
    dlg->okButton()->click();
  });
  RunCategoriesDialog(view);
  EXPECT_TRUE(StoredIds(view).empty());
}

TEST_F(CategoryDialogsTest, RenameMovesTheItemWithItsTicksAndDeletePurgesTheDocumentsList) {
  WriteFileBytes(files_.File("book.txt"), "A book.\n");
  auto frame = NewWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  EngineObject* dict = Dictionary(*frame);
  for (const char16_t* path : {u"Fiction/Alpha", u"Fiction/Beta/Deep", u"Fiction/Gamma"}) {
    std::uint16_t id = 0;
    ASSERT_FALSE(IsFailure(Dict_AddPath(dict, nullptr, path, 0, 1, kDictInsertSorted, &id)));
  }
  const std::uint16_t beta = IdOf(*frame, u"Fiction/Beta"),
                      deep = IdOf(*frame, u"Fiction/Beta/Deep"),
                      gamma = IdOf(*frame, u"Fiction/Gamma");
  std::vector<std::uint16_t> start{beta, deep};
  std::sort(start.begin(), start.end());
  std::vector<std::uint16_t> list{2, start[0], start[1]};
  KelpoDoc* doc = view->document();
  ASSERT_EQ(
      OpsOf<SettingsOps>(frame->store())
          .setDocumentCategories(frame->store(), doc->state().localSettings.path, list.data()),
      kOk);

  bool ran = false;
  WhenModal<CCategoriesDlg>([&](CCategoriesDlg* dlg) {
    ran = true;
    QTreeWidget* tree = dlg->tree();
    EXPECT_EQ(Checked(tree), (QStringList{"Beta", "Deep"}));
    // Rename and Delete need a selection.
    tree->setCurrentItem(nullptr);
    AnswerMessage(Text(StringId::CategoryNoSelection), QMessageBox::Ok, QMessageBox::Warning);
    dlg->renameButton()->click();
    AnswerMessage(Text(StringId::CategoryNoSelection), QMessageBox::Ok, QMessageBox::Warning);
    dlg->deleteButton()->click();

    // A tick changed in this dialog before the move.
    Item(tree, "Deep")->setCheckState(0, Qt::Unchecked);
    Item(tree, "Gamma")->setCheckState(0, Qt::Checked);
    tree->setCurrentItem(Item(tree, "Beta"));
    // A slash is refused and the dialog comes back; a sibling's name is
    // refused; then the middle one of three siblings is renamed past the
    // others.
    WhenModal<CRenameCategoryDlg>([](CRenameCategoryDlg* d) {
      EXPECT_EQ(d->name(), "Beta");
      d->setName("Be/ta");
      AnswerMessage(Text(StringId::CategorySlash), QMessageBox::Ok, QMessageBox::Critical);
      WhenModal<CRenameCategoryDlg>([](CRenameCategoryDlg* again) {
        EXPECT_EQ(again->name(), "Be/ta");
        again->setName("Alpha");
        AnswerMessage(Text(StringId::CategoryExists).replace("%s", "Alpha"), QMessageBox::Ok,
                      QMessageBox::Warning);
        again->accept();
      });
      d->accept();
    });
    dlg->renameButton()->click();
    EXPECT_EQ(Children(Item(tree, "Fiction")), (QStringList{"Alpha", "Beta", "Gamma"}));

    WhenModal<CRenameCategoryDlg>([](CRenameCategoryDlg* d) {
      d->setName("Zeta");
      KeepPicture(d, "rename_category_dialog");
      d->accept();
    });
    dlg->renameButton()->click();
    QTreeWidgetItem* zeta = Item(tree, "Zeta");
    ASSERT_NE(zeta, nullptr);
    EXPECT_EQ(Children(Item(tree, "Fiction")), (QStringList{"Alpha", "Gamma", "Zeta"}));
    EXPECT_EQ(Children(zeta), QStringList{"Deep"});
    EXPECT_EQ(tree->currentItem(), zeta);
    EXPECT_EQ(Checked(tree), (QStringList{"Gamma", "Zeta"}));  // the ticks went along
    KeepPicture(dlg, "categories_after_rename");

    // Delete asks with the name; No keeps it, Yes removes it with its
    // sub-categories.
    AnswerMessage(Text(StringId::CategoryAskDelete).replace("%s", "Zeta"), QMessageBox::No,
                  QMessageBox::Question);
    dlg->deleteButton()->click();
    EXPECT_EQ(Children(Item(tree, "Fiction")), (QStringList{"Alpha", "Gamma", "Zeta"}));
    AnswerMessage(Text(StringId::CategoryAskDelete).replace("%s", "Zeta"), QMessageBox::Yes,
                  QMessageBox::Question);
    dlg->deleteButton()->click();
    EXPECT_EQ(Children(Item(tree, "Fiction")), (QStringList{"Alpha", "Gamma"}));
    dlg->okButton()->click();
  });
  RunCategoriesDialog(view);
  ASSERT_TRUE(ran);
  EXPECT_EQ(StoredIds(view), std::vector<std::uint16_t>{gamma});

  // After a restart the dictionary has the rename and the deletion.
  frame.reset();
  frame = NewWindow();
  EXPECT_EQ(IdOf(*frame, u"Fiction/Beta"), kDictNone);
  EXPECT_EQ(IdOf(*frame, u"Fiction/Zeta"), kDictNone);
  EXPECT_EQ(IdOf(*frame, u"Fiction/Zeta/Deep"), kDictNone);
  EXPECT_EQ(IdOf(*frame, u"Fiction/Gamma"), gamma);
}

TEST_F(CategoryDialogsTest, CancelKeepsCategoryEditsButWritesNoTicks) {
  WriteFileBytes(files_.File("book.txt"), "A book.\n");
  {
    auto frame = NewWindow();
    KelpoView* view = Open(*frame, "book.txt");
    ASSERT_NE(view, nullptr);
    WhenModal<CCategoriesDlg>([&](CCategoriesDlg* dlg) {
      WhenModal<CNewCategoryDlg>([](CNewCategoryDlg* d) {
        QTest::keyClicks(d->nameEdit(), "Kept");
        d->accept();
      });
      dlg->newButton()->click();
      Item(dlg->tree(), "Kept")->setCheckState(0, Qt::Checked);
      dlg->reject();
    });
    RunCategoriesDialog(view);
    EXPECT_TRUE(StoredIds(view).empty());
  }
  auto frame = NewWindow();
  EXPECT_NE(IdOf(*frame, u"Kept"), kDictNone);
}

TEST_F(CategoryDialogsTest, ATreeThatCannotBeShownWholeLeavesTheDocumentsListAlone) {
  WriteFileBytes(files_.File("book.txt"), "A book.\n");
  auto frame = NewWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  const std::uint16_t business = IdOf(*frame, u"Business");
  std::vector<std::uint16_t> list{1, business};
  ASSERT_EQ(OpsOf<SettingsOps>(frame->store())
                .setDocumentCategories(frame->store(), view->document()->state().localSettings.path,
                                       list.data()),
            kOk);
  // A chain of categories one level deeper than the tree goes (levels 0-32).
  std::uint16_t parent = kDictNone;
  for (int level = 0; level <= 32; ++level) {
    std::uint16_t id = kDictNone;
    ASSERT_FALSE(IsFailure(Dict_AddChild(Dictionary(*frame), "deep", nullptr, parent,
                                         level == 0 ? 0u : std::uint32_t{kDictInsertUnder}, &id)));
    parent = id;
  }
  bool ran = false;
  WhenModal<CCategoriesDlg>([&](CCategoriesDlg* dlg) {
    ran = true;
    EXPECT_EQ(dlg->tree()->topLevelItemCount(), 0);
    dlg->okButton()->click();
    EXPECT_EQ(dlg->result(), std::nullopt);
  });
  RunCategoriesDialog(view);
  EXPECT_TRUE(ran);
  EXPECT_EQ(StoredIds(view), std::vector<std::uint16_t>{business});
}

TEST_F(CategoryDialogsTest, ALongNameBringsUpTheHorizontalScrollBar) {
  auto frame = NewWindow();
  CCategoriesDlg shortNames(frame->store(), nullptr, nullptr);
  shortNames.show();
  QApplication::processEvents();
  EXPECT_EQ(shortNames.tree()->horizontalScrollBar()->maximum(), 0);

  // A category named by a document can be longer than a typed one.
  const std::u16string longName = u"Deep/" + std::u16string(120, u'w');
  std::uint16_t id = 0;
  ASSERT_FALSE(IsFailure(
      Dict_AddPath(Dictionary(*frame), nullptr, longName.c_str(), 0, 1, kDictInsertSorted, &id)));
  CCategoriesDlg dialog(frame->store(), nullptr, nullptr);
  dialog.show();
  QApplication::processEvents();
  EXPECT_GT(dialog.tree()->horizontalScrollBar()->maximum(), 0);
  EXPECT_EQ(Item(dialog.tree(), QString(120, 'w'))->text(0), QString(120, 'w'));
  KeepPicture(&dialog, "categories_long_name");
}

// A document whose settings file could not be made when it was opened (the
// disk was full) keeps its ticks all the same: they are stored under a
// settings file made on OK and are there at the next opening. When that file
// cannot be made either, the failure is shown.
TEST_F(CategoryDialogsTest, WithoutItsSettingsFileTheTicksGoUnderOneMadeOnOk) {
  WriteFileBytes(files_.File("book.txt"), "A book opened while the disk was full.\n");
  std::uint16_t business = kDictNone;
  {
    auto frame = NewWindow();
    FileSys_FailWritesAfter(0);
    KelpoView* view = Open(*frame, "book.txt");
    FileSys_FailWritesAfter(kFileSysWritesUnlimited);
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(view->document()->state().localSettings.path[0], u'\0') << "no settings file";

    // Still full on OK: said, and nothing is stored.
    bool ran = false;
    WhenModal<CCategoriesDlg>([&](CCategoriesDlg* dlg) {
      ran = true;
      Item(dlg->tree(), "Business")->setCheckState(0, Qt::Checked);
      FileSys_FailWritesAfter(0);
      AnswerMessage(QStringLiteral("The categories of this document could not be saved."),
                    QMessageBox::Ok, QMessageBox::Critical);
      dlg->okButton()->click();
    });
    RunCategoriesDialog(view);
    FileSys_FailWritesAfter(kFileSysWritesUnlimited);
    ASSERT_TRUE(ran);
    modal_script::CancelPending();  // fails the test when the message never came

    // Room again: the ticks are stored.
    ran = false;
    WhenModal<CCategoriesDlg>([&](CCategoriesDlg* dlg) {
      ran = true;
      EXPECT_TRUE(Checked(dlg->tree()).isEmpty());
      Item(dlg->tree(), "Business")->setCheckState(0, Qt::Checked);
      dlg->okButton()->click();
    });
    RunCategoriesDialog(view);
    ASSERT_TRUE(ran);
    business = IdOf(*frame, u"Business");
    ASSERT_NE(business, kDictNone);
  }

  auto frame = NewWindow();
  KelpoView* view = Open(*frame, "book.txt");
  ASSERT_NE(view, nullptr);
  ASSERT_NE(view->document()->state().localSettings.path[0], u'\0');
  EXPECT_EQ(StoredIds(view), std::vector<std::uint16_t>{business});
  bool ran = false;
  WhenModal<CCategoriesDlg>([&](CCategoriesDlg* dlg) {
    ran = true;
    EXPECT_EQ(Checked(dlg->tree()), QStringList{"Business"});
    dlg->reject();
  });
  RunCategoriesDialog(view);
  EXPECT_TRUE(ran);
}

TEST_F(CategoryDialogsTest, WithoutASettingsStoreTheTreeIsEmptyAndEditsDoNothing) {
  CCategoriesDlg dialog(nullptr, nullptr, nullptr);
  dialog.show();
  EXPECT_EQ(dialog.tree()->topLevelItemCount(), 0);
  // None of these opens a window (a modal one would block here).
  dialog.newButton()->click();
  dialog.renameButton()->click();
  dialog.deleteButton()->click();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  dialog.okButton()->click();
  EXPECT_EQ(dialog.result(), std::nullopt);

  COpenCategorizedDlg open(nullptr, nullptr);
  EXPECT_EQ(open.tree()->topLevelItemCount(), 0);
  EXPECT_EQ(open.list()->topLevelItemCount(), 0);
}

TEST_F(CategoryDialogsTest, NamesStopAtTwentyNineCharactersAndSubCategoriesAtDepthNine) {
  for (const auto& [depth, enabled] :
       {std::pair{-1, false}, std::pair{0, true}, std::pair{9, true}, std::pair{10, false}}) {
    CNewCategoryDlg dialog(depth, nullptr);
    EXPECT_EQ(dialog.subCategoryCheck()->isEnabled(), enabled) << depth;
    dialog.subCategoryCheck()->setChecked(true);
    EXPECT_EQ(dialog.subCategory(), enabled) << depth;
  }

  CNewCategoryDlg dialog(0, nullptr);
  QLineEdit* edit = dialog.nameEdit();
  QTest::keyClicks(edit, QString(30, 'a'));
  EXPECT_EQ(edit->text(), QString(29, 'a'));  // the 30th cannot be typed
  edit->setCursorPosition(5);
  QTest::keyClicks(edit, "Z");  // nor anything in the middle of a full name
  EXPECT_EQ(edit->text(), QString(29, 'a'));

  // Pasted text is cut at a character boundary: a character outside the
  // basic plane (two UTF-16 units) is kept or dropped whole.
  const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
  struct Case {
    QString paste, want;
  };
  for (const Case& c : {Case{QString(28, 'b') + smile + "c", QString(28, 'b') + smile},
                        Case{QString(29, 'b') + smile, QString(29, 'b')},
                        Case{smile.repeated(30), smile.repeated(29)}}) {
    edit->clear();
    edit->insert(c.paste);
    EXPECT_EQ(edit->text(), c.want);
    EXPECT_FALSE(edit->text().back().isHighSurrogate());
  }

  CRenameCategoryDlg rename(QStringLiteral("Old"), nullptr);
  rename.nameEdit()->selectAll();
  rename.nameEdit()->insert(QString(40, 'r'));
  EXPECT_EQ(rename.name(), QString(29, 'r'));
}

TEST_F(CategoryDialogsTest, OpenCategorizedListsSortsAndOpensAndRemembersTheCategory) {
  struct Doc {
    std::string name;
    std::size_t bytes;
  };
  const std::vector<Doc> docs{{"alpha.txt", 1}, {"Bravo.txt", 3000}, {"charlie.txt", 2048}};
  {
    auto frame = NewWindow();
    const std::uint16_t business = IdOf(*frame, u"Business");
    ASSERT_NE(business, kDictNone);
    std::vector<std::uint16_t> list{1, business};
    for (const Doc& d : docs) {
      WriteFileBytes(files_.File(d.name), std::string(d.bytes, 'x'));
      KelpoView* view = Open(*frame, d.name);
      ASSERT_NE(view, nullptr);
      ASSERT_EQ(OpsOf<SettingsOps>(frame->store())
                    .setDocumentCategories(
                        frame->store(), view->document()->state().localSettings.path, list.data()),
                kOk);
    }
  }

  auto frame = NewWindow();
  frame->resize(900, 600);
  frame->show();
  const auto rows = [](QTreeWidget* list) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      out << list->topLevelItem(i)->text(0) + " " + list->topLevelItem(i)->text(1);
    return out;
  };
  const auto clickColumn = [](QTreeWidget* list, int column) {
    QHeaderView* header = list->header();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
  };
  bool ran = false;
  WhenModal<COpenCategorizedDlg>([&](COpenCategorizedDlg* dlg) {
    ran = true;
    EXPECT_EQ(dlg->list()->topLevelItemCount(), 0);  // nothing chosen yet
    dlg->tree()->setCurrentItem(Item(dlg->tree(), "Business"));
    EXPECT_EQ(rows(dlg->list()),
              (QStringList{"alpha.txt 1 KB", "Bravo.txt 3 KB", "charlie.txt 2 KB"}));
    EXPECT_FALSE(dlg->list()->topLevelItem(0)->text(2).isEmpty());
    clickColumn(dlg->list(), 1);
    EXPECT_EQ(dlg->sortKey(), kSortSizeUp);
    clickColumn(dlg->list(), 1);
    EXPECT_EQ(dlg->sortKey(), kSortSizeDown);
    EXPECT_EQ(rows(dlg->list()),
              (QStringList{"Bravo.txt 3 KB", "charlie.txt 2 KB", "alpha.txt 1 KB"}));
    KeepPicture(dlg, "open_categorized_dialog");
    clickColumn(dlg->list(), 1);  // a third click: ascending again
    EXPECT_EQ(dlg->sortKey(), kSortSizeUp);
    EXPECT_EQ(rows(dlg->list()),
              (QStringList{"alpha.txt 1 KB", "charlie.txt 2 KB", "Bravo.txt 3 KB"}));
    clickColumn(dlg->list(), 1);
    // Open without a chosen row does nothing.
    dlg->list()->clearSelection();
    dlg->list()->setCurrentItem(nullptr);
    dlg->openButton()->click();
    EXPECT_TRUE(dlg->isVisible());
    dlg->list()->setCurrentItem(dlg->list()->topLevelItem(1));
    dlg->openButton()->click();
  });
  RunOpenByCategoryDialog(frame.get());
  ASSERT_TRUE(ran);
  ASSERT_EQ(frame->Views().size(), 1);
  EXPECT_EQ(frame->Views().front()->parentWidget()->windowTitle(), "charlie.txt");

  // The next run starts on the category shown last; a category with no
  // documents lists none.
  ran = false;
  WhenModal<COpenCategorizedDlg>([&](COpenCategorizedDlg* dlg) {
    ran = true;
    ASSERT_NE(dlg->tree()->currentItem(), nullptr);
    EXPECT_EQ(dlg->tree()->currentItem()->text(0), "Business");
    EXPECT_EQ(dlg->list()->topLevelItemCount(), 3);
    dlg->tree()->setCurrentItem(Item(dlg->tree(), "Personal"));
    EXPECT_EQ(dlg->list()->topLevelItemCount(), 0);
    dlg->reject();
  });
  RunOpenByCategoryDialog(frame.get());
  EXPECT_TRUE(ran);
  EXPECT_EQ(COpenCategorizedDlg::lastCategory(), IdOf(*frame, u"Personal"));
  EXPECT_EQ(frame->Views().size(), 1);

  // A double click on a row opens it too.
  ran = false;
  WhenModal<COpenCategorizedDlg>([&](COpenCategorizedDlg* dlg) {
    ran = true;
    dlg->tree()->setCurrentItem(Item(dlg->tree(), "Business"));
    QTreeWidget* list = dlg->list();
    QTreeWidgetItem* alpha = list->findItems("alpha.txt", Qt::MatchExactly).value(0);
    ASSERT_NE(alpha, nullptr);
    const QPoint at = list->visualItemRect(alpha).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    if (dlg->isVisible()) dlg->reject();
  });
  RunOpenByCategoryDialog(frame.get());
  EXPECT_TRUE(ran);
  EXPECT_EQ(frame->Views().size(), 2);
}

}  // namespace
