#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// What of a carrier's or pager's number may reach a dial command. A number is dialled whole or not at
// all: dropping a character it holds would call somebody else (the letters of "555-PAGE" dropped leave
// "555P", and P is the modem's pulse-dialling command), and text from a table must never carry modem
// commands.
namespace paging::dialstring {

// The dial command's characters of `number`: digits, * # , W @ ! P T kept (letters upper-cased), the
// separators blank - ( ) . left out. Empty when any other character is present: such a number is not
// dialled at all.
std::optional<QByteArray> dialCharacters(const QString& number);

// True when `dial` holds at least one digit, * or # to dial.
bool isDialable(const QByteArray& dial);

// The dial characters of `number` when it is whole and dialable; empty otherwise.
std::optional<QByteArray> dialableCharacters(const QString& number);

// The digits a numeric pager shows: 0-9 * # only.
QByteArray toneDigits(const QString& message);

// A carrier's "NUMBER^PASSWORD": the part before the first "^" and the part after it.
QString numberPart(const QString& networkPhone);
QString passwordPart(const QString& networkPhone);
// The other way round: "NUMBER^PASSWORD", just NUMBER when there is no password.
QString networkPhone(const QString& number, const QString& password);

} // namespace paging::dialstring
