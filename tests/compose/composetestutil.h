#pragma once

#include "core/desk.h"

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>

namespace composetest {

// Users and carriers appended through the store, as the directory windows would.
inline void addUser(core::Desk& desk, const QString& name, const QString& carrier, const QString& pagerId)
{
    desk.BUsersT.append();
    desk.BUsersT.setFieldText(QStringLiteral("USERNAME"), name);
    desk.BUsersT.setFieldText(QStringLiteral("PAGERCOMP"), carrier);
    desk.BUsersT.setFieldText(QStringLiteral("PAGER_ID"), pagerId);
    desk.BUsersT.post();
}

inline void addCarrier(core::Desk& desk, const QString& name, const QString& tel, const QString& speed,
    int chars, const QString& password)
{
    desk.PagerCompT.append();
    desk.PagerCompT.setFieldText(QStringLiteral("PAGERCOMP"), name);
    desk.PagerCompT.setFieldText(QStringLiteral("HOST_TEL"), tel);
    desk.PagerCompT.setFieldText(QStringLiteral("HOST_SPEED"), speed);
    desk.PagerCompT.setFieldInt(QStringLiteral("HOST_CHARS"), chars);
    desk.PagerCompT.setFieldText(QStringLiteral("HOST_PASSW"), password);
    desk.PagerCompT.post();
}

inline void addGroup(core::Desk& desk, const QString& name)
{
    desk.GroupsT.append();
    desk.GroupsT.setFieldText(QStringLiteral("GROUP"), name);
    desk.GroupsT.post();
}

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

// Answers every message box that opens while it lives and keeps what the boxes said.
class BoxCatcher : public QObject {
public:
    struct Box {
        QString text;
        QMessageBox::Icon icon;
    };
    QList<Box> boxes;

    BoxCatcher()
    {
        timer_.setInterval(10);
        connect(&timer_, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box->property("caught").toBool())
                return;
            box->setProperty("caught", true);
            boxes << Box { box->text(), box->icon() };
            box->accept();
        });
        timer_.start();
    }
    QStringList texts() const
    {
        QStringList result;
        for (const Box& box : boxes)
            result << box.text;
        return result;
    }

private:
    QTimer timer_;
};

} // namespace composetest
