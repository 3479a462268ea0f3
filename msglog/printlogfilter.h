#pragma once

#include <QDate>
#include <QDialog>
#include <functional>

class QComboBox;
class QPrinter;
class QSpinBox;

namespace core {
class Desk;
}

namespace msglog {

// "Print Log Report Parameters": the number of days and the one user to report on (none: all), reset
// to 1 and no user each time it is shown. "Print" lays the log report out in Qt's print preview,
// from which the operator prints it or saves it as PDF; the shared log handle is not moved.
class TPrintLogFilter : public QDialog {
    Q_OBJECT

public:
    explicit TPrintLogFilter(core::Desk& desk, QWidget* parent = nullptr);

    QSpinBox* DaysSpin;
    QComboBox* UserLookup;
    std::function<QDate()> today = [] { return QDate::currentDate(); };

    // "Print": the preview, waited for; then the window closes.
    void BitBtn1Click();
    // Paints the report of the current choice onto `printer` (the preview's); the number of pages.
    int paintReport(QPrinter& printer);

protected:
    void showEvent(QShowEvent* event) override;

private:
    core::Desk& desk_;
};

} // namespace msglog
