// Module IsInstalled: the start-up check that the data-access components
// are present.
#pragma once

namespace qm::shell {

// Creates (and at once releases, unopened) a data-access connection; when
// none can be made, says so in a message box.  The program goes on either
// way.
void CheckInstalled();

} // namespace qm::shell
