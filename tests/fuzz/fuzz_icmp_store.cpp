// SPDX-License-Identifier: GPL-3.0-or-later
// The echo library's storing of an answer into the caller's reply buffer: the
// record at the start, the echo data after it, as much as fits.
//
// Input: bytes 0-3 the reply buffer's size, 4-7 the answer's data size (both
// little-endian, taken modulo 128 KiB, so that data beyond the record's
// 16-bit count is tried too), 8-11 the answer's address, 12-15 its status,
// 16-19 the round trip, 20 TTL, 21 TOS. The rest, repeated, is the data.
#include "fuzzcheck.h"
#include "icmpapi.h"
#include "icmppacket.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::uint8_t untouched = 0xA5;

std::uint32_t word(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t head = 22;
    constexpr std::uint32_t largest = 0x20000;
    if (size < head) {
        return 0;
    }
    const std::uint32_t replysize = word(data) % largest;
    std::vector<std::uint8_t> echodata(word(data + 4) % largest);
    for (std::size_t k = 0; k < echodata.size() && size > head; ++k) {
        echodata[k] = data[head + k % (size - head)];
    }
    echoanswer answer;
    answer.kind = answerkind::echoreply;
    answer.from = word(data + 8);
    answer.status = word(data + 12);
    answer.data = echodata;
    answer.ttl = data[20];
    answer.tos = data[21];
    const std::uint32_t roundtrip = word(data + 16);

    // Exactly the size given, so that AddressSanitizer sees any write past it.
    const std::size_t allocated = std::max<std::size_t>(replysize, 1);
    const auto buffer = std::make_unique<std::uint8_t[]>(allocated);
    std::fill_n(buffer.get(), allocated, untouched);
    const std::uint32_t stored = storereply(answer, roundtrip, buffer.get(), replysize);
    const auto unchangedfrom = [&](std::size_t at) {
        return std::all_of(buffer.get() + at, buffer.get() + allocated,
                           [](std::uint8_t b) { return b == untouched; });
    };
    if (replysize < sizeof(ICMP_ECHO_REPLY)) {
        FUZZCHECK(stored == 0);
        FUZZCHECK(unchangedfrom(0));
        return 0;
    }
    FUZZCHECK(stored == 1);
    ICMP_ECHO_REPLY record;
    std::memcpy(&record, buffer.get(), sizeof record);
    const std::size_t room = replysize - sizeof record;
    const std::size_t expected = std::min({echodata.size(), room, std::size_t{0xFFFF}});
    FUZZCHECK(record.DataSize == expected);
    FUZZCHECK(record.DataSize <= room);
    FUZZCHECK(record.Data == buffer.get() + sizeof record);
    FUZZCHECK(std::equal(echodata.begin(), echodata.begin() + record.DataSize,
                         buffer.get() + sizeof record));
    FUZZCHECK(unchangedfrom(sizeof record + record.DataSize));
    FUZZCHECK(record.Address == answer.from && record.Status == answer.status);
    FUZZCHECK(record.RoundTripTime == roundtrip);
    FUZZCHECK(record.Options.Ttl == answer.ttl && record.Options.Tos == answer.tos);
    return 0;
}
