#pragma once

#include "store/table.h"

#include <QString>
#include <QWidget>

class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QMenuBar;
class QPushButton;

namespace config {

class ModelList;
class SystemSettings;

// The System Configuration window. Its fields show and edit the desk's working settings
// (SystemSettings) as the operator types: the engine parameters and the message preparation read
// them while the program runs, saved or not. It is made once at start-up, right after the main
// window, and shown and hidden from then on.
//
// The file is pager.ini at pagerIniPath(), section "System": read at creation and at every
// activation, written at every close and by "&Save Configuration"; the two modem keys also at every
// model choice.
class TSystemForm : public QWidget {
    Q_OBJECT

public:
    // `modemsT` is the main window's handle on MODEMS.DBF (its current record is the chosen model);
    // `dataDirectory` is where the tables live: the window opens its own handle, ModemsLookup, on
    // MODEMS.DBF there for the model list. A store failure while opening it is kept in lookupError()
    // and the window works without models.
    // `settings` are the working settings the fields edit.
    TSystemForm(SystemSettings& settings, store::Table& modemsT, const QString& dataDirectory,
        QWidget* parent = nullptr);
    ~TSystemForm() override;

    SystemSettings& settings() { return settings_; }

    // The fields, named as the rest of the desk refers to them.
    QComboBox* comport; // editable: "TAPI", "COM1" to "COM4" or whatever is typed
    ModelList* ModemList; // every MODEMS value in "Modems" tag order; shows ModemsT's model
    QLineEdit* ModemModel; // hidden, read-only: the chosen model name
    QLineEdit* ModemInit; // hidden: the chosen model's init string
    QLineEdit* outsideline;
    QCheckBox* PulseDial;
    QLineEdit* DeliveryRetries;
    QLineEdit* DirectMesgDelay;
    QCheckBox* Debug; // not saved; clear at every start
    QPushButton* SaveBtn;
    QPushButton* ExitBtn;

    QMenuBar* MainMenu;
    QAction* SaveConfigMenu;
    QAction* ModemInitMenu; // "&Modem_Initialization": disabled until the program gives it its window
    QAction* HelpMenu;
    QAction* ExitMenu;

    store::Table ModemsLookup;
    QString lookupError() const { return lookupError_; }

    // Loads every setting but Debug from the file, with the defaults; the fields show them.
    void ReadPagerIni();
    // Writes the seven keys of this window from the fields, in their fixed order. Returns false when
    // the file could not be written.
    bool WritePagerIni();
    // Writes ModemModel and ModemInitString from the hidden fields.
    bool SaveModemModel();

    // The model list's items, re-read from ModemsLookup.
    void ReadModelList();

public slots:
    void SaveBtnClick();
    void SaveConfigClick();
    void ExitClick();
    void HelpClick();
    // Activation: reload the file (unsaved changes are dropped), then put ModemsT on the saved model.
    void FormActivate();
    // The model list closed or lost the focus: the current ModemsT record becomes the saved model.
    void ModemListCloseUp();
    void DeliveryRetriesExit();
    void DirectMesgDelayExit();

signals:
    // A line for the status list ("In debug mode").
    void statusMessage(const QString& text);
    // The help window is asked for at a topic ("SystemsSetup").
    void helpRequested(const QString& keyword);
    // A failure for the application's error box: a store failure while reading the models, or a
    // settings file that could not be written. The same text is not reported twice in a row (the
    // box itself takes the activation away and gives it back, which reloads).
    void errorReported(const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenu();
    void ModemListChange(int index);
    // Copies MODEMS and INITSTR of the current ModemsT record into the hidden fields.
    void copyCurrentModel();
    // The model list shows the model of ModemsT's current record.
    void showCurrentModel();
    void reportError(const QString& text);
    // The fields show the settings (a field that already shows its value is left alone, caret and
    // all).
    void showSettings();
    // The fields' edits go to the settings as they are made.
    void bindSettings();
    // A write of the file failed: said so, since the operator takes a close for a save.
    bool reportUnwritten(bool written);

    SystemSettings& settings_;
    store::Table& modemsT_;
    QString lookupError_;
    QString lastReported_;
    bool failedSinceActivation_ = false;
    bool fillingModels_ = false;
};

} // namespace config
