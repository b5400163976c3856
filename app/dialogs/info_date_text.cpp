#include "app/dialogs/info_date_text.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>

QString InfoDateText(const DateTime& date, bool utc, const QString& separator) {
  QDateTime when(QDate(date.year, date.month, date.day),
                 QTime(date.hour, date.minute, date.second, date.hundredths * 10),
                 utc ? Qt::UTC : Qt::LocalTime);
  if (utc) when = when.toLocalTime();
  const QLocale locale = QLocale::system();
  const QString day =
      when.isValid() ? locale.toString(when.date(), QLocale::ShortFormat) : QString();
  // Some locales' short time has seconds: they go, with their separator.
  QString format = locale.timeFormat(QLocale::ShortFormat);
  format.remove(QRegularExpression(QStringLiteral("[^hHmaApP]*s+(\\.z+)?")));
  const QString time = when.isValid() ? locale.toString(when.time(), format.trimmed()) : QString();
  return day.left(32) + separator + time.left(32);
}
