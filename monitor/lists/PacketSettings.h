// The distribution packets and sender lists as the distribution wizard reads
// them: each packet with the defaults of its missing values, packets without
// a directory left out, sender lists resolved to their packets. Everything is
// opened for reading only, under the product key. Texts are Windows-1251.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarmin::monitor {

// One packet's settings (the registry part of a distribution packet).
struct PacketSettings {
    uint32_t position = 0;        // its item number k in "PacketList"
    std::string packetNumber;     // "PacketNum", default k+1
    std::string path;             // "Path", ending in "/" or "\"
    std::string mask;             // "Mask", default "*"
    std::string from;             // "SenderAddress", default empty
    std::string subject;          // "Subject", default "Рассылка <packetNumber>"
    uint32_t gatewayProtection = 3; // "GWType": bit 0 encrypt, bit 1 sign
    bool signAtWorkstation = false; // "OPType" is "+"
    bool keepFiles = false;         // "NotDelSended" is "+"
    std::vector<std::string> recipients; // "Email" values in index order
};

// Packet k of "PacketList"; nullopt when its sub-key is missing or it has
// no directory.
std::optional<PacketSettings> loadPacket(uint32_t k);

// "PacketListNum"; nullopt when "PacketList" or the count is missing or 0
// (no packet is configured).
std::optional<uint32_t> readPacketCount();

// Every packet 0 .. count-1 that loads, in order.
std::vector<PacketSettings> loadPackets(uint32_t count);

struct SenderListName {
    uint32_t index = 0;
    std::string name;
};
// The sender lists whose sub-key opens and whose "SenderListName" can be
// read, in index order.
std::vector<SenderListName> readSenderListNames();

// "SenderPackets" of sender list i; nullopt when the list or the value
// cannot be read.
std::optional<std::string> readSenderPackets(uint32_t index);

// The packet numbers of a "SenderPackets" text: blanks trimmed, split at
// commas, blanks and tabs; each token an unsigned decimal number. Tokens
// that are not numbers, and 0, are dropped; order and repeats are kept.
std::vector<uint32_t> senderPacketNumbers(std::string_view text);

// The packets a sender list names, in the order of its numbers (a number
// given twice gives the packet twice). The configuration program stores the
// packets' "PacketNum" texts, so a number names first the packet whose
// number is that number; only when no packet has it is it taken as a
// position counted from 1 (the default numbering, and what older lists
// meant). A number that names neither is dropped.
std::vector<PacketSettings> packetsByNumber(const std::vector<uint32_t> &numbers,
                                            const std::vector<PacketSettings> &packets);

// The packets the distribution wizard sends: every packet that loads when
// senderList is empty (manual choice), otherwise those that sender list
// names. nullopt when no packet is configured or the sender list or its
// "SenderPackets" cannot be read.
std::optional<std::vector<PacketSettings>> loadDistributionPackets(std::optional<uint32_t> senderList);

} // namespace tarmin::monitor
