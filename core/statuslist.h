#pragma once

#include <QString>
#include <QStringList>
#include <QTime>

namespace core {

// What the status rewrite needs to know about the desk at the moment of a report.
struct StatusContext {
    bool sendByPager = false; // the page under way was typed by pager ID
    QString byPagerId; // the pager ID typed for it
    // UserOrGroupName of the page being delivered: a user name, or "Group: " + the group name. The
    // results name this page, whatever record the users or groups table stands on meanwhile.
    QString pageName;
    QString firstLine; // the message editor's first line as displayed
};

// Turns the paging library's result texts into readable lines: "Successful " (with its trailing
// blank) becomes a "Sent to ..." line; "GroupRes" + separator + "place:result" becomes a "Sent to
// Group", "Partially Sent to Group" or "Not Sent to Group" line. Every other text is kept. Both
// name the page of `context` (a group by its name, without "Group: ").
QString rewriteStatus(const QString& message, const StatusContext& context);

// A text as one line shows it: control characters (a line break or a tab in a name, a pager ID or a
// message that another program wrote) become "?", so that no text can forge a line of its own.
QString shownText(QString text);

// A status line: a blank, the time as the clock label shows it (longTimeText: "05:48:16" where the
// system's clock runs 24 hours), ":  ", then the text.
QString stampStatus(const QTime& time, const QString& text);

// The status list's lines: line 0 is the newest; lines 0 to 20 are the history, the 22nd line stays
// empty.
class StatusHistory {
public:
    static constexpr int kLines = 22;
    static constexpr int kHistory = 21;

    StatusHistory();
    // Shifts the history down by one (the oldest line is lost) and puts `line` on top.
    void add(const QString& line);
    void clear();
    const QStringList& lines() const { return lines_; }

private:
    QStringList lines_;
};

} // namespace core
