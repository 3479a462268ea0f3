#pragma once

#include <QByteArray>
#include <QString>

// What of a carrier's or pager's number may reach a dial command. Text from a table never reaches the
// modem as it is: only dialling characters pass, so a number cannot carry modem commands.
namespace paging::dialstring {

// Digits, * # , W @ ! P T and blanks (letters upper-cased); everything else dropped.
QByteArray dialCharacters(const QString& number);

// True when `dial` holds at least one digit, * or # to dial.
bool isDialable(const QByteArray& dial);

// The digits a numeric pager shows: 0-9 * # only.
QByteArray toneDigits(const QString& message);

// A carrier's "NUMBER^PASSWORD": the part before the first "^" and the part after it.
QString numberPart(const QString& networkPhone);
QString passwordPart(const QString& networkPhone);

} // namespace paging::dialstring
