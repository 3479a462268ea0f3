#pragma once

#include "store/connection.h"
#include "store/table.h"

#include <QString>

namespace intake {

// Finds the recipient list item that a program's recipient names: a user's name, a user's pager ID,
// a group's name, or "Group: " + a group's name; letter case ignored, "_" standing for a blank
// (SNPP's PAGE takes one word). It reads BUSERS and GROUPS through handles of its own, opened on
// first use, so that the windows' current records never move under the operator.
class RecipientFinder {
public:
    explicit RecipientFinder(const store::Connection& connection);

    // The item ("Alice Demo", "Group: Night Shift"), or an empty text when `typed` names nobody.
    // Store failures throw store::StoreError.
    QString find(const QString& typed);

private:
    void open();
    QString findAsTyped(const QString& typed);
    QString findUser(const QString& name);
    QString findGroup(const QString& name);

    store::Connection connection_;
    store::Table users_;
    store::Table groups_;
};

} // namespace intake
