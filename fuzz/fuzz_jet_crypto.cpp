// The encryption header of a password-protected .accdb: the EncryptionInfo
// block (agile XML descriptor or CryptoAPI binary header) is parsed, and
// when it parses, the password is checked and a page decrypted and
// encrypted with what it describes.  Any outcome but a qm::Error or a clean
// run is a finding.
#include "jet/office_crypto.h"
#include "jet/page_source.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const qm::jet::OfficeEncryptionInfo info = qm::jet::parseEncryptionInfo(data, size);
        if (info.spinCount > 1000) return 0; // a slow but valid key derivation is no finding
        qm::jet::Header h;
        h.format = qm::jet::Format::forVersion(qm::jet::Version::Ace14);
        h.databaseKey = 0x12345678;
        h.officeEncrypted = true;
        h.officeInfo.assign(data, data + size);
        auto codec = qm::jet::makePageCodec("fuzz.accdb", h, "password");
        std::vector<std::uint8_t> page(h.format.pageSize, 0xA5);
        codec->decode(3, page.data(), page.size());
        codec->encode(3, page.data(), page.size());
    } catch (const qm::Error&) {
    }
    return 0;
}
