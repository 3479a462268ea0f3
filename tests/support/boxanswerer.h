#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>

#include <memory>

// Answers for the message boxes a test meets: the box runs its own event loop, so the answer is
// given from a timer inside it.
namespace testsupport {

// Answers every message box that opens while it lives and keeps what the boxes said.
class BoxCatcher : public QObject {
public:
    struct Box {
        QString text;
        QMessageBox::Icon icon;
    };
    QList<Box> boxes;

    BoxCatcher()
    {
        timer_.setInterval(10);
        connect(&timer_, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box->property("caught").toBool())
                return;
            box->setProperty("caught", true);
            boxes << Box { box->text(), box->icon() };
            box->accept();
        });
        timer_.start();
    }
    QStringList texts() const
    {
        QStringList result;
        for (const Box& box : boxes)
            result << box.text;
        return result;
    }

private:
    QTimer timer_;
};

// Calls `answer` with the next modal message box once it is up (from the event loop the box runs).
inline void onNextBox(std::function<void(QMessageBox*)> answer)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        answer(box);
    });
    timer->start();
}

// Presses `button` in the next modal message box and keeps its text in `text`.
inline void answerNextBox(QMessageBox::StandardButton button, QString* text, QMessageBox::StandardButtons* offered = nullptr)
{
    onNextBox([button, text, offered](QMessageBox* box) {
        *text = box->text();
        if (offered)
            *offered = box->standardButtons();
        if (QAbstractButton* b = box->button(button))
            b->click();
        else
            box->reject();
    });
}

// Answers the next modal message boxes in turn with `buttons`, keeping their texts.
inline void answerBoxes(const QList<QMessageBox::StandardButton>& buttons, QStringList* texts)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    auto left = std::make_shared<QList<QMessageBox::StandardButton>>(buttons);
    auto last = std::make_shared<QPointer<QMessageBox>>();
    QObject::connect(timer, &QTimer::timeout, [timer, left, last, texts] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box == last->data() || !box->isVisible())
            return;
        *last = box;
        *texts << box->text();
        const QMessageBox::StandardButton button = left->takeFirst();
        if (left->isEmpty()) {
            timer->stop();
            timer->deleteLater();
        }
        if (QAbstractButton* b = box->button(button))
            b->click();
        else
            box->reject();
    });
    timer->start();
}

} // namespace testsupport
