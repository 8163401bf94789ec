#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QtTest/QTest>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <tuple>

#include "resource.h"
#include "desktop/dialog_fixture.h"
#include "optionf.h"
#include "pngimage.h"
#include "radiogroup.h"
#include "updown.h"

namespace {

using dialogtest::Control;
using dialogtest::FirstItems;
using dialogtest::TSettings;

// Every field off its default and inside its range.
constexpr TSettings Unusual{5, 3, 4, 2, true, 4, 3, 3, 1, 37, true, 4, 42, 20, 50, 2500, true};

class OptionsDialog : public testing::Test {
protected:
    void SetUp() override
    {
        dialogtest::EnsureApplication();
        Form = std::make_unique<TOptionsForm>(nullptr);
        Form->Inform = [this](const QString& Text) { Notes.push_back(Text.toStdString()); };
    }

    // Load, then OK at once.
    TSettings RoundTrip(const TSettings& Loaded)
    {
        Loaded.Put(Executer);
        Form->Load(Executer);
        Form->Save(Executer);
        return TSettings::Of(Executer);
    }
    template <typename T>
    T* Find(const char* Name)
    {
        return Control<T>(Form.get(), Name);
    }
    QLineEdit* Edit(const char* Name) { return Find<QLineEdit>(Name); }
    void Leave(QLineEdit* Edit)
    {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(Edit, &out);
    }
    void Type(QLineEdit* Edit, const QString& Keys)
    {
        for (QChar c : Keys) {
            const bool back = c == '\b';
            QKeyEvent press(QEvent::KeyPress, back ? Qt::Key_Backspace : Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(Edit, &press);
        }
    }

    dialogtest::TRecordingExecuter Executer;
    std::unique_ptr<TOptionsForm> Form;
    std::vector<std::string> Notes;
};

TEST_F(OptionsDialog, EveryFieldRoundTripsThroughLoadAndOk)
{
    struct TCase {
        const char* Why;
        TSettings Loaded;
        TSettings Written;
    };
    TSettings outside = Unusual;
    outside.DefFreqRuntestTime = 5;
    outside.DefFreqRuntestPuls = 1; // item index -1
    outside.FreqToFast = 200;
    outside.VarnelVPPActive = 5;
    outside.VarnelVPPInactive = 4;
    outside.MirrowPActive = 4;
    outside.MirrowPInactive = 255;
    outside.RuntestRecalculate = 3;
    TSettings pulsHigh = Unusual;
    pulsHigh.DefFreqRuntestPuls = 5;
    TSettings clamped = Unusual;
    clamped.MirrowVddVal = 60;
    clamped.MirrowVddMin = 10;
    clamped.MirrowVddMax = -3;
    clamped.MirrowVddDelay = 5;
    clamped.SecurityTime = -5;
    TSettings clampedBack = clamped;
    clampedBack.MirrowVddVal = 55;
    clampedBack.MirrowVddMin = 18;
    clampedBack.MirrowVddMax = 18;
    clampedBack.MirrowVddDelay = 100;
    TSettings longDelay = Unusual;
    longDelay.MirrowVddDelay = 2000000;
    TSettings longDelayBack = longDelay;
    longDelayBack.MirrowVddDelay = 1000000;
    const TCase cases[] = {
        {"every choice at its first item", FirstItems, FirstItems},
        {"the defaults a new user starts from", dialogtest::DesktopDefaults(), dialogtest::DesktopDefaults()},
        {"every field off its default", Unusual, Unusual},
        {"values outside a group's items (and no recalculation button) keep their fields", outside, outside},
        {"a RUNTEST count clock past the items keeps its field", pulsHigh, pulsHigh},
        {"voltages and the delay are clamped, a negative coefficient stays", clamped, clampedBack},
        {"a delay past its range is clamped", longDelay, longDelayBack},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        SetUp();
        EXPECT_EQ(RoundTrip(c.Loaded), c.Written);
    }
}

TEST_F(OptionsDialog, DefaultFrequencyMapsToItsButtonAndBack)
{
    const struct {
        uint8_t Loaded;
        const char* Button; // nullptr: none checked
        uint8_t Written;
    } cases[] = {{0, "RBTCK3", 0},   {1, "RBTCK1", 1},   {2, "RBTCK500k", 2}, {5, "RBTCK5", 5},
                 {10, "RBTCK10", 10}, {15, "RBTCK15", 15}, {7, nullptr, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.Loaded));
        SetUp();
        TSettings s = Unusual;
        s.DefFreq = c.Loaded;
        s.Put(Executer);
        Form->Load(Executer);
        for (const char* name : {"RBTCK15", "RBTCK10", "RBTCK5", "RBTCK3", "RBTCK1", "RBTCK500k"})
            EXPECT_EQ(Find<QRadioButton>(name)->isChecked(), c.Button && std::string(name) == c.Button) << name;
        Form->Save(Executer);
        EXPECT_EQ(Executer.DefFreq, c.Written);
    }
}

TEST_F(OptionsDialog, LoadShowsTheValuesInTheControls)
{
    TSettings s = Unusual;
    s.MirrowVddVal = 60;
    s.DefFreqRuntestTime = 9;
    s.Put(Executer);
    Form->Load(Executer);
    EXPECT_EQ(Edit("MIRROWVDDEdit")->text(), "5.5");
    EXPECT_EQ(Edit("MIRROWVDDMinEdit")->text(), "2.0");
    EXPECT_EQ(Edit("ESecurTime")->text(), "37");
    EXPECT_EQ(Find<TRadioGroup>("RGRuntestTime")->ItemIndex(), -1);
    EXPECT_EQ(Find<TRadioGroup>("RGRuntestPuls")->ItemIndex(), 2);
    EXPECT_EQ(Find<TRadioGroup>("RGVarnelVPPActive")->ItemIndex(), 4);
    EXPECT_TRUE(Find<QRadioButton>("RBRecalculate1MHz")->isChecked());
    EXPECT_EQ(Find<QSpinBox>("MIRROWVDDDelaySpinEdit")->value(), 2500);
    EXPECT_EQ(Find<QTabWidget>("PageControl1")->currentWidget()->objectName(), "TabSheet2");
}

// A ready-made set over the Unusual settings: exactly its table, the VDD
// page as loaded.
TSettings WithDefaults(uint8_t DefFreq, int32_t SecurityTime, bool Only1000, uint8_t Recalculate, uint8_t RuntestTime)
{
    TSettings s = Unusual;
    s.DefFreq = DefFreq;
    s.IgnoreFreqCmd = true;
    s.FreqToFast = 3;
    s.SecurityTime = SecurityTime;
    s.RuntestRecalculateOnly1000TCK = Only1000;
    s.RuntestRecalculate = Recalculate;
    s.DefFreqRuntestTime = RuntestTime;
    s.DefFreqRuntestPuls = 2;
    s.VarnelVPPActive = s.VarnelVPPInactive = s.MirrowPActive = s.MirrowPInactive = 2;
    return s;
}

struct TDefaultsCase {
    const char* Button;
    TSettings Expected;
};
const TDefaultsCase DefaultsCases[] = {
    {"ButtonDefaultFPGA", WithDefaults(15, 0, true, 1, 1)},
    {"ButtonDefaultXC9500", WithDefaults(0, 100, false, 1, 0)},
    {"ButtonDefaultAVR", WithDefaults(1, 25, false, 2, 2)},
};

TEST_F(OptionsDialog, EachDefaultSetGivesExactlyItsTableOnOk)
{
    for (const TDefaultsCase& c : DefaultsCases) {
        SCOPED_TRACE(c.Button);
        Unusual.Put(Executer);
        Notes.clear();
        const bool ok = [&] {
            dialogtest::WhenModal<TOptionsForm>([&](TOptionsForm& Dialog) {
                Dialog.Inform = [this](const QString& Text) { Notes.push_back(Text.toStdString()); };
                Control<QPushButton>(&Dialog, c.Button)->click();
                EXPECT_TRUE(Control<TRadioGroup>(&Dialog, "RGRuntestAdj")->isEnabled());
                Control<QPushButton>(&Dialog, "Button1")->click();
            });
            return ShowOptionsDialog(nullptr, Executer);
        }();
        EXPECT_TRUE(ok);
        EXPECT_EQ(TSettings::Of(Executer), c.Expected);
        EXPECT_EQ(Notes, std::vector<std::string>{"These settings are preliminary and subject to change."});
    }
}

TEST_F(OptionsDialog, CancelChangesNothingAlsoAfterADefaultSet)
{
    for (const char* button : {"ButtonDefaultFPGA", "ButtonDefaultAVR"}) {
        SCOPED_TRACE(button);
        Unusual.Put(Executer);
        dialogtest::WhenModal<TOptionsForm>([&](TOptionsForm& Dialog) {
            Dialog.Inform = [](const QString&) {};
            Control<QPushButton>(&Dialog, button)->click();
            Control<QLineEdit>(&Dialog, "MIRROWVDDEdit")->setText("5.0");
            Control<QPushButton>(&Dialog, "Button2")->click();
        });
        EXPECT_FALSE(ShowOptionsDialog(nullptr, Executer));
        EXPECT_EQ(TSettings::Of(Executer), Unusual);
    }
}

// A player that is never started: it only makes the executor busy.
class TIdlePlayer : public TJtagFile {
public:
    TIdlePlayer() : TJtagFile("idle.svf") {}
    bool Start(int32_t) override { return true; }
    FileStatus GetStatus() override { return FileStatus::Running; }
    int32_t GetPosition() override { return 0; }
    int32_t GetSize() override { return 0; }
    void Stop() override {}
};

TEST_F(OptionsDialog, OkWaitsWhileAFilePlaysAndKeepsTheEdits)
{
    FirstItems.Put(Executer);
    Executer.CurrentFile = std::make_unique<TIdlePlayer>();
    dialogtest::WhenModal<TOptionsForm>([&](TOptionsForm& Dialog) {
        Dialog.Inform = [this](const QString& Text) { Notes.push_back(Text.toStdString()); };
        Control<QLineEdit>(&Dialog, "ESecurTime")->setText("12");
        Control<QPushButton>(&Dialog, "Button1")->click();
        EXPECT_TRUE(Dialog.isVisible());
        EXPECT_EQ(Executer.SecurityTime, 0);
        // The run ends while the dialog is open; OK now writes.
        Executer.CurrentFile.reset();
        Control<QPushButton>(&Dialog, "Button1")->click();
    });
    EXPECT_TRUE(ShowOptionsDialog(nullptr, Executer));
    EXPECT_EQ(Notes, std::vector<std::string>{"Please wait until file processing is done."});
    EXPECT_EQ(Executer.SecurityTime, 12);
}

TEST_F(OptionsDialog, VoltageEditsReadCommasAndNormaliseWhenLeft)
{
    const struct {
        const char* Typed;
        int Read;
        const char* Left;
    } cases[] = {
        {"3,3", 33, "3.3"}, {"abc", 0, "1.8"},      {"", 0, "1.8"},     {" 4.0 ", 40, "4.0"},
        {"3.25", 32, "3.2"}, {"0.75", 8, "1.8"},     {"-1", -10, "1.8"}, {"7", 70, "5.5"},
        {"1e20", 2147483647, "5.5"}, {"nan", 0, "1.8"},
    };
    for (const char* name : {"MIRROWVDDEdit", "MIRROWVDDMinEdit", "MIRROWVDDMaxEdit"})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(name) + " \"" + c.Typed + "\"");
            QLineEdit* edit = Edit(name);
            edit->setText(c.Typed);
            EXPECT_EQ(TOptionsForm::ReadVoltageEdit(edit), c.Read);
            Leave(edit);
            EXPECT_EQ(edit->text(), c.Left);
        }
}

// The ways a user leaves an edit: Tab, a click on another control, OK by
// mouse, and Enter (which presses OK).
enum class TLeave { Tab, ClickElsewhere, OkByMouse, Enter };

const char* LeaveName(TLeave Way)
{
    switch (Way) {
    case TLeave::Tab:
        return "Tab";
    case TLeave::ClickElsewhere:
        return "a click elsewhere";
    case TLeave::OkByMouse:
        return "OK by mouse";
    case TLeave::Enter:
        return "Enter";
    }
    return "";
}

TEST_F(OptionsDialog, EveryEditKeepsWhatWasTypedHoweverItIsLeft)
{
    const struct {
        const char* Edit;
        const char* Typed;
        const char* Shown; // once left
        // A control on the same page whose click takes the focus and
        // changes no setting.
        const char* Elsewhere;
        int32_t TJtagExecuter::*Field;
        int32_t Written;
    } edits[] = {
        {"ESecurTime", "77", "77", "RBRecalculateFreq", &TJtagExecuter::SecurityTime, 77},
        {"MIRROWVDDEdit", "4,2", "4.2", "MIRROWVDDMinEdit", &TJtagExecuter::MirrowVddVal, 42},
        {"MIRROWVDDEdit", "7", "5.5", "MIRROWVDDMaxEdit", &TJtagExecuter::MirrowVddVal, 55},
        {"MIRROWVDDMinEdit", "2.1", "2.1", "MIRROWVDDMaxEdit", &TJtagExecuter::MirrowVddMin, 21},
        {"MIRROWVDDMaxEdit", "5", "5.0", "MIRROWVDDEdit", &TJtagExecuter::MirrowVddMax, 50},
        {"MIRROWVDDDelaySpinEdit", "2500", "2500", "MIRROWVDDMinEdit", &TJtagExecuter::MirrowVddDelay, 2500},
    };
    for (const auto& e : edits)
        for (TLeave way : {TLeave::Tab, TLeave::ClickElsewhere, TLeave::OkByMouse, TLeave::Enter}) {
            SCOPED_TRACE(std::string(e.Edit) + " \"" + e.Typed + "\" left by " + LeaveName(way));
            TSettings loaded = FirstItems;
            loaded.RuntestRecalculate = 1;
            loaded.MirrowVddOut = true;
            loaded.Put(Executer);
            dialogtest::WhenModal<TOptionsForm>([&](TOptionsForm& Dialog) {
                ASSERT_TRUE(QTest::qWaitForWindowActive(&Dialog));
                auto* pages = Control<QTabWidget>(&Dialog, "PageControl1");
                auto* edit = Control<QWidget>(&Dialog, e.Edit);
                auto* ok = Control<QPushButton>(&Dialog, "Button1");
                for (int i = 0; i < pages->count(); ++i)
                    if (pages->widget(i)->isAncestorOf(edit))
                        pages->setCurrentIndex(i);
                QTest::mouseClick(edit, Qt::LeftButton);
                QWidget* typing = QApplication::focusWidget();
                ASSERT_TRUE(typing == edit || edit->isAncestorOf(typing));
                // The whole text selected, typed over.
                QTest::keyClick(typing, Qt::Key_End);
                QTest::keyClick(typing, Qt::Key_Home, Qt::ShiftModifier);
                QTest::keyClicks(typing, e.Typed);
                switch (way) {
                case TLeave::Tab:
                    QTest::keyClick(typing, Qt::Key_Tab);
                    break;
                case TLeave::ClickElsewhere:
                    QTest::mouseClick(Control<QWidget>(&Dialog, e.Elsewhere), Qt::LeftButton);
                    break;
                case TLeave::OkByMouse:
                    QTest::mouseClick(ok, Qt::LeftButton);
                    return;
                case TLeave::Enter:
                    QTest::keyClick(typing, Qt::Key_Return);
                    return;
                }
                EXPECT_FALSE(edit->hasFocus() || edit->isAncestorOf(QApplication::focusWidget()));
                EXPECT_EQ(edit->property("text").toString().toStdString(), e.Shown);
                QTest::mouseClick(ok, Qt::LeftButton);
            });
            EXPECT_TRUE(ShowOptionsDialog(nullptr, Executer));
            EXPECT_EQ(Executer.*e.Field, e.Written);
        }
}

TEST_F(OptionsDialog, TabVisitsEachPageTopToBottomThenOkCancelManual)
{
    // From the tab bar round to it again; a set of radio buttons is one
    // stop, at its checked button (the arrow keys move within it).
    const std::vector<std::vector<std::string>> expected = {
        {"RBTCK3", "ChBIgnoreFreq"},
        {"RBRecalculateFreq", "RGRuntestAdj_0", "ESecurTime"},
        {"RGRuntestTime_2", "RGRuntestPuls_1"},
        {"RGVarnelVPPActive_2", "RGVarnelVPPInactive_3"},
        {"RGMirrowPActive_2", "RGMirrowPInactive_3", "RGFastClock_1"},
        {"MIRROWVDDCheckBox", "MIRROWVDDEdit", "MIRROWVDDDelaySpinEdit", "MIRROWVDDMinEdit", "MIRROWVDDMaxEdit"},
        {"ButtonDefaultFPGA", "ButtonDefaultXC9500", "ButtonDefaultAVR"},
    };
    dialogtest::DesktopDefaults().Put(Executer);
    Executer.MirrowVddOut = true;
    Form->Load(Executer);
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    auto* pages = Find<QTabWidget>("PageControl1");
    ASSERT_EQ(pages->count(), static_cast<int>(expected.size()));
    for (int i = 0; i < pages->count(); ++i) {
        SCOPED_TRACE(pages->tabText(i).toStdString());
        pages->setCurrentIndex(i);
        pages->tabBar()->setFocus(Qt::TabFocusReason);
        std::vector<std::string> visited;
        for (int n = 0; n < 40; ++n) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* w = QApplication::focusWidget();
            if (w == pages->tabBar())
                break;
            visited.push_back(w ? w->objectName().toStdString() : "(none)");
        }
        std::vector<std::string> want = expected[static_cast<size_t>(i)];
        want.insert(want.end(), {"Button1", "Button2", "ButtonHelp"});
        EXPECT_EQ(visited, want);
    }

    // The arrow keys check the next button, and Tab comes back to it; a set
    // with none checked is entered at its first button.
    pages->setCurrentIndex(0);
    QTest::mouseClick(Find<QRadioButton>("RBTCK3"), Qt::LeftButton);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_TRUE(Find<QRadioButton>("RBTCK1")->isChecked());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), Find<QRadioButton>("RBTCK1"));
    Find<TRadioGroup>("RGRuntestTime")->SetItemIndex(-1);
    pages->setCurrentIndex(2);
    pages->tabBar()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Find<QRadioButton>("RGRuntestTime_0"));
}

TEST_F(OptionsDialog, UpDownButtonsStepTheirOwnEditByATenthWithinTheLimits)
{
    const struct {
        const char* Start;
        bool Up;
        const char* Result;
    } cases[] = {{"3.3", true, "3.4"}, {"5.5", true, "5.5"}, {"1.8", false, "1.8"},
                 {"3,3", false, "3.2"}, {"abc", true, "1.8"}, {"9", false, "5.5"}};
    const struct {
        const char* Edit;
        const char* Button;
    } pairs[] = {{"MIRROWVDDEdit", "MIRROWVDDSpinButton"},
                 {"MIRROWVDDMinEdit", "MIRROWVDDMinSpinButton"},
                 {"MIRROWVDDMaxEdit", "MIRROWVDDMaxSpinButton"}};
    Find<QCheckBox>("MIRROWVDDCheckBox")->setChecked(true);
    for (const auto& p : pairs)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(p.Button) + " on " + c.Start + (c.Up ? " up" : " down"));
            for (const auto& q : pairs)
                Edit(q.Edit)->setText("2.5");
            Edit(p.Edit)->setText(c.Start);
            TUpDown* button = Find<TUpDown>(p.Button);
            (c.Up ? button->UpButton() : button->DownButton())->click();
            for (const auto& q : pairs)
                EXPECT_EQ(Edit(q.Edit)->text(), q.Edit == p.Edit ? c.Result : "2.5") << q.Edit;
        }
}

TEST_F(OptionsDialog, OkNormalisesTheVoltageEditsAsLeavingThemWould)
{
    FirstItems.Put(Executer);
    Form->Load(Executer);
    Edit("MIRROWVDDEdit")->setText("33"); // 3.3 V meant; 33 V must not reach the cable
    Edit("MIRROWVDDMinEdit")->setText("2,45");
    Edit("MIRROWVDDMaxEdit")->setText("x");
    Form->Save(Executer);
    EXPECT_EQ(Executer.MirrowVddVal, 55);
    EXPECT_EQ(Executer.MirrowVddMin, 24);
    EXPECT_EQ(Executer.MirrowVddMax, 18);
}

TEST_F(OptionsDialog, CoefficientEditTakesOnlyDigitsAndBackspace)
{
    QLineEdit* edit = Edit("ESecurTime");
    edit->clear();
    Type(edit, "1a-2\b5 .x9");
    EXPECT_EQ(edit->text(), "159");

    // Pasted text that is no whole number gives 0.
    for (const char* pasted : {"", "12a", "99999999999", "1.5"}) {
        SCOPED_TRACE(pasted);
        edit->setText(pasted);
        Form->Save(Executer);
        EXPECT_EQ(Executer.SecurityTime, 0);
    }
}

TEST_F(OptionsDialog, DelayTextThatIsNoWholeNumberGivesTheLowestDelay)
{
    auto* spin = Find<QSpinBox>("MIRROWVDDDelaySpinEdit");
    auto* text = spin->findChild<QLineEdit*>();
    ASSERT_NE(text, nullptr);
    const struct {
        const char* Typed;
        int32_t Written;
    } cases[] = {{"2500", 2500}, {"", 100}, {"abc", 100}, {"50", 100}, {"9999999", 1000000}};
    for (const auto& c : cases) {
        spin->setValue(10000);
        text->setText(c.Typed);
        Form->Save(Executer);
        EXPECT_EQ(Executer.MirrowVddDelay, c.Written) << '"' << c.Typed << '"';
    }
}

TEST_F(OptionsDialog, VddControlsFollowTheirBoxAndTheLimitsStayEnabled)
{
    const char* const switched[] = {"MIRROWVDDEdit", "MIRROWVDDSpinButton", "MIRROWVDDDelaySpinEdit"};
    const char* const always[] = {"MIRROWVDDMinEdit", "MIRROWVDDMinSpinButton", "MIRROWVDDMaxEdit",
                                  "MIRROWVDDMaxSpinButton"};
    auto expectSwitched = [&](bool On) {
        for (const char* name : switched)
            EXPECT_EQ(Find<QWidget>(name)->isEnabled(), On) << name;
        for (const char* name : always)
            EXPECT_TRUE(Find<QWidget>(name)->isEnabled()) << name;
    };
    expectSwitched(false); // as laid out
    FirstItems.Put(Executer);
    Form->Load(Executer);
    expectSwitched(false);
    Executer.MirrowVddOut = true;
    Form->Load(Executer);
    expectSwitched(true);
    Find<QCheckBox>("MIRROWVDDCheckBox")->click();
    expectSwitched(false);
    Find<QCheckBox>("MIRROWVDDCheckBox")->click();
    expectSwitched(true);
}

TEST_F(OptionsDialog, AdjustmentGroupIsEnabledUnlessRecalculationIsNotApplied)
{
    const struct {
        uint8_t Loaded;
        bool Enabled;
    } loads[] = {{0, false}, {1, true}, {2, true}, {0, false}};
    for (const auto& l : loads) {
        SCOPED_TRACE(int(l.Loaded));
        SetUp();
        Executer.RuntestRecalculate = l.Loaded;
        Form->Load(Executer);
        EXPECT_EQ(Find<TRadioGroup>("RGRuntestAdj")->isEnabled(), l.Enabled);
    }
    SetUp();
    TRadioGroup* adj = Find<TRadioGroup>("RGRuntestAdj");
    for (const auto& [button, enabled] : {std::pair{"RBRecalculateNA", false}, std::pair{"RBRecalculateFreq", true},
                                          std::pair{"RBRecalculateNA", false}, std::pair{"RBRecalculate1MHz", true}}) {
        Find<QRadioButton>(button)->click();
        EXPECT_EQ(adj->isEnabled(), enabled) << button;
    }
}

std::vector<unsigned char> ReadFile(const std::filesystem::path& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(OptionsDialog, ConnectorPicturesDecodeToTheirSizesAndSizeTheirImages)
{
    const std::filesystem::path resources = std::filesystem::path(__FILE__).parent_path() / "../../resources";
    const struct {
        const char* Resource;
        const char* File;
        const char* Image;
        QSize Size;
    } cases[] = {{"VarnelJtagConnectorPng", "varnel_connector.png", "ImageVarnel", {261, 115}},
                 {"MirrowJtagConnectorPng", "mirrow_connector.png", "ImageMirrow", {271, 128}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        const platform::TResource* png = platform::FindResource(c.Resource);
        ASSERT_NE(png, nullptr);
        const std::vector<unsigned char> file = ReadFile(resources / c.File);
        EXPECT_EQ(std::vector<unsigned char>(png->Data, png->Data + png->Size), file)
            << "the program does not carry the file's bytes";
        ASSERT_GT(file.size(), 26u);
        EXPECT_EQ(file[25], 3) << "not a palette PNG";
        const QImage image = DecodePng(png->Data, png->Size);
        EXPECT_EQ(image.size(), c.Size);
        EXPECT_GT(image.pixelColor(0, 0).lightness(), 200); // a white ground
        EXPECT_EQ(Find<QLabel>(c.Image)->pixmap().size(), c.Size);
        EXPECT_EQ(Find<QLabel>(c.Image)->size(), c.Size);
    }
    const unsigned char notPng[] = {0x89, 'P', 'N', 'G', 0, 0};
    EXPECT_TRUE(DecodePng(notPng, sizeof notPng).isNull());
    const platform::TResource* varnel = platform::FindResource("VarnelJtagConnectorPng");
    ASSERT_NE(varnel, nullptr);
    std::vector<unsigned char> cut(varnel->Data, varnel->Data + 100);
    EXPECT_TRUE(DecodePng(cut.data(), cut.size()).isNull());
}

} // namespace
