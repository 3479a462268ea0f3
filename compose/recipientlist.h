#pragma once

#include <QAbstractListModel>
#include <QStringList>

#include <vector>

namespace compose {

// The recipient list: every user and group item (core/recipientname.h) with its tick, kept in the
// order the operator reads them (by letters without regard to case, then exactly). A list model, so
// that the main window's check list shows it and a test or a preparation works on it without one.
// Built for ten thousand items: a look-up by name is a binary search, a refresh is one pass.
class RecipientList : public QAbstractListModel {
    Q_OBJECT

public:
    explicit RecipientList(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Every item, in list order.
    QStringList names() const;
    // The ticked items, in list order.
    QStringList tickedNames() const;
    bool isTicked(int row) const;

    // Replaces the items by `names`, all unticked.
    void rebuild(const QStringList& names);
    // Adds each of `names` that the list does not hold yet (names compared without regard to
    // case); items and ticks already listed stay.
    void addMissing(const QStringList& names);
    // Ticks the first unticked item `name`; false when there is none.
    bool tick(const QString& name);
    // Unticks the first ticked item `name` (a name listed and ticked twice is unticked once for
    // each of its preparations); false when there is none.
    bool untick(const QString& name);
    void untickAll();

private:
    struct Item {
        QString name;
        bool ticked = false;
    };
    static bool before(const QString& a, const QString& b);
    void setTicked(int row, bool ticked);
    // The rows holding exactly `name`.
    std::pair<int, int> rowsOf(const QString& name) const;

    std::vector<Item> items_;
};

} // namespace compose
