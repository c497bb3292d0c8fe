// The one rule for each connection string.
//
// Both strings are built from the connection window's fields at the moment
// they are needed: the window (Form1) registers itself as the source of
// those fields for the whole run, and nothing copies them elsewhere.
#pragma once

#include <QString>

#include <functional>

namespace qm::dataaccess {

// The connection window's fields that the connection strings read.
struct ConnectionFields {
    bool option1 = true; // "DBC File:" chosen; otherwise "Free Table Folder:"
    QString text1;       // database container (.dbc) path
    QString text2;       // free-table folder
    QString text3;       // Access database path
    QString text4;       // Access database password
};

// The connection window calls this when it is created (and with an empty
// function when it goes).
void SetConnectionFieldsSource(std::function<ConnectionFields()> source);
// The fields as the connection window holds them now.  Throws qm::Error when
// there is no connection window.
ConnectionFields ConnectionWindowFields();

// "Provider=vfpoledb.1;Data Source=" + container + ";Collating Sequence=machine;"
// when option1 is set, otherwise the folder of text2 with "general".
QString FoxProConnectionString(const ConnectionFields& fields);
QString FoxProConnectionString();

// With an empty path, the connection window's path and password are used
// and the password argument is ignored.  A path ending (any letter case) in
// "accdb" selects ACE 12.0, any other Jet 4.0:
//   "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" path ";JET OLEDB:Database Password=" password
//   "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=" path ";JET OLEDB:Database Password=" password
// The password part is there also when the password is empty.
QString AccessConnectionString(const QString& path, const QString& password, const ConnectionFields& fields);
QString AccessConnectionString(const QString& path, const QString& password);

// A path or password as it goes into a connection string: unchanged, unless
// it would not read back as itself (it holds ';', starts with a quote, or
// has blanks at either end); then it is quoted with '"', inner '"' doubled.
QString ConnectionStringValue(const QString& value);

} // namespace qm::dataaccess
