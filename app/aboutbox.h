#pragma once

#include <QDialog>

// The about box: product line, version line and OK. When the tables live in the user's
// application-data folder (the program's own folder cannot be written), that folder is named too.
class TAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit TAboutBox(const QString& fallbackDataFolder = QString(), QWidget* parent = nullptr);
};
