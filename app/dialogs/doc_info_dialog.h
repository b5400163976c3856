// The document information sheet and the system information dialog; both
// only show what they find.
//
// CPSDocInfo has a page for each of the title, author and publisher texts the
// document carries (a page only when there is text) and the General page
// (CPPDocInfoGeneral): title, path, date, type, size and text encoding.
// CSystemInfoDlg shows the machine's free and total memory and the charsets
// the reader converts.
#pragma once

#include <QDialog>
#include <QWidget>
#include <vector>

#include "app/core/doc_info.h"

class KelpoDoc;
class QLabel;
class QLineEdit;
class QListWidget;
class QTabWidget;

// One text the document carries, shown as it is (an ampersand included).
class CPPDocInfoMessage : public QWidget {
 public:
  CPPDocInfoMessage(const QString& text, QWidget* parent);
  QLabel* textLabel() const { return text_; }

 private:
  QLabel* text_;
};

class CPPDocInfoGeneral : public QWidget {
 public:
  CPPDocInfoGeneral(const DocInfoGeneral& info, QWidget* parent);
  QString title() const;
  QString path() const;
  QString date() const;
  QString type() const;
  QString size() const;
  QString encoding() const;

 private:
  QLineEdit* title_;
  QLineEdit* path_;
  QLabel* date_;
  QLabel* type_;
  QLabel* size_;
  QLabel* encoding_;
};

class CPSDocInfo : public QDialog {
 public:
  CPSDocInfo(const std::vector<DocInfoPage>& pages, const DocInfoGeneral& general, QWidget* parent);
  QTabWidget* tabs() const { return tabs_; }
  CPPDocInfoGeneral* generalPage() const { return general_; }

 private:
  QTabWidget* tabs_;
  CPPDocInfoGeneral* general_;
};

class CSystemInfoDlg : public QDialog {
 public:
  explicit CSystemInfoDlg(QWidget* parent);
  QString freeMemory() const;
  QString totalMemory() const;
  QListWidget* codePages() const { return codePages_; }

 private:
  QLabel* free_;
  QLabel* total_;
  QListWidget* codePages_;
};

// The sheet of the view's document.
void RunDocInfoDialog(QWidget* parent, KelpoDoc* doc);
void RunSysInfoDialog(QWidget* parent);
