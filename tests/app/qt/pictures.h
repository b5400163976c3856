// Pictures the tests keep: PNG files in the artifact folder (KELPO_ARTIFACT_DIR,
// else the working folder), for a person to look at after the run.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdlib>

// The artifact folder, made if it was not there.
inline QString ArtifactFolder() {
  const char* folder = std::getenv("KELPO_ARTIFACT_DIR");
  const QString dir = QString::fromUtf8(folder != nullptr ? folder : ".");
  QDir().mkpath(dir);
  return dir;
}

// Keeps the picture as name.png in the artifact folder.
inline void KeepPicture(const QImage& picture, const QString& name) {
  EXPECT_TRUE(picture.save(ArtifactFolder() + "/" + name + ".png")) << name.toStdString();
}

// Keeps a picture of the widget, once pending events have been processed,
// and answers it.
inline QImage KeepPicture(QWidget* widget, const QString& name) {
  QApplication::processEvents();
  const QImage picture = widget->grab().toImage();
  KeepPicture(picture, name);
  return picture;
}
