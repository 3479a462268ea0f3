#include "faults.h"

#include <QRegularExpression>

namespace pagersim {

namespace {

bool toCount(const QString& text, int* value)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 0)
        return false;
    *value = n;
    return true;
}

} // namespace

bool FaultPlan::add(const QString& text, QString* error)
{
    static const QRegularExpression form(QStringLiteral("^([a-z][a-z0-9-]*)(?:=([^:]*))?(?::(\\d+))?$"));
    const auto match = form.match(text.trimmed());
    if (!match.hasMatch()) {
        *error = QStringLiteral("malformed fault \"%1\" (NAME[=ARG][:COUNT])").arg(text);
        return false;
    }
    Fault fault { match.captured(1), match.captured(2), 0 };
    if (match.hasCaptured(3) && !toCount(match.captured(3), &fault.calls)) {
        *error = QStringLiteral("fault \"%1\": bad call count").arg(text);
        return false;
    }
    CallFaults probe;
    if (!apply(fault, probe, error))
        return false;
    m_faults.append(fault);
    return true;
}

CallFaults FaultPlan::forCall(int call) const
{
    CallFaults faults;
    for (const Fault& fault : m_faults) {
        if (fault.calls == 0 || call <= fault.calls) {
            QString ignored;
            apply(fault, faults, &ignored);
        }
    }
    return faults;
}

bool FaultPlan::apply(const Fault& fault, CallFaults& faults, QString* error)
{
    const QString& name = fault.name;
    const bool hasArg = !fault.arg.isEmpty();
    const auto needsNoArg = [&] {
        if (hasArg)
            *error = QStringLiteral("fault %1 takes no argument").arg(name);
        return !hasArg;
    };
    const auto count = [&](int* target) {
        if (!toCount(fault.arg, target)) {
            *error = QStringLiteral("fault %1 needs a whole number, got \"%2\"").arg(name, fault.arg);
            return false;
        }
        return true;
    };

    if (name == u"busy" || name == u"noanswer" || name == u"nocarrier" || name == u"nodialtone") {
        static const QHash<QString, QByteArray> results {
            { QStringLiteral("busy"), "BUSY" },
            { QStringLiteral("noanswer"), "NO ANSWER" },
            { QStringLiteral("nocarrier"), "NO CARRIER" },
            { QStringLiteral("nodialtone"), "NO DIALTONE" },
        };
        faults.dialResult = results.value(name);
        return needsNoArg();
    }
    if (name == u"modem-error") {
        faults.modemError = true;
        return needsNoArg();
    }
    if (name == u"modem-silent") {
        faults.modemSilent = true;
        return needsNoArg();
    }
    if (name == u"badpassword") {
        faults.badPassword = true;
        return needsNoArg();
    }
    if (name == u"snpp-421") {
        faults.snpp421 = true;
        return needsNoArg();
    }
    if (name == u"snpp-554") {
        faults.snpp554 = true;
        return needsNoArg();
    }
    if (name == u"invalid" || name == u"snpp-550") {
        const QStringList ids = fault.arg.split(u',', Qt::SkipEmptyParts);
        if (ids.isEmpty()) {
            *error = QStringLiteral("fault invalid needs pager IDs: invalid=ID1,ID2");
            return false;
        }
        for (const QString& id : ids)
            faults.invalidIds.insert(id.trimmed());
        return true;
    }
    if (name == u"nak")
        return count(&faults.nakFirstBlocks);
    if (name == u"nak-always") {
        faults.nakAlways = true;
        return needsNoArg();
    }
    if (name == u"drop")
        return count(&faults.dropAfterBlocks);
    if (name == u"silent-terminal") {
        faults.silentTerminal = true;
        return needsNoArg();
    }
    if (name == u"no-goahead") {
        faults.noGoAhead = true;
        return needsNoArg();
    }
    if (name == u"maxpages")
        return count(&faults.maxPages);
    if (name == u"garbage") {
        faults.garbage = true;
        return needsNoArg();
    }
    if (name == u"slow-ack") {
        bool ok = false;
        const double seconds = fault.arg.toDouble(&ok);
        if (!ok || seconds < 0 || seconds > 3600) {
            *error = QStringLiteral("fault slow-ack needs seconds, got \"%1\"").arg(fault.arg);
            return false;
        }
        faults.slowAckMs = static_cast<int>(seconds * 1000.0 + 0.5);
        return true;
    }
    if (name == u"close") {
        faults.closeUnanswered = true;
        return needsNoArg();
    }
    if (name == u"wctp-fail") {
        if (!toCount(fault.arg, &faults.wctpFailCode) || faults.wctpFailCode < 300 || faults.wctpFailCode > 999) {
            *error = QStringLiteral("fault wctp-fail needs an error code from 300 to 999, got \"%1\"").arg(fault.arg);
            return false;
        }
        return true;
    }
    *error = QStringLiteral("unknown fault \"%1\"").arg(name);
    return false;
}

} // namespace pagersim
