// Runs a test inside a fresh temporary folder and returns to the old one afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TempCwd : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tamrel_test_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_ = tmpl);
        setenv("XDG_CONFIG_HOME", tmpl, 1);  // no user's own config.cfg or flash_db.cfg
    }
    void TearDown() override {
        std::filesystem::current_path(old_), std::filesystem::remove_all(dir_);
    }
    static void Write(const char* f, const std::string& s) { std::ofstream(f) << s; }
    static std::string Read(const char* name) {
        std::ifstream f(name);
        return {std::istreambuf_iterator<char>(f), {}};
    }

    std::filesystem::path dir_, old_;
};
