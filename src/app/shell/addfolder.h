// Module AddFolder: paths, folders and files.
//
// One existence test used all over the program, the folder picker of the
// connection window, and the folder-tree walk and file listing with which the
// FoxPro side finds the free tables of a folder and all its sub-folders.
// None of these shows a message of its own.
//
// Paths are plain strings with the platform's separator.  The folder paths
// AddSubFolders adds end with one ("/data/shop/").
//
// Folder attributes on Linux.  The folder walk skips folders that are both
// hidden and system (with or without being a reparse point), unless the
// folder is the root of its drive.  Linux has no system attribute, so no
// folder is ever both, and every folder passes that filter; a dot-folder is
// merely hidden, and hidden-only folders are searched on Windows too.  What
// Windows calls a reparse point (a junction or folder link) is a symbolic
// link here: a linked sub-folder is not followed and not listed, so a link
// that leads back to one of its ancestors cannot make the walk endless, and
// no folder is listed twice under two names.
//
// File sharing on Linux.  Windows refuses to open a file that another
// program holds locked against all sharing, and FileIsPresent then answers
// false.  Linux has no such share modes; a file is present when it is a
// regular file that can be reached, whoever holds it open.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace qm::shell {

// True exactly when the file system reports the entry's last-modified time:
// a file or a folder that exists and can be reached.  "" gives false.
bool PathExists(const QString& path);

// The folder picker with the title; the chosen path, or "" when cancelled.
QString BrowseForFolder(QWidget* owner, const QString& title);

// Extends the folder list, in place, with the sub-folders of its folders,
// level by level: the folders it held, then all first-level sub-folders,
// then all second-level ones (deeper levels only when recurse is true), each
// level in the order of its parents, siblings in name order ignoring case.
// Sub-folders with unsafe names (HasUnsafeChars, "?") are skipped; a folder
// that can't be read for lack of permission is removed from the list it
// belongs to.  Yields (DoEvents) before each folder and each sub-folder.
// Throws qm::Error when a folder of the list does not exist.
void AddSubFolders(QStringList& folders, bool recurse);

// True when a character of the name has no place in the one-byte Windows
// code page 1252, is a control character (below 32, or 127 to 159), or is
// "?" itself.  False for "".
bool HasUnsafeChars(const QString& name);

// The names (without folder) of the files in the folder that match the
// pattern, letter case ignored as Windows ignores it ("*.dbf" finds
// ORDERS.DBF), hidden files included, folders excluded, each kept only when
// FileIsPresent; in name order ignoring case.  Empty when none match.
// Throws qm::Error naming the folder when it can't be read.
QStringList ListFiles(const QString& folder, const QString& pattern);

// True exactly when the path names a regular file that can be reached
// (symbolic links followed).  A folder or a missing file gives false.
bool FileIsPresent(const QString& path);

// ---- pieces of the above that tests drive directly ----

// The character's code in Windows-1252, or 63 ("?") when it has none.
int Windows1252Code(QChar c);

// Matches a name against a pattern with * (any run) and ? (one character),
// ignoring letter case.  "*.*" matches every name, with or without a point.
bool MatchesPattern(const QString& name, const QString& pattern);

} // namespace qm::shell
