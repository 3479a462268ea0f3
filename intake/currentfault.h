#pragma once

#include <QString>

#include <exception>

namespace intake {

// Inside a catch block: what the exception being handled says, for an answer that names why the
// gate failed.
inline QString currentFault()
{
    try {
        throw;
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

} // namespace intake
