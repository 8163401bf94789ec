// A framed group of radio buttons built from a list of item texts, laid out
// in columns, with the index of the checked item (-1: none). Qt has no such
// widget; forms use it as a promoted QGroupBox and set items, columns and
// itemIndex as properties.
#pragma once

#include <QGroupBox>
#include <QStringList>
#include <vector>

class QButtonGroup;
class QGridLayout;
class QRadioButton;

class TRadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(QStringList items READ Items WRITE SetItems)
    Q_PROPERTY(int columns READ Columns WRITE SetColumns)
    Q_PROPERTY(int itemIndex READ ItemIndex WRITE SetItemIndex)

public:
    explicit TRadioGroup(QWidget* Parent = nullptr);

    QStringList Items() const { return FItems; }
    // Replaces the buttons. The checked index stays when it is still an
    // item, else moves to the last one (none when the list is empty).
    void SetItems(const QStringList& Items);
    int Columns() const { return FColumns; }
    void SetColumns(int Columns); // at least 1
    int ItemIndex() const;
    // An index outside the items checks none.
    void SetItemIndex(int Index);

    int Count() const { return static_cast<int>(FButtons.size()); }
    QRadioButton* Button(int Index) const { return FButtons.at(Index); }

signals:
    // A button was checked, by the user or by SetItemIndex.
    void ItemIndexChanged(int Index);

private:
    void Arrange();

    QStringList FItems;
    int FColumns = 1;
    QButtonGroup* FGroup;
    QGridLayout* FLayout;
    std::vector<QRadioButton*> FButtons;
};
