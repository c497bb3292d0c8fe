#include "shell/isinstalled.h"

#include "ado/ado.h"
#include "shell/dialogs.h"

#include <memory>

namespace qm::shell {

void CheckInstalled()
{
    // Our data-access layer is part of the program, so the connection can
    // always be made; the check stays for the day it is a separate library.
    std::unique_ptr<ado::Connection> connection;
    try {
        connection = std::make_unique<ado::Connection>();
    } catch (...) {
    }
    if (!connection)
        MsgBox(QStringLiteral("Access is not installed on this computer. You need to have it installed to use this "
                              "software without error."));
}

} // namespace qm::shell
