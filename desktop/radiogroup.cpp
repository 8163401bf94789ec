#include "radiogroup.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>
#include <algorithm>

TRadioGroup::TRadioGroup(QWidget* Parent)
    : QGroupBox(Parent), FGroup(new QButtonGroup(this)), FLayout(new QGridLayout(this))
{
    connect(FGroup, &QButtonGroup::idToggled, this, [this](int Id, bool Checked) {
        if (Checked)
            emit ItemIndexChanged(Id);
    });
}

void TRadioGroup::SetItems(const QStringList& Items)
{
    const int index = ItemIndex();
    for (QRadioButton* b : FButtons)
        delete b;
    FButtons.clear();
    FItems = Items;
    for (int i = 0; i < FItems.size(); ++i) {
        auto* b = new QRadioButton(FItems[i], this);
        b->setObjectName(objectName() + "_" + QString::number(i));
        FGroup->addButton(b, i);
        FButtons.push_back(b);
    }
    Arrange();
    if (index >= 0)
        SetItemIndex(std::min(index, Count() - 1));
}

void TRadioGroup::SetColumns(int Columns)
{
    FColumns = std::max(Columns, 1);
    Arrange();
}

// Items run down a column, then on into the next, as many rows as it takes
// to fit them into the columns.
void TRadioGroup::Arrange()
{
    for (QRadioButton* b : FButtons)
        FLayout->removeWidget(b);
    const int rows = (Count() + FColumns - 1) / FColumns;
    for (int i = 0; i < Count(); ++i)
        FLayout->addWidget(FButtons[i], i % rows, i / rows);
}

int TRadioGroup::ItemIndex() const
{
    return FGroup->checkedId();
}

void TRadioGroup::SetItemIndex(int Index)
{
    if (Index >= 0 && Index < Count()) {
        FButtons[Index]->setChecked(true);
        return;
    }
    // An exclusive group cannot be cleared button by button.
    FGroup->setExclusive(false);
    for (QRadioButton* b : FButtons)
        b->setChecked(false);
    FGroup->setExclusive(true);
}
