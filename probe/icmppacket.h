// SPDX-License-Identifier: GPL-3.0-or-later
// Building one echo request and recognising the answer to it, as bytes. The
// echo library keeps its socket work apart from this so that the rules for
// telling our answer from a neighbour's can be tried on hand-made packets.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// What identifies one echo request on the wire. Addresses are in network
// byte order, identifier and sequence in host order.
struct echorequestkey {
    std::uint16_t ident = 0;
    std::uint16_t sequence = 0;
    std::uint32_t destination = 0;
};

enum class answerkind { unrelated, echoreply, errorreport };

// What a received packet means for our request. For a reply, data is the
// echo data inside the packet that was judged.
struct echoanswer {
    answerkind kind = answerkind::unrelated;
    std::uint32_t from = 0;
    std::uint32_t status = 0;
    std::span<const std::uint8_t> data;
    std::uint8_t ttl = 0;
    std::uint8_t tos = 0;
};

inline constexpr std::size_t icmpheadersize = 8;

std::uint16_t icmpchecksum(std::span<const std::uint8_t> bytes);

// The ICMP echo request message (header and data) with its checksum.
std::vector<std::uint8_t> buildechorequest(const echorequestkey& key,
                                           std::span<const std::uint8_t> data);

// The IP status code that an ICMP error of this type and code stands for; 0
// for a type that does not report a failed echo.
std::uint32_t icmperrorstatus(std::uint8_t type, std::uint8_t code);

// A packet from a raw ICMP socket, IP header first. Only an echo reply with
// our identifier and sequence, or an error report that embeds our very
// request (destination, identifier and sequence), is ours.
echoanswer matchrawpacket(std::span<const std::uint8_t> packet, const echorequestkey& key);

// An ICMP message from a datagram ICMP socket (no IP header; the kernel has
// checked the checksum and the identifier already, we check it again).
echoanswer matchdatagramreply(std::span<const std::uint8_t> message, std::uint32_t from,
                              const echorequestkey& key);

// An ICMP error taken from a datagram socket's error queue: its type and
// code, the address that reported it, the destination of the packet it
// reports on, and that packet's ICMP header as the queue hands it back.
echoanswer matchdatagramerror(std::uint8_t type, std::uint8_t code, std::uint32_t offender,
                              std::uint32_t originaldestination,
                              std::span<const std::uint8_t> original, const echorequestkey& key);

// Stores the reply record for an answer at the start of the caller's reply
// buffer, and the answer's data right after the record, as much of it as
// fits (DataSize counts it). 1 when stored; 0, and nothing written, when the
// buffer cannot hold even the record.
std::uint32_t storereply(const echoanswer& answer, std::uint32_t roundtrip, void* replybuffer,
                         std::uint32_t replysize);
