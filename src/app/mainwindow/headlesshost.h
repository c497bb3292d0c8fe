// A transfer host without windows: the command line and the tests run the
// transfers through it.  It holds the two catalog lists, the script and
// the check boxes; progress and the customization window are whatever the
// owner hands in.
#pragma once

#include "dataaccess/objectlist.h"
#include "mainwindow/transferhost.h"
#include "sqlwindow/scriptbuffer.h"

#include <functional>

namespace qm::mainwindow {

class HeadlessHost : public TransferHost {
public:
    // Shows (or stands in for) the customization window; returns its mSQL.
    using Customization = std::function<QString(const QString& mType, const QString& mTableName, const QString& mSQL)>;

    dataaccess::ObjectList& accessList() override { return access_; }
    dataaccess::ObjectList& foxproList() override { return foxpro_; }
    int check15() const override { return check15_; }
    int check16() const override { return check16_; }
    void setProgress(int percent) override;
    void setPointer(int pointer) override { pointer_ = pointer; }
    sqlwindow::ScriptBuffer& script() override { return script_; }
    void setExecuteCaption(const QString& caption) override { caption_ = caption; }
    void showSqlWindow() override { ++sqlWindowShown_; }
    // Without a customization function the window counts as cancelled.
    QString showCustomization(const QString& mType, const QString& mTableName, const QString& mSQL) override;

    void setCheck15(int v) { check15_ = v; }
    void setCheck16(int v) { check16_ = v; }
    void onProgress(std::function<void(int)> f) { progress_ = std::move(f); }
    void onCustomization(Customization f) { customization_ = std::move(f); }

    int pointer() const { return pointer_; }
    const QString& executeCaption() const { return caption_; }
    int sqlWindowShown() const { return sqlWindowShown_; }
    int lastProgress() const { return lastProgress_; }

private:
    dataaccess::ObjectList access_;
    dataaccess::ObjectList foxpro_;
    sqlwindow::ScriptBuffer script_;
    int check15_ = 0;
    int check16_ = 0;
    int pointer_ = kPointerDefault;
    int lastProgress_ = 0;
    int sqlWindowShown_ = 0;
    QString caption_;
    std::function<void(int)> progress_;
    Customization customization_;
};

} // namespace qm::mainwindow
