// A fresh scripted desktop and a fresh executable folder for each test.
#pragma once

#include "app/Application.h"
#include "config/AppConfig.h"
#include "forms/BackForm.h"
#include "forms/LoginForm.h"
#include "forms/MainForm.h"
#include "framework/headless/platform.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace testsupport {

// Runs Main; true when the program ended itself during it.
inline bool runMain() {
    try {
        app::Main();
    } catch (const fw::headless::ProgramEnded&) {
        return true;
    }
    return false;
}

// The run's window references are set once per process in the real
// launcher; each test starts from none.
inline void forgetWindows() {
    app::mainForm.reset();
    app::loginForm.reset();
    app::backForm.reset();
    fw::Form::destroyRetired();
}

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override { p.folder = dir.string(); }
    void TearDown() override { forgetWindows(); }

    std::filesystem::path ini() const { return dir / "launcher.ini"; }
    void writeConfig(const std::string& text) { writeFile(ini(), text); }
    std::string config() const { return readFile(ini()); }

    // A configuration the launcher accepts, with no version check server.
    static std::string validConfig(const std::string& extra = "") {
        return "[common]\r\nversion=1.00\r\n[platform]\r\nloginUrl=http://127.0.0.1:1/login\r\n"
               "mainUrl=game.html\r\nhomeUrl=http://home\r\n[install]\r\n"
               "installTime=[2001-02-03 04:05:06]\r\n" +
               extra;
    }

    static bool runMain() { return testsupport::runMain(); }

    fw::headless::WindowRecord& record(fw::Form& f) {
        auto* r = p.find(f);
        if (!r) throw std::logic_error("window not loaded");
        return *r;
    }

    fw::headless::HeadlessPlatform p;
    ScratchFolder scratch;
    std::filesystem::path dir = scratch.path();
};

} // namespace testsupport
