// Driving modal dialogs from a test: an action waits for the next modal
// window of a type to show and then runs inside its event loop (a dialog's
// exec() does not return to the test until it closes). Actions that open a
// further dialog schedule the action for that one first.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "tests/app/qt/pictures.h"

namespace modal_script {

// Actions still waiting for their window.
inline std::vector<QPointer<QTimer>>& Pending() {
  static std::vector<QPointer<QTimer>> pending;
  return pending;
}

// Drops every action still waiting (a test that ended early must not leave
// one to run in the next test); each one counts as a failure.
inline void CancelPending() {
  for (const QPointer<QTimer>& timer : Pending()) {
    if (timer.isNull() || !timer->isActive()) continue;  // ran (or gave up) already
    ADD_FAILURE() << "a scripted dialog action never ran";
    delete timer.data();
  }
  Pending().clear();
}

// Runs act on the next visible modal window of type T. After ten seconds
// without one the test fails and the modal window on top (if any) is closed,
// so a missing dialog never hangs the run.
template <class T>
void WhenModal(std::function<void(T*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  QObject::connect(timer, &QTimer::timeout, [timer, act, clock] {
    QWidget* top = QApplication::activeModalWidget();
    T* found = dynamic_cast<T*>(top);
    if (found != nullptr && found->isVisible()) {
      timer->stop();
      timer->deleteLater();
      act(found);
      return;
    }
    if (clock->elapsed() > 10000) {
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "the expected modal window did not show";
      if (top != nullptr) top->close();
    }
  });
  Pending().push_back(timer);
  timer->start();
}

// Expects a message box with the text and answers it with the button.
inline void AnswerMessage(const QString& text, QMessageBox::StandardButton button,
                          QMessageBox::Icon icon) {
  WhenModal<QMessageBox>([text, button, icon](QMessageBox* box) {
    EXPECT_EQ(box->text().toStdString(), text.toStdString());
    EXPECT_EQ(box->icon(), icon) << text.toStdString();
    QAbstractButton* b = box->button(button);
    if (b == nullptr) {
      ADD_FAILURE() << "no such button on: " << text.toStdString();
      box->close();
      return;
    }
    b->click();
  });
}

}  // namespace modal_script
