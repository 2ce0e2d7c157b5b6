// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the control messages that come with what an ICMP datagram socket
// receives: the TTL and TOS of a reply, and the ICMP error of an error-queue
// entry. The bytes are the control buffer as recvmsg filled it; nothing is
// read outside it, and a control message that does not lie whole inside it,
// or is too short for what its type carries, is passed over.
#pragma once

#include "icmppacket.h"

#include <cstdint>
#include <span>

// The TTL and TOS of a received reply, from IP_TTL and IP_TOS messages, into
// the answer; fields whose message is missing keep their value.
void readcontrol(std::span<const std::uint8_t> control, echoanswer& answer);

// An error-queue entry: the first ICMP error report (IP_RECVERR from an ICMP
// source) among the control messages, judged as matchdatagramerror judges
// it; unrelated when there is none. originaldestination is the destination
// of the reported packet, original its ICMP header as the queue hands it back.
echoanswer readerrorcontrol(std::span<const std::uint8_t> control,
                            std::uint32_t originaldestination,
                            std::span<const std::uint8_t> original, const echorequestkey& key);
