#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/TestFiles.h"

// A test with a folder of its own, removed after it.
class TempDirTest : public testing::Test {
protected:
    explicit TempDirTest(std::string const& prefix) : dir(makeTempDir(prefix)) {}
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Writes `text` to the folder's `name`; its path.
    std::string file(std::string const& name, std::string const& text) const {
        std::ofstream(dir + "/" + name) << text;
        return dir + "/" + name;
    }

    std::string const dir;
};
