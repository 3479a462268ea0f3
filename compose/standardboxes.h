#pragma once

#include <QString>

class QWidget;

namespace store {
class Table;
}

namespace compose {

// An information box with one OK button, titled with the application's title; returns when it is
// closed.
void ShowInfo(const QString& text, QWidget* parent = nullptr);
// Asks "Delete Record?" (Yes and Cancel); on Yes deletes the table's current record. Returns
// whether a record was deleted. Store failures propagate (store::StoreError).
bool ConfirmDelete(store::Table& table, QWidget* parent = nullptr);

} // namespace compose
