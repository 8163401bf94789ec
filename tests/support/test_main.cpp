// The main of every test program: the cable search lock goes to a folder
// of this process's own, and the emulated cables keep no lock files unless
// the environment or a test names a folder for them, so that no test meets
// a program or another test run that holds the machine's locks, nor holds
// them itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class TPrivateLocks : public testing::Environment {
public:
    explicit TPrivateLocks(std::string Folder) : FFolder(std::move(Folder)) {}
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }

private:
    std::string FFolder;
};

std::string MakePrivateFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "orbesk-test-locks-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        perror("mkdtemp");
        std::exit(2);
    }
    return pattern;
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    setenv("ORBESK_SIM_LOCK_DIR", "", 0);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    const std::string folder = MakePrivateFolder();
    setenv("ORBESK_SEARCH_LOCK_DIR", folder.c_str(), 1);
    testing::AddGlobalTestEnvironment(new TPrivateLocks(folder));
    return RUN_ALL_TESTS();
}
