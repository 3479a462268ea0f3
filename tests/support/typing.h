#pragma once

#include <QApplication>
#include <QKeySequence>
#include <QStringList>
#include <QTest>
#include <QWidget>

namespace testsupport {

// Types as an operator does, each key to whatever has the focus then (a grid's first key opens its
// cell editor, the next land in it). A step is a key ("Enter", "Tab", "Shift+Tab", "Esc", "Alt+A")
// or a text, typed character by character.
inline void typeSteps(const QStringList& steps)
{
    for (const QString& step : steps) {
        const QKeySequence key = step.size() > 1 ? QKeySequence::fromString(step) : QKeySequence();
        const bool named = step == u"Enter" || step == u"Tab" || step == u"Shift+Tab" || step == u"Esc"
            || step.startsWith(u"Alt+");
        if (named) {
            const QKeyCombination combination = step == u"Enter" ? QKeyCombination(Qt::Key_Return)
                : step == u"Esc"                                 ? QKeyCombination(Qt::Key_Escape)
                                                                 : key[0];
            QTest::keyClick(QApplication::focusWidget(), combination.key(), combination.keyboardModifiers());
            continue;
        }
        for (const QChar c : step)
            QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    }
}

} // namespace testsupport
