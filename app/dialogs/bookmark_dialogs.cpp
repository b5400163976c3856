#include "app/dialogs/bookmark_dialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>
#include <string>

#include "app/core/bookmark_rules.h"
#include "app/core/doc_open.h"
#include "engine/formats/doc_handler.h"
#include "engine/view/text_view.h"

namespace BookmarkText {
const char* const kReplaceExisting =
    "A bookmark named \"%s\" already exists. Do you want to replace it?";
const char* const kReadOnlyDocument =
    "Document and global bookmarks can not be added to read-only documents.";
const char* const kNameExists = "A bookmark named \"%s\" already exists.";
const char* const kConfirmAlphabetize =
    "You have chosen to alphabetize the bookmarks. The current bookmark sort order will be "
    "lost. Are you sure you want to do this?";
const char* const kConfirmDeleteAll = "Are you sure you want to delete all bookmarks?";
}  // namespace BookmarkText

namespace {

constexpr std::uint32_t kExcerptBytes = 30;

const char* const kKindNames[BookmarkKind::kCount] = {"Document", "Local", "Global"};

QString Caption() {
  return QStringLiteral("Kelpo");
}

QString Format(const char* text, const QString& name) {
  return QString::fromUtf8(text).replace(QStringLiteral("%s"), name);
}

void Warn(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, Caption(), text, QMessageBox::Ok, parent);
  box.exec();
}

bool Ask(QWidget* parent, const QString& text, QMessageBox::Icon icon) {
  QMessageBox box(icon, Caption(), text, QMessageBox::Yes | QMessageBox::No, parent);
  return box.exec() == QMessageBox::Yes;
}

QComboBox* MakeKindBox(QWidget* parent) {
  auto* box = new QComboBox(parent);
  for (const char* name : kKindNames)
    box->addItem(QString::fromUtf8(name));
  return box;
}

QString ToQt(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string FromQt(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                        static_cast<std::size_t>(text.size()));
}

StatusCode ListCommand(EngineObject* textView, std::uint16_t code, std::uint32_t argument,
                       void* io) {
  if (textView == nullptr) return kFailed;
  return OpsOf<TextViewOps>(textView).positionListCommand(textView, code, argument, io);
}

std::uint16_t Code(std::uint16_t operation, int list) {
  return static_cast<std::uint16_t>(operation | static_cast<std::uint16_t>(list));
}

bool InDocumentFile(int kind) {
  return kind == BookmarkKind::kDocument || kind == BookmarkKind::kGlobal;
}

}  // namespace

// ---------------------------------------------------------------------------

AddBookmarkDialog::AddBookmarkDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Add Bookmark"));
  name_ = new QLineEdit(this);
  name_->setMaxLength(static_cast<int>(kBookmarkNameUnits));
  kind_ = MakeKindBox(this);
  kind_->setCurrentIndex(-1);
  auto* nameLabel = new QLabel(QStringLiteral("&Name:"), this);
  nameLabel->setBuddy(name_);
  auto* kindLabel = new QLabel(QStringLiteral("&Type:"), this);
  kindLabel->setBuddy(kind_);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("Add"), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* grid = new QGridLayout;
  grid->addWidget(nameLabel, 0, 0);
  grid->addWidget(name_, 0, 1);
  grid->addWidget(kindLabel, 1, 0);
  grid->addWidget(kind_, 1, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);
  name_->setMinimumWidth(220);
}

void AddBookmarkDialog::setName(const QString& name) {
  name_->setText(name);
  name_->selectAll();
}
QString AddBookmarkDialog::name() const {
  return name_->text();
}
void AddBookmarkDialog::setKind(int kind) {
  kind_->setCurrentIndex(kind >= 0 && kind < BookmarkKind::kCount ? kind : -1);
}
int AddBookmarkDialog::kind() const {
  return kind_->currentIndex();
}

// ---------------------------------------------------------------------------

RenameBookmarkDialog::RenameBookmarkDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Rename Bookmark"));
  name_ = new QLineEdit(this);
  name_->setMaxLength(static_cast<int>(kBookmarkNameUnits));
  name_->setMinimumWidth(220);
  auto* label = new QLabel(QStringLiteral("&Name:"), this);
  label->setBuddy(name_);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("Rename"), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(name_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
}

void RenameBookmarkDialog::setName(const QString& name) {
  name_->setText(name);
  name_->selectAll();
}
QString RenameBookmarkDialog::name() const {
  return name_->text();
}

bool RunRenameBookmarkDialog(QWidget* parent, QString* name) {
  RenameBookmarkDialog dialog(parent);
  dialog.setName(*name);
  if (dialog.exec() != QDialog::Accepted) return false;
  *name = dialog.name();
  return true;
}

// ---------------------------------------------------------------------------

EditBookmarksDialog::EditBookmarksDialog(KelpoDoc* doc, EngineObject* textView, int kind,
                                         QWidget* parent)
    : QDialog(parent), doc_(doc), textView_(textView), kind_(kind) {
  setWindowTitle(QStringLiteral("Edit Bookmarks"));
  kindBox_ = MakeKindBox(this);
  list_ = new QListWidget(this);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  moveLabel_ = new QLabel(QStringLiteral("Move:"), this);
  up_ = new QPushButton(QStringLiteral("&Up"), this);
  down_ = new QPushButton(QStringLiteral("&Down"), this);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  rename_ = new QPushButton(QStringLiteral("&Rename"), this);
  alphabetize_ = new QPushButton(QStringLiteral("&Alphabetize"), this);
  delete_ = new QPushButton(QStringLiteral("Dele&te"), this);
  deleteAll_ = new QPushButton(QStringLiteral("Delete A&ll"), this);
  for (QPushButton* b : {up_, down_, rename_, alphabetize_, delete_, deleteAll_})
    b->setAutoDefault(false);

  auto* kindLabel = new QLabel(QStringLiteral("&Type:"), this);
  kindLabel->setBuddy(kindBox_);
  auto* listLabel = new QLabel(QStringLiteral("&Bookmarks:"), this);
  listLabel->setBuddy(list_);

  auto* left = new QVBoxLayout;
  auto* kindRow = new QHBoxLayout;
  kindRow->addWidget(kindLabel);
  kindRow->addWidget(kindBox_, 1);
  left->addLayout(kindRow);
  left->addWidget(listLabel);
  left->addWidget(list_, 1);
  auto* moveRow = new QHBoxLayout;
  moveRow->addWidget(moveLabel_);
  moveRow->addWidget(up_);
  moveRow->addWidget(down_);
  moveRow->addStretch(1);
  left->addLayout(moveRow);
  auto* right = new QVBoxLayout;
  for (QPushButton* b : {ok, rename_, alphabetize_, delete_, deleteAll_})
    right->addWidget(b);
  right->addStretch(1);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(right);
  resize(360, 300);

  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(kindBox_, &QComboBox::activated, this, &EditBookmarksDialog::OnKindChosen);
  connect(up_, &QPushButton::clicked, this, [this] { OnMove(true); });
  connect(down_, &QPushButton::clicked, this, [this] { OnMove(false); });
  connect(rename_, &QPushButton::clicked, this, &EditBookmarksDialog::OnRename);
  connect(alphabetize_, &QPushButton::clicked, this, &EditBookmarksDialog::OnAlphabetize);
  connect(delete_, &QPushButton::clicked, this, &EditBookmarksDialog::OnDelete);
  connect(deleteAll_, &QPushButton::clicked, this, &EditBookmarksDialog::OnDeleteAll);

  kindBox_->setCurrentIndex(kind_ >= 0 && kind_ < BookmarkKind::kCount ? kind_ : -1);
  FillList();
}

StatusCode EditBookmarksDialog::Command(std::uint16_t operation, std::uint32_t argument,
                                        void* io) const {
  if (list_number_ < 0) return kFailed;
  return ListCommand(textView_, Code(operation, list_number_), argument, io);
}

void EditBookmarksDialog::FillList() {
  list_number_ = Bookmark_ListOfKind(kind_);
  if (list_number_ < 0) return;  // no kind: the list stays as it is
  list_->clear();
  std::uint16_t longest = 0;
  const StatusCode lengthStatus = Command(DocBookmark::LongestName, 0, &longest);
  maxNameLength_ = Bookmark_UsableNameLength(lengthStatus, longest);
  std::uint16_t count = 0;
  const std::uint32_t mib = doc_ != nullptr ? doc_->state().encoding : 0;
  if (!IsFailure(Command(DocBookmark::Count, 0, &count)) && count != 0) {
    const char** names = nullptr;
    if (!IsFailure(Command(DocBookmark::GetNames, 0, static_cast<void*>(&names))) &&
        names != nullptr) {
      for (std::uint16_t i = 0; i < count; ++i) {
        const char* name = names[i] != nullptr ? names[i] : "";
        list_->addItem(ToQt(Bookmark_DecodeName(name, mib)));
      }
      (void)Command(DocBookmark::FreeNames, 0, static_cast<void*>(names));  // nothing to undo
    }
  }
  UpdateButtons();
}

bool EditBookmarksDialog::ListWritable() const {
  if (kind_ == BookmarkKind::kLocal) return true;
  return doc_ != nullptr && !doc_->state().readOnly;
}

void EditBookmarksDialog::UpdateButtons() {
  const bool on = ListWritable();
  for (QWidget* w :
       std::array<QWidget*, 7>{moveLabel_, up_, down_, rename_, alphabetize_, delete_, deleteAll_})
    w->setEnabled(on);
}

bool EditBookmarksDialog::EnsureWritable() {
  if (!InDocumentFile(kind_) || reopened_) return true;
  if (doc_ == nullptr || !doc_->ReopenForWriting()) return false;
  reopened_ = true;
  return true;
}

void EditBookmarksDialog::OnKindChosen(int index) {
  if (index == kind_) return;
  kind_ = index;
  FillList();
}

void EditBookmarksDialog::OnMove(bool up) {
  const int row = list_->currentRow();
  const int target = Bookmark_MoveTarget(row, list_->count(), up);
  if (target < 0) return;
  if (!EnsureWritable()) return;
  QListWidgetItem* item = list_->takeItem(row);
  list_->insertItem(target, item);
  list_->setCurrentRow(target);
  const BookmarkMove move = Bookmark_MoveOperation(row, list_->count(), up);
  auto to = static_cast<std::uint16_t>(move.to);
  // A move the engine refused shows the list as it really is.
  if (IsFailure(Command(DocBookmark::Move, static_cast<std::uint32_t>(move.from), &to))) {
    FillList();
    list_->setCurrentRow(row);
  }
}

void EditBookmarksDialog::OnRename() {
  const int row = list_->currentRow();
  if (row < 0 || !ListWritable()) return;
  const QString old = list_->item(row)->text();
  QString name = old;
  if (!RunRenameBookmarkDialog(this, &name) || name.isEmpty() || name == old) return;
  const std::uint32_t mib = doc_ != nullptr ? doc_->state().encoding : 0;
  const std::string stored = Bookmark_EncodeName(FromQt(name), mib, maxNameLength_);
  if (stored.empty()) return;
  DocBookmarkFind find{stored.c_str(), 0};
  if (Command(DocBookmark::Find, 0, &find) == kOk) {  // kNotFound: free
    Warn(this, Format(BookmarkText::kNameExists, name));
    return;
  }
  if (!EnsureWritable()) return;
  DocBookmarkRename rename{stored.c_str()};
  if (IsFailure(Command(DocBookmark::Rename, static_cast<std::uint32_t>(row), &rename))) {
    FillList();
    return;
  }
  list_->item(row)->setText(ToQt(Bookmark_DecodeName(stored, mib)));
}

void EditBookmarksDialog::OnAlphabetize() {
  if (list_->count() < 2) return;
  if (!Ask(this, QString::fromUtf8(BookmarkText::kConfirmAlphabetize), QMessageBox::Question))
    return;
  if (!EnsureWritable()) return;
  (void)Command(DocBookmark::Sort, 0, nullptr);  // the refill shows what the engine kept
  FillList();
}

void EditBookmarksDialog::OnDelete() {
  const int row = list_->currentRow();
  if (row < 0) return;
  if (!EnsureWritable()) return;
  if (IsFailure(Command(DocBookmark::Delete, static_cast<std::uint32_t>(row), nullptr))) {
    FillList();
    return;
  }
  delete list_->takeItem(row);
  list_->setCurrentRow(std::min(row, list_->count() - 1));
}

void EditBookmarksDialog::OnDeleteAll() {
  if (list_->count() == 0) return;
  if (!Ask(this, QString::fromUtf8(BookmarkText::kConfirmDeleteAll), QMessageBox::Question)) return;
  if (!EnsureWritable()) return;
  for (int i = list_->count() - 1; i >= 0; --i) {
    if (IsFailure(Command(DocBookmark::Delete, static_cast<std::uint32_t>(i), nullptr))) break;
  }
  FillList();
}

// ---------------------------------------------------------------------------

void RunAddBookmarkDialog(QWidget* view, KelpoDoc* doc, EngineObject* tv) {
  if (doc == nullptr) return;
  DocOpenState& state = doc->state();

  std::array<char, kExcerptBytes + 1> excerpt{};
  if (IsFailure(ListCommand(tv, TextViewPosList::PageExcerpt, kExcerptBytes, excerpt.data())))
    excerpt[0] = 0;
  excerpt.back() = 0;
  AddBookmarkDialog dialog(view);
  dialog.setName(ToQt(Bookmark_DecodeName(excerpt.data(), state.encoding)));
  dialog.setKind(Bookmark_KindOfFlags(state.displayExtra));
  if (dialog.exec() != QDialog::Accepted || dialog.name().isEmpty()) return;

  const int kind = dialog.kind();
  const int list = Bookmark_ListOfKind(kind);
  if (list < 0) return;
  state.displayExtra = Bookmark_FlagsWithKind(state.displayExtra, kind);
  // Cut to the list's own limit here, at a character boundary, so that the
  // list never cuts a character in two.
  std::uint16_t longest = 0;
  const StatusCode lengthStatus =
      ListCommand(tv, Code(DocBookmark::LongestName, list), 0, &longest);
  const std::string name = Bookmark_EncodeName(FromQt(dialog.name()), state.encoding,
                                               Bookmark_UsableNameLength(lengthStatus, longest));
  if (name.empty()) return;

  // A read-only file cannot take a new bookmark nor a moved one: say so
  // before asking anything.
  if (InDocumentFile(kind) && state.readOnly) {
    Warn(view, QString::fromUtf8(BookmarkText::kReadOnlyDocument));
    return;
  }
  DocBookmarkFind find{name.c_str(), 0};
  const bool exists = ListCommand(tv, Code(DocBookmark::Find, list), 0, &find) == kOk;
  if (exists &&
      !Ask(view, Format(BookmarkText::kReplaceExisting, dialog.name()), QMessageBox::Warning)) {
    return;
  }
  if (InDocumentFile(kind) && !doc->ReopenForWriting()) return;
  if (exists) {
    (void)ListCommand(tv, Code(TextViewPosList::ReplacePosition, list), find.index,
                      nullptr);  // not reported
  } else {
    (void)ListCommand(tv, Code(TextViewPosList::InsertHere, list), TextViewPosList::Append,
                      const_cast<char*>(name.c_str()));  // not reported
  }
}

void RunEditBookmarksDialog(QWidget* parent, KelpoDoc* doc, EngineObject* textView) {
  if (doc == nullptr) return;
  EditBookmarksDialog dialog(doc, textView, Bookmark_KindOfFlags(doc->state().displayExtra),
                             parent);
  dialog.exec();
}
