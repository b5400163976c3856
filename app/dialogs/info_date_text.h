// A stored date and time as the dialogs show it: the local short date and the
// time without seconds, in the user's locale.
#pragma once

#include <QString>

#include "engine/runtime/date.h"

// utc: the date is the file system's (UTC) and is shown in local time;
// otherwise it is shown as stored. separator joins the date and the time. An
// invalid date gives empty parts around the separator.
QString InfoDateText(const DateTime& date, bool utc, const QString& separator);
