#include "toaccess/sendtoaccess.h"

#include "mainwindow/transferhost.h"

namespace qm::toaccess {

void SendTablesToAccess(mainwindow::TransferHost&)
{
    // Not built yet: the button does nothing.
}

} // namespace qm::toaccess
