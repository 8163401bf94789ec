#include <gtest/gtest.h>

#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <chrono>
#include <string>
#include <vector>

#include "desktop/dialog_fixture.h"
#include "jtagself.h"
#include "radiogroup.h"
#include "usb/usb_fixture.h"

namespace {

using dialogtest::Control;

// One cable of the emulated driver's device list.
struct TCable {
    uint16_t Vid;
    uint16_t Pid;
    const char* Serial;
};
constexpr TCable Varnel1{0x0403, 0xF1A0, "A6012345"};
constexpr TCable Varnel2{0x0403, 0xF1A0, "A6010002"};
constexpr TCable Mirrow1{0xA600, 0xA003, "A6040123"};
constexpr TCable Druvel1{0xA600, 0xDBCA, "A6AB0001"};
constexpr TCable OtherFtdi{0x0403, 0x6001, "FT4Z1X9A"};
constexpr int32_t Varnel1Id = 0x012345, Varnel2Id = 0x010002, Mirrow1Id = 0x02040123, Druvel1Id = 0x7BAB0001;

class SelectionDialog : public usbtest::TDriverTest {
protected:
    void SetUp() override
    {
        dialogtest::EnsureApplication();
        TDriverTest::SetUp();
        LoadVariant("plain");
    }
    void Plug(const std::vector<TCable>& Cables)
    {
        std::string list;
        for (const TCable& c : Cables)
            list += std::string(list.empty() ? "" : ",") + "{\"vid\":" + std::to_string(c.Vid) +
                    ",\"pid\":" + std::to_string(c.Pid) + ",\"serial\":\"" + c.Serial + "\"}";
        Sim->Load("{\"devices\":[" + list + "]}");
    }
    static TRadioGroup& Group(const TJTAGVarnelSelectionForm& Form) { return *Control<TRadioGroup>(&Form, "RadioGroup"); }
    static std::vector<std::string> Entries(const TJTAGVarnelSelectionForm& Form)
    {
        std::vector<std::string> texts;
        for (const QString& t : Group(Form).Items())
            texts.push_back(t.toStdString());
        return texts;
    }

    dialogtest::TRecordingExecuter Executer;
};

TEST_F(SelectionDialog, ListsVarnelsThenMirrowsThenDruvelsInSearchOrder)
{
    Plug({Druvel1, Varnel1, OtherFtdi, Mirrow1, Varnel2});
    TJTAGVarnelSelectionForm form(nullptr);
    EXPECT_EQ(form.windowTitle(), "Select Programmer");
    EXPECT_EQ(Group(form).title(), "Programmer Serial Number");
    EXPECT_EQ(Entries(form), (std::vector<std::string>{"VARNEL S/N A6012345", "VARNEL S/N A6010002",
                                                       "MIRROW S/N A6040123", "DRUVEL S/N A6AB0001"}));
    EXPECT_EQ(form.SelectedProgrammer(), -1);
    const int32_t ids[] = {Varnel1Id, Varnel2Id, Mirrow1Id, Druvel1Id};
    for (int i = 0; i < 4; ++i) {
        Group(form).Button(i)->click();
        EXPECT_EQ(form.SelectedProgrammer(), ids[i]) << i;
    }
    EXPECT_EQ(form.Timer->interval(), 1000);
    EXPECT_TRUE(form.Timer->isActive());
}

TEST_F(SelectionDialog, NothingListedWithoutCablesOrWithoutTheDriver)
{
    Plug({OtherFtdi});
    TJTAGVarnelSelectionForm none(nullptr);
    EXPECT_TRUE(Entries(none).empty());
    Plug({Varnel1});
    FtUnload();
    TJTAGVarnelSelectionForm unloaded(nullptr);
    EXPECT_TRUE(Entries(unloaded).empty());
    EXPECT_EQ(unloaded.SelectedProgrammer(), -1);
}

TEST_F(SelectionDialog, RefreshKeepsTheSelectionOnTheChosenCable)
{
    struct TCase {
        const char* Why;
        std::vector<TCable> Before;
        int32_t Chosen; // -1: none
        std::vector<TCable> After;
        int32_t Selected;
        int Entries;
    };
    const TCase cases[] = {
        {"a cable plugged in before it", {Varnel1, Mirrow1}, Mirrow1Id, {Varnel1, Varnel2, Mirrow1}, Mirrow1Id, 3},
        {"another cable unplugged before it", {Varnel1, Varnel2, Mirrow1}, Varnel2Id, {Varnel2, Mirrow1}, Varnel2Id, 2},
        {"the chosen cable unplugged: none, not its neighbour", {Varnel1, Varnel2}, Varnel2Id, {Varnel1}, -1, 1},
        {"the last entry unplugged", {Varnel1, Mirrow1}, Mirrow1Id, {Varnel1}, -1, 1},
        {"every cable unplugged", {Varnel1}, Varnel1Id, {}, -1, 0},
        {"nothing chosen stays so", {Varnel1}, -1, {Varnel1, Druvel1}, -1, 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Plug(c.Before);
        TJTAGVarnelSelectionForm form(nullptr);
        form.SelectProgrammerItem(c.Chosen);
        Plug(c.After);
        form.TimerTimer();
        EXPECT_EQ(form.SelectedProgrammer(), c.Selected);
        EXPECT_EQ(Group(form).Count(), c.Entries);
    }
}

TEST_F(SelectionDialog, AnUnchangedSetOfCablesIsNotRebuilt)
{
    Plug({Varnel1, Mirrow1});
    TJTAGVarnelSelectionForm form(nullptr);
    Group(form).Button(1)->click();
    // Watched, as a rebuilt button may reuse a freed one's address.
    const QPointer<QRadioButton> first = Group(form).Button(0);
    const QPointer<QRadioButton> second = Group(form).Button(1);
    Plug({Varnel1, Mirrow1});
    form.TimerTimer();
    form.TimerTimer();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(Group(form).Button(0), first);
    EXPECT_EQ(Group(form).Button(1), second);
    EXPECT_TRUE(second->isChecked());
}

TEST_F(SelectionDialog, SelectProgrammerItemMarksOnlyAListedCable)
{
    Plug({Varnel1, Mirrow1, Druvel1});
    TJTAGVarnelSelectionForm form(nullptr);
    const struct {
        int32_t Wanted;
        int32_t Selected;
    } steps[] = {{Druvel1Id, Druvel1Id}, {-1, Druvel1Id}, {Varnel2Id, Druvel1Id}, {Varnel1Id, Varnel1Id},
                 // The Mirrow's serial under the Varnel's kind byte is no listed cable.
                 {Mirrow1Id & 0xFFFFFF, Varnel1Id}};
    for (const auto& s : steps) {
        form.SelectProgrammerItem(s.Wanted);
        EXPECT_EQ(form.SelectedProgrammer(), s.Selected) << std::hex << s.Wanted;
    }
}

// ChooseProgrammer as the main window calls it, the dialog driven from
// inside its modal loop.
TEST_F(SelectionDialog, ChooseProgrammerOpensOnTheCurrentCableAndStoresOnlyOnOk)
{
    struct TCase {
        const char* Why;
        int32_t Current;
        int32_t OpensWith;
        int Click;          // entry to click first, -1 none
        const char* Button; // ButtonOK or ButtonCancel
        bool Result;
        int32_t Stored;
    };
    const TCase cases[] = {
        {"a connected cable is marked; OK keeps it", Mirrow1Id, Mirrow1Id, -1, "ButtonOK", true, Mirrow1Id},
        {"OK stores the entry clicked", Mirrow1Id, Mirrow1Id, 0, "ButtonOK", true, Varnel1Id},
        {"automatic choice opens with none; OK with none stores -1", -1, -1, -1, "ButtonOK", true, -1},
        {"a cable not connected opens with none", Varnel2Id, -1, -1, "ButtonOK", true, -1},
        {"Cancel keeps the current cable", Mirrow1Id, Mirrow1Id, 2, "ButtonCancel", false, Mirrow1Id},
        {"Cancel keeps a cable not connected", Varnel2Id, -1, 0, "ButtonCancel", false, Varnel2Id},
    };
    Plug({Varnel1, Mirrow1, Druvel1});
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Executer.SelectedCable = c.Current;
        dialogtest::WhenModal<TJTAGVarnelSelectionForm>([&](TJTAGVarnelSelectionForm& Dialog) {
            EXPECT_EQ(Dialog.SelectedProgrammer(), c.OpensWith);
            // A refresh of the same cables leaves the mark alone.
            Dialog.TimerTimer();
            EXPECT_EQ(Dialog.SelectedProgrammer(), c.OpensWith);
            if (c.Click >= 0)
                Group(Dialog).Button(c.Click)->click();
            Control<QPushButton>(&Dialog, c.Button)->click();
        });
        EXPECT_EQ(ChooseProgrammer(nullptr, Executer), c.Result);
        EXPECT_EQ(Executer.SelectedCable, c.Stored);
    }
}

TEST_F(SelectionDialog, CablePluggedInWhileOpenIsListedWithinAboutASecond)
{
    Plug({Varnel1});
    Executer.SelectedCable = Varnel1Id;
    const auto start = std::chrono::steady_clock::now();
    double listedAfter = -1;
    dialogtest::WhenModal<TJTAGVarnelSelectionForm>([&](TJTAGVarnelSelectionForm& Dialog) {
        Plug({Varnel1, Mirrow1});
        auto* poll = new QTimer(&Dialog);
        QObject::connect(poll, &QTimer::timeout, &Dialog, [&, poll] {
            if (Group(Dialog).Count() < 2)
                return;
            poll->stop();
            listedAfter = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_EQ(Dialog.SelectedProgrammer(), Varnel1Id);
            Group(Dialog).Button(1)->click();
            Control<QPushButton>(&Dialog, "ButtonOK")->click();
        });
        poll->start(20);
    });
    EXPECT_TRUE(ChooseProgrammer(nullptr, Executer));
    EXPECT_EQ(Executer.SelectedCable, Mirrow1Id);
    EXPECT_GT(listedAfter, 0.5);
    EXPECT_LT(listedAfter, 3.0);
}

} // namespace
