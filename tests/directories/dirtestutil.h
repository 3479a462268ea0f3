#pragma once

#include "store/table.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include <memory>
#include <QStringList>
#include <QTimer>

// Helpers the directory suites share: a fresh handle on the tables on disk, and an answer for the
// next message box.
namespace dirtest {

// Every visible record of `table` in `tag` order, as "FIELD1|FIELD2|..." lines, read by a handle
// of its own.
inline QStringList onDisk(const QString& folder, const QString& table, const QString& tag, const QStringList& fields)
{
    store::Table t;
    t.setConnection(store::Connection(folder));
    t.setTableName(table);
    t.setIndexName(tag);
    t.open();
    QStringList rows;
    for (t.first(); !t.eof(); t.next()) {
        QStringList row;
        for (const QString& f : fields)
            row << t.fieldText(f);
        rows << row.join(u'|');
    }
    return rows;
}

// Presses `button` in the next modal message box and keeps its text in `text`.
inline void answerNextBox(QMessageBox::StandardButton button, QString* text, QMessageBox::StandardButtons* offered = nullptr)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, button, text, offered] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        *text = box->text();
        if (offered)
            *offered = box->standardButtons();
        if (QAbstractButton* b = box->button(button))
            b->click();
        else
            box->reject();
    });
    timer->start();
}

// Answers the next modal message boxes in turn with `buttons`, keeping their texts.
inline void answerBoxes(const QList<QMessageBox::StandardButton>& buttons, QStringList* texts)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    auto left = std::make_shared<QList<QMessageBox::StandardButton>>(buttons);
    auto last = std::make_shared<QPointer<QMessageBox>>();
    QObject::connect(timer, &QTimer::timeout, [timer, left, last, texts] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box == last->data() || !box->isVisible())
            return;
        *last = box;
        *texts << box->text();
        const QMessageBox::StandardButton button = left->takeFirst();
        if (left->isEmpty()) {
            timer->stop();
            timer->deleteLater();
        }
        if (QAbstractButton* b = box->button(button))
            b->click();
        else
            box->reject();
    });
    timer->start();
}

} // namespace dirtest
