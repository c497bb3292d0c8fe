// Whole files: the header, the catalog, every table definition, every row
// and long value, every saved query.  Any outcome but a qm::Error or a
// clean read is a finding.
#include "jet/database.h"

#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int fd = memfd_create("jet-fuzz", 0);
    if (fd < 0) return 0;
    if (ftruncate(fd, 0) != 0) return 0;
    std::size_t done = 0;
    while (done < size) {
        ssize_t w = pwrite(fd, data + done, size - done, off_t(done));
        if (w <= 0) return 0;
        done += std::size_t(w);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    try {
        qm::jet::JetDatabase db(path, {});
        for (const auto& e : db.catalog()) {
            try {
                if (e.kind == qm::storage::ObjectKind::Table || e.kind == qm::storage::ObjectKind::SystemTable) {
                    auto cur = db.scan(e.name);
                    for (int rows = 0; rows < 5000 && cur->next(); ++rows)
                        for (std::size_t c = 0; c < cur->columns().size(); ++c) (void)cur->value(c);
                } else if (e.kind == qm::storage::ObjectKind::View || e.kind == qm::storage::ObjectKind::Query) {
                    (void)db.querySql(e.name);
                }
            } catch (const qm::Error&) {
            }
        }
    } catch (const qm::Error&) {
    }
    return 0;
}
