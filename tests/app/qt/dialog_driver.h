// Driving modal dialogs from tests: an action runs on the next modal window
// of a given type once it is up (its own event loop is running), and the
// window's picture is kept in the artifact folder.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <functional>
#include <memory>

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

// Keeps a picture of the widget as name.png in the artifact folder.
inline QImage KeepPicture(QWidget* widget, const QString& name) {
  QApplication::processEvents();
  const QImage picture = widget->grab().toImage();
  const char* folder = std::getenv("KELPO_ARTIFACT_DIR");
  const QString dir = QString::fromUtf8(folder != nullptr ? folder : ".");
  QDir().mkpath(dir);
  EXPECT_TRUE(picture.save(dir + "/" + name + ".png"));
  return picture;
}
