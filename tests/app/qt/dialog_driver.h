// Driving modal dialogs from tests: an action runs on the next modal window
// of a given type once it is up (its own event loop is running), and the
// window's picture is kept in the artifact folder.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <memory>

#include "tests/app/qt/pictures.h"

// Runs action on the next active modal window of type T. The returned flag
// turns true once the action ran; a window that never comes is given up
// after timeoutMs (the flag then stays false).
template <class T>
std::shared_ptr<bool> WhenModal(std::function<void(T*)> action, int timeoutMs = 30000) {
  auto ran = std::make_shared<bool>(false);
  auto* timer = new QTimer;
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, action, ran, clock, timeoutMs] {
    T* window = qobject_cast<T*>(QApplication::activeModalWidget());
    if (window == nullptr || !window->isVisible()) {
      if (clock->elapsed() > timeoutMs) {
        timer->stop();
        timer->deleteLater();
      }
      return;
    }
    timer->stop();
    timer->deleteLater();
    *ran = true;
    action(window);
  });
  timer->start();
  return ran;
}
