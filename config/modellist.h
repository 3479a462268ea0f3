#pragma once

#include <QComboBox>

namespace config {

// A drop-down list that tells when its list opens and closes, so that the items can be re-read just
// before they are shown and the choice acted on when the list closes.
class ModelList : public QComboBox {
    Q_OBJECT

public:
    explicit ModelList(QWidget* parent = nullptr);

    void showPopup() override;
    void hidePopup() override;

signals:
    void dropDown();
    void closeUp();
};

} // namespace config
