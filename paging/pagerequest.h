#pragma once

#include <QList>
#include <QString>

namespace paging {

// The arguments of one StartPage, and what they ask for.
struct PageRequest {
    QString comPort;
    QString baudRate;
    QString modemInit;
    QString dialInit;
    QString networkPhone;
    QString pagerPhone;
    QString messageSize;
    QString message;
    QString debugFile;
};

// One page of the call: a pager ID (its place in the group, 1-based) and at most MessageSize characters.
struct PageItem {
    int place = 1;
    QString pagerId;
    QString text;
};

struct PagePlan {
    bool numeric = false; // BaudRate "B" + speed: the pager's number is dialled and the digits tone-dialled
    bool group = false; // PagerPhone "ID1^ID2^..."
    bool pulse = false;
    int baud = 300;
    int messageSize = 0; // characters per page; seconds to wait for a numeric page
    QStringList pagerIds;
    QList<PageItem> items; // in the order they are sent
};

// Checks and expands a request. Returns 0 or BadParameters with `why` saying what is wrong.
int planPage(const PageRequest& request, PagePlan* plan, QString* why);

} // namespace paging
