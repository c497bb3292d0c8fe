#include "mainwindow/headlesshost.h"

namespace qm::mainwindow {

void HeadlessHost::setProgress(int percent)
{
    lastProgress_ = percent;
    if (progress_)
        progress_(percent);
}

QString HeadlessHost::showCustomization(const QString& mType, const QString& mTableName, const QString& mSQL)
{
    if (!customization_)
        return mSQL;
    return customization_(mType, mTableName, mSQL);
}

} // namespace qm::mainwindow
