#pragma once

#include <QWidget>

class QTextBrowser;

// The help viewer: the topics in help/ are compiled into the program and shown here, opened at a
// keyword ("Contents", "Users", "PagerCompany", "Groups", "QuickMsg", "MsgLog", "SchedMsgLog",
// "SystemsSetup"). An unknown keyword opens "Contents".
class HelpWindow : public QWidget {
    Q_OBJECT

public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows the topic and brings the window up.
    void showTopic(const QString& keyword);
    QString currentTopic() const { return topic_; }
    QTextBrowser* browser() const { return browser_; }

    // The resource holding a topic's page, e.g. "qrc:/help/contents.html".
    static QString topicUrl(const QString& keyword);

private:
    QTextBrowser* browser_;
    QString topic_;
};
