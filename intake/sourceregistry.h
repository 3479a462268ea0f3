#pragma once

#include "intake/gate.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace store {
class Table;
}

namespace intake {

// The kinds of source: "SNPP", "HTTP", "SPOOL", "MAIL".
const QStringList& sourceKinds();

// A new token: 32 bytes of the system's random generator, written as base64url without padding
// (43 characters that go into a header, a URL or a password prompt as they are).
QByteArray newToken();
// What SECRET holds for `token`: its SHA-256, 64 hex digits.
QByteArray secretOf(const QByteArray& token);

// The programs allowed to page through the desk: the rows of SOURCES on a handle the caller opened
// (the desk's shared handle for the window and for plimopagerd --add-source, one of its own for the
// gate). Names are unique without regard to case. Store failures throw store::StoreError.
class SourceRegistry {
public:
    explicit SourceRegistry(store::Table& table);

    // Every source, in BY_SOURCE order, read afresh.
    QList<Source> sources();
    std::optional<Source> find(const QString& name);

    // Why `name`, `kind` and `recipient` (a recipient list item, found by the caller) cannot make a
    // source: empty when they can. A name is one word of at most 20 characters, for SNPP's LOGI.
    QString refusal(const QString& name, const QString& kind, const QString& recipient);
    // Adds an enabled source with RATEMIN 0 (60 a minute) and a new token, which is returned; only
    // its hash is kept. Empty, and `refusal` set, when refusal() refuses it.
    QByteArray add(const QString& name, const QString& kind, const QString& recipient, QString* refusal);
    // A new token for source `name`, its hash replacing the old one; empty when there is no such
    // source.
    QByteArray setToken(const QString& name);
    // Deletes source `name`; false when there is none.
    bool remove(const QString& name);

    // The enabled source whose token `token` is, named `name` (any, when empty). The presented
    // token's hash is compared with every row's SECRET in constant time and the walk never stops
    // early, so that a miss costs what a match costs and the time says nothing of the rows.
    std::optional<Source> authenticate(const QString& name, const QByteArray& token);

private:
    // Makes the row of `name` current; false when there is none.
    bool locate(const QString& name);
    Source current() const;

    store::Table& table_;
};

} // namespace intake
