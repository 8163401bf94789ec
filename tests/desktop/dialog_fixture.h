// Shared by the dialog tests: one application object for the program, an
// executor that only records, controls found by their object names, and a
// dialog driven from inside its own modal loop.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "executor/jtag_execute.h"

namespace dialogtest {

// Created at the first use, never freed: it must outlive every widget.
inline void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "orbesk_dialog_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = QApplication::instance() ? nullptr : new QApplication(argc, argv);
    (void)app;
}

class TRecordingExecuter : public TJtagExecuter {
public:
    void Message(const std::string& Text, MessageKind) override { Lines.push_back(Text); }
    bool PrepareCable() override { return false; }
    std::vector<std::string> Lines;
};

template <typename T>
T* Control(const QObject* Root, const char* Name)
{
    T* found = Root->findChild<T*>(Name);
    EXPECT_NE(found, nullptr) << Name;
    return found;
}

// Runs Steps on the dialog once its modal loop runs (the dialog of type T
// that is then modal), with a time limit after which the dialog is rejected
// so that a test that fails cannot hang.
template <typename T>
void WhenModal(std::function<void(T& Dialog)> Steps, int LimitMs = 10000)
{
    QTimer::singleShot(0, [Steps, LimitMs] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr) << "no modal dialog";
        QTimer::singleShot(LimitMs, dialog, [dialog] {
            ADD_FAILURE() << "dialog still open at the time limit";
            dialog->reject();
        });
        Steps(*dialog);
    });
}

} // namespace dialogtest
