// The two sample boxes of the option pages: the font preview draws its face
// name in a chosen font; the colour-theme preview draws a sample sentence in
// a text colour on a background colour.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

// The font a page asks the preview for: face (empty: the default font),
// size in points, bold and italic.
struct PreviewFontRequest {
  QString face;
  int points = 12;
  bool bold = false;
  bool italic = false;
};

class FontPreview : public QWidget {
 public:
  explicit FontPreview(QWidget* parent = nullptr);
  // The sample text is the face name, or "unspecified" in the default font
  // when there is none. Faces are cut to 31 characters.
  void SetPreviewFont(const PreviewFontRequest& request);
  const QString& sampleText() const { return sample_; }
  const QFont& previewFont() const { return font_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QFont font_;
  QString sample_;
};

class ThemePreview : public QWidget {
 public:
  explicit ThemePreview(QWidget* parent = nullptr);
  void SetColors(const QColor& text, const QColor& background);
  QColor textColor() const { return text_; }
  QColor backgroundColor() const { return background_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor text_ = Qt::black;
  QColor background_ = Qt::white;
};
