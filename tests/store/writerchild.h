#pragma once

// Test helper: a child process that changes a table of a data folder and prints one line for each
// change whose post returned, so that the parent knows what must be in the files afterwards:
//   "A <recno> <memo>"   appended (the memo names the writer and the change)
//   "E <recno> <name>"   USERNAME (and DDATE) of a record changed
//   "D <recno>"          record deleted
//   "R"                  both log tags rebuilt (exclusive use)
// Modes: append (log appends), churn (log appends, edits and deletes), users (the same on BUSERS,
// whose USERNAME tag is unique), reindex.
#include "store/connection.h"
#include "store/storeerror.h"
#include "store/table.h"

#include <QRandomGenerator>
#include <QString>

#include <cstdio>

namespace writerchild {

inline void say(const QByteArray& line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

inline void reindexLog(const store::Connection& c)
{
    store::Table t;
    t.setConnection(c);
    t.setTableName(QStringLiteral("MSGLOG2.dbf"));
    t.setExclusive(true);
    t.open();
    t.addTags(QStringLiteral("MsgLog2"),
        { { QStringLiteral("BY_DATE"), QStringLiteral("DDATE"), false },
            { QStringLiteral("BY_NAME"), QStringLiteral("USERNAME+DDATE"), false } });
    t.close();
}

// Runs `count` changes (forever when negative); returns the exit code.
inline int run(const QString& mode, const QString& folder, const QString& writer, uint32_t seed, int count)
{
    const store::Connection c(folder);
    try {
        if (mode == u"reindex") {
            for (int i = 0; count < 0 || i < count; ++i) {
                reindexLog(c);
                say("R");
            }
            return 0;
        }
        const bool users = mode == u"users";
        const bool churn = mode != u"append";
        store::Table t;
        t.setConnection(c);
        t.setTableName(users ? QStringLiteral("BUSERS.DBF") : QStringLiteral("MSGLOG2.dbf"));
        t.setIndexName(users ? QStringLiteral("USERNAME") : QStringLiteral("BY_NAME"));
        t.open();
        QRandomGenerator rng(seed);
        const auto someName = [&] {
            return users ? QStringLiteral("U%1").arg(rng.bounded(40))
                         : QStringLiteral("N%1").arg(rng.bounded(500), 3, 10, QLatin1Char('0'));
        };
        const auto someDate
            = [&] { return QStringLiteral("2024/%1/01").arg(1 + rng.bounded(12), 2, 10, QLatin1Char('0')); };
        for (int i = 0; count < 0 || i < count; ++i) {
            const uint32_t what = churn ? rng.bounded(6) : 0;
            const QString name = someName();
            // A record reached by a seek to a random name; the end of the table when none follows.
            const bool onRecord = what >= 3 && (t.seek(name.toLatin1()) || !t.eof() || (t.last(), !t.eof()));
            try {
                if (onRecord && what < 5) {
                    const QString renamed = someName();
                    t.edit();
                    t.setFieldText(QStringLiteral("USERNAME"), renamed);
                    if (!users)
                        t.setFieldText(QStringLiteral("DDATE"), someDate());
                    t.post();
                    say("E " + QByteArray::number(t.recNo()) + ' ' + renamed.toLatin1());
                } else if (onRecord) {
                    const uint32_t recno = t.recNo();
                    t.deleteRecord();
                    say("D " + QByteArray::number(recno));
                } else {
                    const QString memo = QStringLiteral("%1-%2").arg(writer).arg(i);
                    t.append();
                    t.setFieldText(QStringLiteral("USERNAME"), name);
                    if (users) {
                        t.setFieldText(QStringLiteral("PAGER_ID"), memo);
                    } else {
                        t.setFieldText(QStringLiteral("DDATE"), someDate());
                        t.setFieldText(QStringLiteral("MSG"), memo);
                    }
                    t.post();
                    say("A " + QByteArray::number(t.recNo()) + ' ' + memo.toLatin1());
                }
            } catch (const store::StoreError& e) {
                // Another writer deleted the record a moment ago: the operator would be told so
                // and go on.
                if (!e.message().contains(QStringLiteral("deleted by another user")))
                    throw;
                t.cancel();
            }
        }
        return 0;
    } catch (const store::StoreError& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
}

} // namespace writerchild
