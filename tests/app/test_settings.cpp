// The settings store: what goes in comes back unchanged, unwritten keys read
// as their defaults, and the file that holds the password in clear text is
// private to its owner.

#include "app_test.h"

#include <QFileInfo>
#include <QSettings>

#include <sys/stat.h>

using namespace qm::shell;

namespace {

class Settings : public qm::test::AppTest {};

mode_t modeOf(const QString& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st.st_mode & 07777;
}

TEST_F(Settings, LivesUnderTheScratchConfigFolderAsHarrowgate)
{
    const QString expected = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + "/Harrowgate/Harrowgate.conf";
    EXPECT_EQ(SettingsFilePath(), expected);
}

TEST_F(Settings, ValuesComeBackExactlyAsWritten)
{
    // Texts that an INI writer is tempted to reinterpret: lists, variants,
    // escapes, blanks at the ends, non-ASCII paths.
    const QStringList values = {
        "C:\\data\\shop.dbc",
        "/home/anna/FoxPro data/orders;2016.dbc",
        "a, b, c",
        "@Invalid()",
        "@String(x)",
        "  padded  ",
        "\"quoted\" and 'single'",
        "percent %41 and =equals= and [brackets] # hash",
        "Zürich – Ærøskøbing ✓",
        "line one\nline two",
        "0",
    };
    for (const QString& v : values) {
        SaveSetting(key::AccessPassword, v);
        EXPECT_EQ(GetSetting(key::AccessPassword), v) << v.toStdString();
    }
    SaveSetting(key::AccessPassword, QString());
    EXPECT_EQ(GetSetting(key::AccessPassword, "default"), QString());
}

TEST_F(Settings, EveryKeyKeepsItsOwnValue)
{
    const char* keys[] = {key::DBCFile, key::FreeTableFolder, key::FoxproOption, key::AccessMDBFile,
                          key::AccessPassword, key::WithDataTypeChange1, key::WithDataTypeChange2};
    int n = 0;
    for (const char* k : keys)
        SaveSetting(k, QStringLiteral("value %1").arg(++n));
    n = 0;
    for (const char* k : keys)
        EXPECT_EQ(GetSetting(k), QStringLiteral("value %1").arg(++n)) << k;
}

TEST_F(Settings, UnwrittenKeysReadAsTheirDefaults)
{
    EXPECT_EQ(GetSetting(key::DBCFile), QString());
    EXPECT_EQ(GetSetting(key::FoxproOption), QString());
    EXPECT_EQ(GetSetting(key::WithDataTypeChange1, "0"), "0");
    EXPECT_EQ(GetSetting(key::WithDataTypeChange2, "0"), "0");
}

TEST_F(Settings, TheSectionIsQuillmereAndTheFileIsPlainText)
{
    SaveSetting(key::AccessPassword, "s3cret");
    SaveSetting(key::WithDataTypeChange1, "1");
    QSettings raw(SettingsFilePath(), QSettings::IniFormat);
    EXPECT_EQ(raw.value("Quillmere/AccessPassword").toString(), "s3cret");
    EXPECT_EQ(raw.value("Quillmere/With Data Type Change 1").toString(), "1");
    EXPECT_TRUE(qm::test::readFile(SettingsFilePath().toStdString()).find("s3cret") != std::string::npos);
}

TEST_F(Settings, FileIsPrivateAfterEveryWriteAndItsFolderIsNotWorldReadable)
{
    const QString folder = QFileInfo(SettingsFilePath()).absolutePath();
    QDir().mkpath(folder);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);

    SaveSetting(key::AccessPassword, "first");
    EXPECT_EQ(modeOf(SettingsFilePath()), mode_t(0600));
    EXPECT_EQ(modeOf(folder), mode_t(0700));

    // Someone loosened it; the next write tightens it again.
    ASSERT_EQ(::chmod(QFile::encodeName(SettingsFilePath()).constData(), 0644), 0);
    SaveSetting(key::AccessPassword, "second");
    EXPECT_EQ(modeOf(SettingsFilePath()), mode_t(0600));
}

TEST_F(Settings, AWriteThatCannotBeStoredIsAnErrorNamingTheFile)
{
    // A folder where the file should be: nothing can be written there.
    QFile::remove(SettingsFilePath());
    ASSERT_TRUE(QDir().mkpath(SettingsFilePath()));
    try {
        SaveSetting(key::DBCFile, "x");
        FAIL() << "the write was reported as done";
    } catch (const qm::Error& e) {
        EXPECT_NE(std::string(e.what()).find("Harrowgate.conf"), std::string::npos) << e.what();
    }
    QDir(SettingsFilePath()).removeRecursively();
}

} // namespace
