#pragma once

#include "report/reportdefinition.h"

#include <QDate>
#include <QDialog>
#include <functional>
#include <optional>

class QComboBox;
class QSpinBox;

namespace core {
class Desk;
}

namespace msglog {

class ReportProgress;

// "Print Log Report Parameters": the number of days and the one user to report on (none: all), reset
// to 1 and no user each time it is shown. "Print" lays the log report out and shows it in Qt's print
// preview, from which the operator prints it or saves it as PDF; the shared log handle is not moved.
// A report that takes longer than about a second shows its progress ("ReportProgress"); its Cancel
// stops the work, opens no preview and leaves this window open with its choice, to narrow it.
class TPrintLogFilter : public QDialog {
    Q_OBJECT

public:
    explicit TPrintLogFilter(core::Desk& desk, QWidget* parent = nullptr);

    QSpinBox* DaysSpin;
    QComboBox* UserLookup;
    std::function<QDate()> today = [] { return QDate::currentDate(); };
    // How long a report works before its progress shows (when it looks like lasting longer).
    int progressAfterMs = 1000;

    // "Print": the report laid out, then the preview, waited for; then the window closes. Cancelled
    // in its progress, the window stays.
    void BitBtn1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Every page of the current choice, laid out under `progress`; nothing when cancelled.
    std::optional<QVector<report::LaidOutPage>> layOutReport(ReportProgress& progress);
    // The preview of `pages`, waited for; false when the operator cancelled its painting.
    bool preview(const QVector<report::LaidOutPage>& pages, ReportProgress& progress);

    core::Desk& desk_;
};

} // namespace msglog
