// Shared by the dialog tests: one application object for the program, an
// executor that only records, controls found by their object names, and a
// dialog driven from inside its own modal loop.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <ostream>
#include <tuple>
#include <string>
#include <vector>

#include "executor/jtag_execute.h"
#include "settings/settings.h"

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

// Every settings field the dialog edits, as one value.
struct TSettings {
    uint8_t DefFreq, DefFreqRuntestTime, DefFreqRuntestPuls, RuntestRecalculate;
    bool RuntestRecalculateOnly1000TCK;
    uint8_t VarnelVPPActive, MirrowPActive, VarnelVPPInactive, MirrowPInactive;
    int32_t SecurityTime;
    bool IgnoreFreqCmd;
    uint8_t FreqToFast;
    int32_t MirrowVddVal, MirrowVddMin, MirrowVddMax, MirrowVddDelay;
    bool MirrowVddOut;

    auto Tie() const
    {
        return std::tie(DefFreq, DefFreqRuntestTime, DefFreqRuntestPuls, RuntestRecalculate,
                        RuntestRecalculateOnly1000TCK, VarnelVPPActive, MirrowPActive, VarnelVPPInactive,
                        MirrowPInactive, SecurityTime, IgnoreFreqCmd, FreqToFast, MirrowVddVal, MirrowVddMin,
                        MirrowVddMax, MirrowVddDelay, MirrowVddOut);
    }
    bool operator==(const TSettings& Other) const { return Tie() == Other.Tie(); }

    void Put(TJtagExecuter& E) const
    {
        std::tie(E.DefFreq, E.DefFreqRuntestTime, E.DefFreqRuntestPuls, E.RuntestRecalculate,
                 E.RuntestRecalculateOnly1000TCK, E.VarnelVPPActive, E.MirrowPActive, E.VarnelVPPInactive,
                 E.MirrowPInactive, E.SecurityTime, E.IgnoreFreqCmd, E.FreqToFast, E.MirrowVddVal, E.MirrowVddMin,
                 E.MirrowVddMax, E.MirrowVddDelay, E.MirrowVddOut) = Tie();
    }
    static TSettings Of(const TJtagExecuter& E)
    {
        return {E.DefFreq,         E.DefFreqRuntestTime, E.DefFreqRuntestPuls, E.RuntestRecalculate,
                E.RuntestRecalculateOnly1000TCK, E.VarnelVPPActive, E.MirrowPActive, E.VarnelVPPInactive,
                E.MirrowPInactive, E.SecurityTime,       E.IgnoreFreqCmd,      E.FreqToFast,
                E.MirrowVddVal,    E.MirrowVddMin,       E.MirrowVddMax,       E.MirrowVddDelay,
                E.MirrowVddOut};
    }
};

inline std::ostream& operator<<(std::ostream& Out, const TSettings& S)
{
    return Out << "DefFreq " << int(S.DefFreq) << ", RuntestTime " << int(S.DefFreqRuntestTime) << ", RuntestPuls "
               << int(S.DefFreqRuntestPuls) << ", Recalculate " << int(S.RuntestRecalculate) << ", Only1000 "
               << S.RuntestRecalculateOnly1000TCK << ", VPPActive " << int(S.VarnelVPPActive) << ", PActive "
               << int(S.MirrowPActive) << ", VPPInactive " << int(S.VarnelVPPInactive) << ", PInactive "
               << int(S.MirrowPInactive) << ", SecurityTime " << S.SecurityTime << ", IgnoreFreq "
               << S.IgnoreFreqCmd << ", FreqToFast " << int(S.FreqToFast) << ", Vdd " << S.MirrowVddVal << " "
               << S.MirrowVddMin << " " << S.MirrowVddMax << ", Delay " << S.MirrowVddDelay << ", VddOut "
               << S.MirrowVddOut;
}

// Every choice at its first item (the RUNTEST count clock's first is 2),
// every box clear, no coefficient, and the voltages and delay the form is
// laid out with.
constexpr TSettings FirstItems{0, 0, 2, 0, false, 0, 0, 0, 0, 0, false, 0, 33, 18, 55, 10000, false};

// What a new user starts from: the desktop's settings read where there is
// no file (a path below a file cannot name one).
inline TSettings DesktopDefaults()
{
    TRecordingExecuter executer;
    bool writeComments = true;
    LoadSettings("/dev/null/orbesk.ini", executer, writeComments);
    return TSettings::Of(executer);
}

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
