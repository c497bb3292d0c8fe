#include "shell/settings.h"

#include "value/value.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace qm::shell {

namespace {

QSettings openStore()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QString::fromLatin1(kSettingsApplication),
                     QString::fromLatin1(kSettingsApplication));
}

// what holds "%1" where the path goes.
[[noreturn]] void fail(const QString& what, const QString& path, int err)
{
    QString text = what;
    text.replace(QStringLiteral("%1"), QDir::toNativeSeparators(path));
    if (err)
        text += QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err));
    throw qm::Error(text.toStdString());
}

void setMode(const QString& path, mode_t mode, const char* what)
{
    const QByteArray native = QFile::encodeName(path);
    if (::chmod(native.constData(), mode) != 0)
        fail(QString::fromLatin1(what), path, errno);
}

} // namespace

QString SettingsFilePath() { return openStore().fileName(); }

QString GetSetting(const QString& key, const QString& defaultValue)
{
    QSettings store = openStore();
    store.beginGroup(QString::fromLatin1(kSettingsSection));
    return store.value(key, defaultValue).toString();
}

void SaveSetting(const QString& key, const QString& value)
{
    QSettings store = openStore();
    const QString file = store.fileName();
    const QString folder = QFileInfo(file).absolutePath();

    // The folder first, so that the file is never reachable by others, not
    // even between its creation and the chmod below.
    if (!QDir().mkpath(folder))
        fail(QStringLiteral("The settings folder %1 could not be created"), folder, 0);
    setMode(folder, S_IRWXU, "The settings folder %1 could not be made private");

    store.beginGroup(QString::fromLatin1(kSettingsSection));
    store.setValue(key, value);
    store.endGroup();
    store.sync();
    if (store.status() != QSettings::NoError)
        fail(QStringLiteral("The setting \"") + key + QStringLiteral("\" could not be saved to %1"), file, 0);
    setMode(file, S_IRUSR | S_IWUSR, "The settings file %1 could not be made private");
}

} // namespace qm::shell
