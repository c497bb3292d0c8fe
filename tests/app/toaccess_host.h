// A transfer host without windows for the transfer-to-Access tests: the two
// catalog lists, the script, and a record of what the windows would have
// shown (progress values, pointer, caption).  The customization window is
// played by a function the test gives.
#pragma once

#include "dataaccess/connectionstrings.h"
#include "dataaccess/globals.h"
#include "dataaccess/objectlist.h"
#include "mainwindow/transferhost.h"
#include "sqlwindow/scriptbuffer.h"

#include <functional>
#include <vector>

namespace qm::test {

class RecordingHost : public mainwindow::TransferHost {
public:
    dataaccess::ObjectList& accessList() override { return access; }
    dataaccess::ObjectList& foxproList() override { return foxpro; }
    int check15() const override { return 0; }
    int check16() const override { return customise ? 1 : 0; }
    void setProgress(int percent) override { progress.push_back(percent); }
    void setPointer(int pointer) override { pointers.push_back(pointer); }
    sqlwindow::ScriptBuffer& script() override { return buffer; }
    void setExecuteCaption(const QString& c) override { caption = c; }
    void showSqlWindow() override { ++sqlWindowShown; }
    QString showCustomization(const QString& mType, const QString& mTableName, const QString& mSQL) override
    {
        customizations.push_back({mType, mTableName, mSQL});
        if (!customizer)
            return mSQL; // left without "OK": CustomizeCancelled stays as it was
        return customizer(mTableName, mSQL);
    }

    // Selects the FoxPro rows with these names and makes the first current.
    void select(const QStringList& names)
    {
        for (int i = 0; i < foxpro.ListCount(); ++i)
            if (names.contains(foxpro.List(i))) {
                foxpro.setSelected(i, true);
                if (foxpro.ListIndex() == -1)
                    foxpro.setListIndex(i);
            }
    }

    struct Customization {
        QString mType, mTableName, mSQL;
    };

    dataaccess::ObjectList access, foxpro;
    sqlwindow::ScriptBuffer buffer;
    bool customise = false;
    // Plays the window's "OK": returns the statement; sets CustomizeCancelled.
    std::function<QString(const QString& table, const QString& sql)> customizer;
    std::vector<int> progress, pointers;
    std::vector<Customization> customizations;
    QString caption;
    int sqlWindowShown = 0;
};

// The connection window's fields for the run, as Form1 would give them.
class ConnectionFieldsScope {
public:
    explicit ConnectionFieldsScope(dataaccess::ConnectionFields fields)
    {
        dataaccess::SetConnectionFieldsSource([fields] { return fields; });
    }
    ~ConnectionFieldsScope() { dataaccess::SetConnectionFieldsSource({}); }
};

} // namespace qm::test
