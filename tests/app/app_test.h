// The fixture every app test starts from: an empty settings store, a
// scripted dialog service that records what the user would have seen, and a
// program folder of its own (empty: no hand cursor, no skin, no sample).
#pragma once

#include "shell/chrome.h"
#include "shell/dialogs.h"
#include "shell/scripted_dialogs.h"
#include "shell/settings.h"
#include "test_support.h"
#include "value/value.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include <memory>

namespace qm::test {

inline QString qs(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

class AppTest : public ::testing::Test {
protected:
    AppTest() : scope_(dialogs)
    {
        QFile::remove(shell::SettingsFilePath());
        shell::SetProgramFolder(qs(programFolder.path()));
    }
    ~AppTest() override { shell::SetProgramFolder(QString()); }

    shell::ScriptedDialogService dialogs;
    TempDir programFolder;
    TempDir scratch;

private:
    shell::ScopedDialogService scope_;
};

} // namespace qm::test
