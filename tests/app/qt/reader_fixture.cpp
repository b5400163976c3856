#include "tests/app/qt/reader_fixture.h"

#include <QApplication>
#include <QMessageBox>
#include <QSettings>
#include <QTest>

#include "app/window/main_frame.h"
#include "engine/stores/settings_store.h"
#include "tests/support/wide_text.h"

std::string NumberedLines(int count, const std::string& rest) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += "Line " + std::to_string(i) + rest + "\n";
  return text;
}

void UseSettingsFolder(const std::string& folder) {
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(folder));
}

void Settle() {
  for (int i = 0; i < 20; ++i)
    QApplication::processEvents();
}

ReaderFolders::ReaderFolders(DefaultEncoding encoding) {
  UseSettingsFolder(config_.Path());
  Prefs_SetDefaults(&prefs_);
  switch (encoding) {
    case DefaultEncoding::kWindows1252:
      prefs_.setDefaultEncoding(2252);
      break;
    case DefaultEncoding::kFromLocale:
      Prefs_SelectDefaultEncoding(&prefs_);
      break;
    case DefaultEncoding::kAsDefaults:
      break;
  }
  Prefs_InitWindowState(&windowState_);
}

QString ReaderFolders::WriteFile(const std::string& name, const std::string& bytes) const {
  WriteFileBytes(files_.File(name), bytes);
  return QString::fromStdString(files_.File(name));
}

std::unique_ptr<ReaderWindow> ReaderFixture::NewWindow() {
  return std::make_unique<ReaderWindow>(&settings_, &prefs_, &windowState_);
}

std::unique_ptr<ReaderWindow> ReaderFixture::ShownWindow(QSize size) {
  auto frame = NewWindow();
  if (size.isValid()) frame->resize(size);
  frame->show();
  return frame;
}

std::unique_ptr<ReaderWindow> ReaderFixture::ActiveWindow(QSize size) {
  auto frame = ShownWindow(size);
  frame->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(frame.get()));
  return frame;
}

KelpoView* ReaderFixture::Open(MainFrame& frame, const std::string& name, Layout layout) {
  EXPECT_TRUE(frame.OpenDocumentFile(QString::fromStdString(files_.File(name)))) << name;
  Settle();
  KelpoView* view = frame.ActiveView();
  EXPECT_NE(view, nullptr) << name;
  if (view == nullptr) return nullptr;
  view->setFocus();
  view->Render();
  if (layout == Layout::kToItsEnd)
    for (int i = 0; i < 50; ++i)
      view->OnTimer(2);  // the background layout, a step at a time
  return view;
}

void ReaderFixture::AcceptEveryMessage() {
  QObject::connect(&answer_, &QTimer::timeout, [this] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      messages_ << box->text();
      box->accept();
    }
  });
  answer_.start(5);
}

void ReaderFixture::StopAcceptingMessages() {
  answer_.stop();
}

void ViewTest::SetUp() {
  std::uint32_t flags = 0;
  ASSERT_EQ(Settings_OpenStore(&SettingsModule, &flags, &store_), kOk);
}

void ViewTest::TearDown() {
  CloseView();
  if (store_ != nullptr) {
    EXPECT_EQ(Settings_CloseStore(store_), kOk);
  }
}

void ViewTest::OpenView(const std::string& path, QSize size, const CommandDialogs* dialogs) {
  doc_ = std::make_unique<KelpoDoc>(ShellContext{&prefs_, store_, &prompter_});
  ASSERT_TRUE(doc_->OnOpenDocument(U16(path))) << path;
  view_ = std::make_unique<KelpoView>(doc_.get(), nullptr);
  if (dialogs != nullptr) view_->SetDialogs(dialogs);
  view_->resize(size);
  view_->OnInitialUpdate();
  view_->Render();
}

void ViewTest::CloseView() {
  view_.reset();
  doc_.reset();
}
