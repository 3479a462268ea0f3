#pragma once

#include <QApplication>

// The desk's application object. Its event dispatch is the last net for errors: a store error or
// any other exception that a handler, model or timer let go is shown in the standard error box,
// and the program runs on. (The windows catch what they expect at their own edge; this catches what
// is left, so that nothing ends the program.)
class DeskApplication : public QApplication {
    Q_OBJECT

public:
    DeskApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

signals:
    // An error caught at the dispatch, before its box is shown.
    void errorCaught(const QString& text);

private:
    void showError(const QString& text);

    bool boxOpen_ = false;
};
