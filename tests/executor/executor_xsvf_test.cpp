// The XSVF player through the executor on an emulated Varnel: a run stopped
// from the front end's thread ends as failed, plays nothing more, and the
// cable closes after it.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "executor_fixture.h"
#include "support/xsvf_bytes.h"
#include "xsvf/xsvf.h"

namespace {

using namespace exectest;
using xsvftest::TXsvf;

class TRegisterXsvf : public testing::Environment {
public:
    void SetUp() override { RegisterXsvfPlayer(); }
};
testing::Environment* const Xsvf = testing::AddGlobalTestEnvironment(new TRegisterXsvf);

// Holds the worker in the player's first warning until released.
class THoldingExecuter : public TTestExecuter {
public:
    void Message(const std::string& Text, MessageKind Kind) override
    {
        TTestExecuter::Message(Text, Kind);
        if (Kind == MessageKind::Warning && !FHeld.exchange(true)) {
            Entered.set_value();
            Released.wait();
        }
    }
    std::promise<void> Entered;
    std::shared_future<void> Released;

private:
    std::atomic<bool> FHeld{false};
};

class XsvfOnVarnel : public TExecutorTest {
protected:
    void SetUp() override
    {
        TExecutorTest::SetUp();
        Exec = std::make_unique<THoldingExecuter>();
        Exec->SelectedCable = 0x010001;
        Exec->DefFreq = 0;
        Folder = std::filesystem::temp_directory_path() / ("orbesk_exec_xsvf_" + std::to_string(getpid()));
        std::filesystem::create_directories(Folder);
        Load({Varnel("A6010001", R"("chain":[{"name":"only","ir_length":8,"idcode":{"opcode":1,"value":"0xF6E5F093"}}])")});
    }
    void TearDown() override
    {
        if (Exec) {
            Exec->CurrentFile.reset();
            Exec->CloseCable(false);
        }
        std::filesystem::remove_all(Folder);
        TExecutorTest::TearDown();
    }
    std::filesystem::path Folder;
};

TEST_F(XsvfOnVarnel, AStoppedRunEndsAsFailedAndTheCableIsClosed)
{
    auto& exec = static_cast<THoldingExecuter&>(*Exec);
    std::promise<void> release;
    exec.Released = release.get_future().share();
    TXsvf file = TXsvf().Repeat(2).Sir(8, 1).SdrSize(32).TdoMask(0xFFFFFFFF);
    for (int k = 0; k < 20; ++k)
        file.SdrTdo(0, 0xF6E5F093);
    const std::string path = (Folder / "run.xsvf").string();
    std::ofstream(path, std::ios::binary) << file.Complete().Bytes();

    ASSERT_TRUE(Exec->OpenAndStart(path));
    ASSERT_EQ(exec.Entered.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    Exec->CurrentFile->Stop();
    EXPECT_EQ(Exec->CurrentFile->GetStatus(), FileStatus::Running) << "asked to stop is not finished";
    release.set_value();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Exec->CurrentFile->GetStatus() == FileStatus::Running && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(Exec->CurrentFile->GetStatus(), FileStatus::Failed);
    EXPECT_EQ(Exec->CurrentFile->GetPosition(), 1) << "only the XREPEAT was done";
    EXPECT_THAT(TraceWith(" scan "), testing::IsEmpty()) << "nothing played after the stop";
    Exec->CloseCable(true);
    Exec->CurrentFile.reset();
    EXPECT_THAT(TraceWith("varnel:A6010001 close "), testing::Not(testing::IsEmpty()));
}

} // namespace
