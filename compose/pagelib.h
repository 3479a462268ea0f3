#pragma once

#include <QString>

#include <cstdint>

namespace config {
class SystemSettings;
}

// The shared text helpers. The standard message boxes (ShowInfo, ConfirmDelete) are in
// compose/standardboxes.h, with the windows.
namespace compose {

// The application's title, the title of its standard message boxes.
QString applicationTitle();

// The text without its trailing blanks (only ' ' counts; tabs stay).
QString TrimRightBlanks(const QString& text);
// The text without any '-'; at most 3099 characters are kept.
QString StripDashes(const QString& text);
// The text without any carriage return (line feeds stay); at most 3099 characters are kept.
QString StripReturns(const QString& text);
// The text without any blank.
QString RemoveBlanks(const QString& text);
// The number in decimal with '0' put in front until the text is at least `width` long or reaches
// 200 characters (a sign is padded in front of: -5, 3 gives "0-5").
QString ZeroPad(int32_t number, uint16_t width);
// Capital initials for words: the first character (the second after a leading '.') and every
// character after a blank, except a word that begins in one of the last two positions. Only a to z
// change.
QString CapitalizeWords(const QString& text);
// True when the System Configuration window's "Debug" box is ticked (the working settings' debug).
bool InDebugMode(const config::SystemSettings& settings);

} // namespace compose
