#include "updown.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace {

QToolButton* Arrow(QWidget* Parent, Qt::ArrowType Type)
{
    auto* b = new QToolButton(Parent);
    b->setArrowType(Type);
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFixedSize(17, 11);
    return b;
}

} // namespace

TUpDown::TUpDown(QWidget* Parent)
    : QWidget(Parent), FUp(Arrow(this, Qt::UpArrow)), FDown(Arrow(this, Qt::DownArrow))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(FUp);
    layout->addWidget(FDown);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(FUp, &QToolButton::clicked, this, &TUpDown::UpClick);
    connect(FDown, &QToolButton::clicked, this, &TUpDown::DownClick);
}
