#pragma once
// The exchange's rules that need no link and no clock: what a datagram from the device is to the
// request waiting for it, and how far a transfer has come in percent of the bar.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "device/traffic.h"
#include "protocol/packets.h"

namespace orvel::exchange {

// True when the n bytes of answer start with "OK".
bool IsOk(const std::uint8_t* answer, std::size_t n);

// Read and Write answers carry the request's address: nothing queued before the request, and no
// late answer to another, can pass for theirs.
bool HasEcho(ServiceCommand command);

// The address a Write answer echoes when the n bytes of answer are one ("OK" and exactly four
// bytes), nothing otherwise. An "OK" that echoes a Write the task sent is that Write's late answer,
// never the answer to a request whose own answer carries no address.
std::optional<std::uint32_t> WriteAnswerAddress(const std::uint8_t* answer, std::size_t n);

// The restart's acknowledgement: a bare "OK", nothing longer.
bool IsRestartAcknowledgement(const std::uint8_t* answer, std::size_t n);

// What a datagram of n bytes from the device is to a request of command for address with length
// data bytes; the first min(n, answerLength) of them are in answer. A Read answer is the block
// followed by the echoed address and must hold the whole block; a Write answer is "OK" and the
// address; any other is taken on "OK", whatever follows.
DatagramFate JudgeAnswer(ServiceCommand command, std::uint32_t address, std::uint16_t length,
                         const std::uint8_t* answer, unsigned n, std::uint16_t answerLength);

// The address that an answer of n bytes to a Read or Write echoes, when it can hold one: the last
// four bytes of a Read answer that fits the answer buffer, the four behind a Write answer's "OK".
// Several requests out at once are told apart by it.
std::optional<std::uint32_t> EchoOf(ServiceCommand command, const std::uint8_t* answer, unsigned n);

// Percent done of a region transfer: done / (size / 100), or a plain percentage for regions below
// 100 bytes, where that step would be 0.
std::uint16_t RegionProgress(int done, int size);

// Percent done of the program transfer once the block at blockIndex (from 0) has gone: a full
// image is 960 blocks, so one percent is 9.6 of them.
std::uint16_t ProgramProgress(std::size_t blockIndex);

// Percent that done bytes of total are (100 for nothing to do), for a read-back's share of the bar.
unsigned ShareOf(std::size_t done, std::size_t total);

}  // namespace orvel::exchange
