#pragma once

#include <QPlainTextEdit>
#include <QStringList>

namespace testsupport {

// The texts of the status list's lines, newest first, without their time stamps; empty lines left
// out.
inline QStringList statusTexts(const QPlainTextEdit* memo)
{
    QStringList texts;
    for (const QString& line : memo->toPlainText().split(u'\n')) {
        const qsizetype at = line.indexOf(QStringLiteral(":  "));
        if (at >= 0)
            texts << line.mid(at + 3);
    }
    return texts;
}

} // namespace testsupport
