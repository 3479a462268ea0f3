#pragma once

#include "core/desk.h"
#include "store/fieldnames.h"
#include "store/table.h"

#include <QString>

namespace testsupport {

// One message log record, as the preparations write it.
inline void addLogRecord(core::Desk& desk, const QString& date, const QString& time, const QString& userName,
    const QString& message)
{
    store::Table& log = desk.MsgLogT();
    log.append();
    log.setFieldText(store::msglog::DDate, date);
    log.setFieldText(store::msglog::DTime, time);
    log.setFieldText(store::msglog::UserName, userName);
    log.setFieldText(store::msglog::Msg, message);
    log.post();
}

} // namespace testsupport
