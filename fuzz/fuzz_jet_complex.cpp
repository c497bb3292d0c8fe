// Attachment, multi-value and version-history columns.  Byte 0 picks:
//   0  the rest is an attachment's stored FileData: unwrapping (header,
//      zlib stream, declared lengths);
//   1  the rest is a whole ACE file: every complex column of every table
//      walked through its hidden table, entries with their bytes.
// Any outcome but a qm::Error or a clean read is a finding.
#include "jet/complex_column.h"
#include "jet/database.h"

#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

void walkFile(const std::uint8_t* data, std::size_t size) {
    static int fd = memfd_create("jet-complex-fuzz", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0) return;
    std::size_t done = 0;
    while (done < size) {
        ssize_t w = pwrite(fd, data + done, size - done, off_t(done));
        if (w <= 0) return;
        done += std::size_t(w);
    }
    try {
        qm::jet::JetDatabase db("/proc/self/fd/" + std::to_string(fd), {});
        std::vector<qm::storage::ComplexItem> items;
        for (const auto& e : db.catalog()) {
            if (e.kind != qm::storage::ObjectKind::Table && e.kind != qm::storage::ObjectKind::SystemTable) continue;
            try {
                auto cur = db.scan(e.name);
                const auto& cols = cur->columns();
                for (int rows = 0; rows < 2000 && cur->next(); ++rows)
                    for (std::size_t c = 0; c < cols.size(); ++c)
                        if (cols[c].complex != qm::storage::ComplexKind::None) {
                            (void)cur->value(c);
                            (void)cur->complexItems(c, items);
                        }
            } catch (const qm::Error&) {
            }
        }
    } catch (const qm::Error&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    if (data[0] == 0) {
        std::string out;
        try {
            qm::jet::unwrapAttachment(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), out,
                                      "fuzz");
        } catch (const qm::Error&) {
        }
        return 0;
    }
    walkFile(data + 1, size - 1);
    return 0;
}
