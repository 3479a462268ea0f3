#pragma once

#include <QObject>
#include <QString>

namespace config {

// The working settings of the desk: the keys of pager.ini's section "System" with their defaults,
// held while the program runs. The System Configuration window edits this object as the operator
// types, so the engine parameters and the preparations read what the window shows, saved or not.
// Reading and writing the file, the defaults and the corrections of the two number fields are here
// and nowhere else.
class SystemSettings : public QObject {
    Q_OBJECT

public:
    static inline const QString Section = QStringLiteral("System");
    static inline const QString ComPortKey = QStringLiteral("ComPort");
    static inline const QString ModemModelKey = QStringLiteral("ModemModel");
    static inline const QString ModemInitStringKey = QStringLiteral("ModemInitString");
    static inline const QString OutsideLineKey = QStringLiteral("OutsideLine");
    static inline const QString DeliveryRetriesKey = QStringLiteral("DeliveryRetries");
    static inline const QString DirectMesgDelayKey = QStringLiteral("DirectMesgDelay");
    static inline const QString PulseDialKey = QStringLiteral("PulseDial");
    static inline const QString SendMessagesKey = QStringLiteral("SendMessages");
    // Whether a runner without a window (plimopagerd) writes the message log: not "0" (default "1").
    static inline const QString MessageLogKey = QStringLiteral("MessageLog");

    static inline const QString DefaultDeliveryRetries = QStringLiteral("3");
    static inline const QString DefaultDirectMesgDelay = QStringLiteral("10");

    // The defaults, as with no file; nothing is read until read().
    explicit SystemSettings(QObject* parent = nullptr);

    QString comPort() const { return comPort_; }
    QString modemModel() const { return modemModel_; }
    QString modemInitString() const { return modemInitString_; }
    QString outsideLine() const { return outsideLine_; }
    QString deliveryRetries() const { return deliveryRetries_; }
    QString directMesgDelay() const { return directMesgDelay_; }
    bool pulseDial() const { return pulseDial_; }
    // Not saved: clear at every start.
    bool debug() const { return debug_; }

    // Each emits changed() when the value differs.
    void setComPort(const QString& value);
    void setModemModel(const QString& value);
    void setModemInitString(const QString& value);
    void setOutsideLine(const QString& value);
    void setDeliveryRetries(const QString& value);
    void setDirectMesgDelay(const QString& value);
    void setPulseDial(bool value);
    void setDebug(bool value);

    // Loads every setting but debug from pager.ini, with the defaults ("3" retries, "10" seconds,
    // the rest empty; PulseDial on exactly when the value is "1").
    void read();
    // Writes the seven keys in their fixed order (ComPort, ModemModel, ModemInitString, OutsideLine,
    // DeliveryRetries, DirectMesgDelay, PulseDial as "1" or "0"). False when the file could not be
    // written.
    bool write() const;
    // Writes ModemModel and ModemInitString alone.
    bool saveModemModel() const;

    // The scheduled-sending switch: on unless SendMessages is exactly "0".
    static bool scheduledSendingEnabled();
    // MessageLogKey read from the settings file.
    static bool serviceMessageLogEnabled();
    // Writes the switch as "1" or "0"; false when the file could not be written.
    static bool setScheduledSendingEnabled(bool on);

    // The corrections made when the operator leaves a number field: a retries text that reads below
    // 1 (not a number reads as 1 and stays as typed) becomes "3"; a delay that reads below 4 (not a
    // number reads as 2) becomes "10". Other texts come back unchanged.
    static QString correctedDeliveryRetries(const QString& text);
    static QString correctedDirectMesgDelay(const QString& text);
    // The values the engine and the preparations use: not a whole number reads as 10, then retries
    // are kept to 1..3 and the delay to at least 4 seconds.
    static int deliveryRetriesValue(const QString& text);
    static int directMesgDelayValue(const QString& text);

signals:
    void changed();

private:
    void assign(QString& field, const QString& value);

    QString comPort_;
    QString modemModel_;
    QString modemInitString_;
    QString outsideLine_;
    QString deliveryRetries_ = DefaultDeliveryRetries;
    QString directMesgDelay_ = DefaultDirectMesgDelay;
    bool pulseDial_ = false;
    bool debug_ = false;
};

} // namespace config
