// A titled group of radio buttons laid out in columns, read and set by item index.
#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>
#include <QStringList>

namespace pellwick {

class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString& objectName, const QString& caption, const QStringList& items,
                int columns, QWidget* parent = nullptr);

    // The checked item, -1 when none is.
    int ItemIndex() const;
    // -1 clears the selection; an index outside the items changes nothing.
    void SetItemIndex(int index);
    int Count() const { return static_cast<int>(buttons_.buttons().size()); }
    QRadioButton* Item(int index) const;

private:
    QButtonGroup buttons_;
};

} // namespace pellwick
