#include "app/dialogs/option_previews.h"

#include <QPainter>

#include "app/core/strings.h"

namespace {

constexpr int kFaceMax = 31;

}  // namespace

FontPreview::FontPreview(QWidget* parent) : QWidget(parent) {
  setMinimumHeight(60);
}

void FontPreview::SetPreviewFont(const PreviewFontRequest& r) {
  const QString face = r.face.left(kFaceMax);
  // Points to pixels at the screen's resolution, as the page's screen
  // measures them.
  const int pixels = std::max(1, logicalDpiY() * r.points / 72);
  if (face.isEmpty()) {
    font_ = QFont();
    sample_ = QString::fromUtf8(Resource_String(StringId::Unspecified));
  } else {
    font_ = QFont(face);
    font_.setPixelSize(pixels);
    font_.setBold(r.bold);
    font_.setItalic(r.italic);
    sample_ = face;
  }
  update(rect().adjusted(1, 1, -1, -1));
}

void FontPreview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!sample_.isEmpty()) {
    painter.setFont(font_);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, sample_);
  }
  painter.setPen(Qt::black);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

ThemePreview::ThemePreview(QWidget* parent) : QWidget(parent) {
  setMinimumSize(160, 40);
}

void ThemePreview::SetColors(const QColor& text, const QColor& background) {
  text_ = text;
  background_ = background;
  update();
}

void ThemePreview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(QPen(text_, 1));
  painter.setBrush(background_);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
  painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine,
                   QString::fromUtf8(Resource_String(StringId::ThemeSample)));
}
