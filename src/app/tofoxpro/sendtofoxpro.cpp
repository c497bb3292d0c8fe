#include "tofoxpro/sendtofoxpro.h"

#include "mainwindow/transferhost.h"

namespace qm::tofoxpro {

void SendTablesToFoxPro(mainwindow::TransferHost&)
{
    // Not built yet: the button does nothing.
}

} // namespace qm::tofoxpro
