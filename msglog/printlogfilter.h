#pragma once

#include <QDate>
#include <QDialog>
#include <functional>

class QComboBox;
class QSpinBox;

namespace core {
class Desk;
}

namespace msglog {

// "Print Log Report Parameters": the number of days and the one user to report on (none: all), reset
// to 1 and no user each time it is shown. "Print" opens the log report in the desk's preview
// ("LogPreview"), its first page at once, the rest laid out while it shows, and waits until the
// operator closes it; the operator prints from it, or prints to a PDF file proposed as
// "Message Log YYYY-MM-DD.pdf" in the data folder. The shared log handle is not moved: every walk of
// the report has a handle of its own.
class TPrintLogFilter : public QDialog {
    Q_OBJECT

public:
    explicit TPrintLogFilter(core::Desk& desk, QWidget* parent = nullptr);

    QSpinBox* DaysSpin;
    QComboBox* UserLookup;
    std::function<QDate()> today = [] { return QDate::currentDate(); };

    // "Print": the preview, waited for; then the window closes.
    void BitBtn1Click();
    // The file "Print to file" proposes: "Message Log YYYY-MM-DD.pdf" (today) in the data folder.
    QString proposedPdfPath() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    core::Desk& desk_;
};

} // namespace msglog
