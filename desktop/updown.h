// A pair of small arrow buttons, up above down, for stepping the value of
// an edit beside it. Qt has no such widget; forms use it as a promoted
// QWidget. Holding a button repeats its click.
#pragma once

#include <QWidget>

class QToolButton;

class TUpDown : public QWidget {
    Q_OBJECT

public:
    explicit TUpDown(QWidget* Parent = nullptr);

    QToolButton* UpButton() const { return FUp; }
    QToolButton* DownButton() const { return FDown; }

signals:
    void UpClick();
    void DownClick();

private:
    QToolButton* FUp;
    QToolButton* FDown;
};
