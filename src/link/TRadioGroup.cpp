#include "link/TRadioGroup.h"

#include <QGridLayout>

namespace pellwick {

TRadioGroup::TRadioGroup(const QString& objectName, const QString& caption,
                         const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), buttons_(this) {
    setObjectName(objectName);
    auto* grid = new QGridLayout(this);
    const int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
    // Items run down each column first, then on to the next column.
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        button->setObjectName(objectName + QString::number(i));
        buttons_.addButton(button, i);
        grid->addWidget(button, i % rows, i / rows);
    }
}

int TRadioGroup::ItemIndex() const {
    return buttons_.checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (index == -1) {
        // An exclusive group cannot uncheck its last button.
        buttons_.setExclusive(false);
        for (auto* button : buttons_.buttons())
            button->setChecked(false);
        buttons_.setExclusive(true);
        return;
    }
    if (auto* button = buttons_.button(index))
        button->setChecked(true);
}

QRadioButton* TRadioGroup::Item(int index) const {
    return qobject_cast<QRadioButton*>(buttons_.button(index));
}

} // namespace pellwick
