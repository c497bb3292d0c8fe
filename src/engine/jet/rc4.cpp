#include "rc4.h"

#include <utility>

namespace qm::jet {

Rc4::Rc4(const std::uint8_t* key, std::size_t keyLength) {
    for (int k = 0; k < 256; ++k) s_[k] = std::uint8_t(k);
    std::uint8_t j = 0;
    for (int k = 0; k < 256; ++k) {
        j = std::uint8_t(j + s_[k] + key[std::size_t(k) % keyLength]);
        std::swap(s_[k], s_[j]);
    }
}

void Rc4::apply(std::uint8_t* data, std::size_t n) {
    std::uint8_t i = i_, j = j_;
    for (std::size_t k = 0; k < n; ++k) {
        i = std::uint8_t(i + 1);
        j = std::uint8_t(j + s_[i]);
        std::swap(s_[i], s_[j]);
        data[k] ^= s_[std::uint8_t(s_[i] + s_[j])];
    }
    i_ = i;
    j_ = j;
}

void applyPageKey(std::uint32_t databaseKey, std::uint32_t pageNumber, std::uint8_t* page, std::size_t size) {
    const std::uint32_t k = databaseKey ^ pageNumber;
    const std::uint8_t key[4] = {std::uint8_t(k), std::uint8_t(k >> 8), std::uint8_t(k >> 16), std::uint8_t(k >> 24)};
    Rc4 rc4(key, 4);
    rc4.apply(page, size);
}

} // namespace qm::jet
