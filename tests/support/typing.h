#pragma once

#include <QApplication>
#include <QKeySequence>
#include <QStringList>
#include <QTest>

namespace testsupport {

// Types as an operator does, each key to whatever has the focus then (a grid's first key opens its
// cell editor, the next land in it). A step is a key ("Enter", "Esc", "Tab", "Shift+Tab", "Alt+A")
// or a text, typed character by character.
inline void typeSteps(const QStringList& steps)
{
    for (const QString& step : steps) {
        const QString key = step == u"Enter" ? QStringLiteral("Return") : step == u"Esc" ? QStringLiteral("Escape") : step;
        const bool named = key == u"Return" || key == u"Escape" || key.endsWith(u"Tab") || key.startsWith(u"Alt+");
        for (const QKeyCombination c : named ? QList { QKeySequence(key)[0] } : QList<QKeyCombination>())
            QTest::keyClick(QApplication::focusWidget(), c.key(), c.keyboardModifiers());
        for (const QChar c : named ? QString() : step)
            QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    }
}

} // namespace testsupport
