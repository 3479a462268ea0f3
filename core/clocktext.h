#pragma once

#include <QDate>
#include <QString>
#include <QTime>

namespace core {

// Text forms of the clock used by the main window. "/" and ":" are always the separators, so what
// the desk writes reads back the same on any machine.

// The clock label: the system's long time format, without a time-zone part.
QString longTimeText(const QTime& time);

// The message editor's date stamp: "MM/dd/yy" and one blank ("12/06/26 ").
QString dateStamp(const QDate& date);

// The message editor's time stamp: 12-hour clock "hh:mm AM/PM" and one blank ("03:07 PM ").
QString timeStamp(const QTime& time);

} // namespace core
