#pragma once
// A form for a test: a recorder as its operator, a settings store of its own, and a scratch
// folder for the rest.

#include <filesystem>
#include <string>

#include "form/form.h"
#include "settings/settings_store.h"
#include "tests/support/recorder.h"
#include "tests/support/test_env.h"

namespace kordb::test {

struct FormFixture {
    // The program's folder is dir / program.
    explicit FormFixture(const std::string& name, const std::string& program = "bin")
        : dir(scratchDir(name)), store(dir / "config"), form(ui, store, dir / program) {}
    std::filesystem::path dir;
    Recorder ui;
    SettingsStore store;
    Form form;
};

}  // namespace kordb::test
