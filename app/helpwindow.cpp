#include "app/helpwindow.h"

#include <QFile>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

HelpWindow::HelpWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , browser_(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("PlimoPager32 Help"));
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setOpenExternalLinks(false);
    browser_->setSearchPaths({ QStringLiteral(":/help") });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(520, 440);
}

QString HelpWindow::topicUrl(const QString& keyword)
{
    const QString file = QStringLiteral(":/help/") + keyword.toLower() + QStringLiteral(".html");
    if (!keyword.isEmpty() && QFile::exists(file))
        return QStringLiteral("qrc") + file;
    return QStringLiteral("qrc:/help/contents.html");
}

void HelpWindow::showTopic(const QString& keyword)
{
    const QString url = topicUrl(keyword);
    topic_ = QUrl(url).fileName().section(u'.', 0, 0);
    browser_->setSource(QUrl(url));
    show();
    raise();
    activateWindow();
}

#include "moc_helpwindow.cpp"
