#pragma once

#include <QComboBox>

namespace config {

// A drop-down list that tells when its list opens and closes, so that the items can be re-read just
// before they are shown and the choice acted on when the list closes. closeUp() comes only for a
// list that was open: the combo box also closes its (closed) list whenever it is hidden, and hiding
// the window is not the operator closing the list.
class ModelList : public QComboBox {
    Q_OBJECT

public:
    explicit ModelList(QWidget* parent = nullptr);

    void showPopup() override;
    void hidePopup() override;

signals:
    void dropDown();
    void closeUp();

private:
    bool open_ = false;
};

} // namespace config
