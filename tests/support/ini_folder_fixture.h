// A fresh folder per test holding an orbesk.ini path, removed with what is
// in it; for the tests of the INI layer and of the settings readers.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "inifile.h"

class TIniFolderTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = testing::TempDir() + "orbesk-ini-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        Folder = pattern;
        Path = Folder + "/orbesk.ini";
    }
    void TearDown() override
    {
        platform::SetIniWriteLimitForTest(-1);
        std::error_code ignored;
        std::filesystem::remove_all(Folder, ignored);
    }

    static void Put(const std::string& Name, const std::string& Text)
    {
        std::ofstream(Name, std::ios::binary) << Text;
    }
    static std::string Get(const std::string& Name)
    {
        std::ifstream in(Name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::string Folder;
    std::string Path;
};
