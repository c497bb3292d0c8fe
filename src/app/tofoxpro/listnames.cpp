#include "tofoxpro/listnames.h"

#include "dataaccess/objectlist.h"
#include "shell/dialogs.h"

#include <QDir>
#include <QFile>

namespace qm::tofoxpro {

bool ListHasName(const dataaccess::ObjectList& list, const QString& text)
{
    const QString wanted = text.toLower();
    for (int i = 0; i < list.ListCount(); ++i)
        if (list.List(i).toLower() == wanted)
            return true;
    return false;
}

bool ListHasName8(const dataaccess::ObjectList& list, const QString& text)
{
    const QString wanted = text.toLower().left(8);
    for (int i = 0; i < list.ListCount(); ++i)
        if (list.List(i).toLower().left(8) == wanted)
            return true;
    return false;
}

void RemoveListName(dataaccess::ObjectList& list, const QString& text)
{
    for (int i = 0; i < list.ListCount(); ++i)
        if (list.List(i) == text)
            list.RemoveItem(i);
}

void DeleteFileQuietly(const QString& path)
{
    shell::DoEvents();
    QFile::remove(path);
}

QString FindFileIgnoringCase(const QString& folder, const QString& fileName)
{
    const QDir dir(folder);
    if (!dir.exists())
        return {};
    if (QFileInfo(dir.filePath(fileName)).isFile())
        return dir.filePath(fileName);
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries)
        if (entry.compare(fileName, Qt::CaseInsensitive) == 0)
            return dir.filePath(entry);
    return {};
}

} // namespace qm::tofoxpro
