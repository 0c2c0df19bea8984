#pragma once
// The request of the goggles' I2C transport, /dev/remote_i2c. The game has
// no I2C driver of its own: the firmware carries out one transfer per ioctl
// with the request number below and a header that points at a payload.
//
// Header, as the goggles (32-bit ARM) lay it out, 12 bytes:
//   offset 0, 4 bytes: operation (1 select target, 2 write, 3 write then read)
//   offset 4, 4 bytes: payload length in bytes
//   offset 8, 4 bytes: address of the payload
//
// On a 64-bit host an address does not fit in 4 bytes. There the address
// field is 8 bytes wide at the same offset 8, which makes the header
// 16 bytes; the first two fields are unchanged and the request number stays
// 0xC00C4110, since that number is what the transport answers to. This is
// the layout the emulated transport reads on a 64-bit host. Both layouts
// are pinned below whatever the build's own width is.
//
// Payloads are 32-bit little-endian words followed by bytes:
//   select target     16 bytes: bus, 0, 7-bit device address, 0
//   write             12 + n bytes: bus, address, n, then the n bytes sent
//   write then read   16 + w + r bytes: bus, address, w, r, then the w bytes
//                     sent, then r bytes that the transport fills
// A transfer succeeded when the ioctl returns 0.
#include <cstddef>
#include <cstdint>
#include <type_traits>

// _IOWR('A', 0x10, 12 bytes).
constexpr unsigned long kRemoteI2cRequest = 0xC00C4110;

constexpr std::uint32_t kRemoteI2cSelect = 1;
constexpr std::uint32_t kRemoteI2cWrite = 2;
constexpr std::uint32_t kRemoteI2cWriteRead = 3;

struct RemoteI2cHeader32 {
    std::uint32_t operation;
    std::uint32_t length;
    std::uint32_t payload;
};
static_assert(sizeof(RemoteI2cHeader32) == 12);
static_assert(offsetof(RemoteI2cHeader32, operation) == 0);
static_assert(offsetof(RemoteI2cHeader32, length) == 4);
static_assert(offsetof(RemoteI2cHeader32, payload) == 8);

struct RemoteI2cHeader64 {
    std::uint32_t operation;
    std::uint32_t length;
    std::uint64_t payload;
};
static_assert(sizeof(RemoteI2cHeader64) == 16);
static_assert(offsetof(RemoteI2cHeader64, operation) == 0);
static_assert(offsetof(RemoteI2cHeader64, length) == 4);
static_assert(offsetof(RemoteI2cHeader64, payload) == 8);

// The header of this build: the one whose address field holds a pointer.
static_assert(sizeof(void*) == 4 || sizeof(void*) == 8);
using RemoteI2cHeader =
    std::conditional_t<sizeof(void*) == 4, RemoteI2cHeader32, RemoteI2cHeader64>;
static_assert(sizeof(RemoteI2cHeader::payload) == sizeof(void*));

inline RemoteI2cHeader remote_i2c_header(std::uint32_t operation, void* payload,
                                         std::uint32_t length) {
    RemoteI2cHeader header{};
    header.operation = operation;
    header.length = length;
    header.payload = reinterpret_cast<std::uintptr_t>(payload);
    return header;
}

inline std::uint8_t* remote_i2c_payload(const RemoteI2cHeader& header) {
    return reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(header.payload));
}

// Payload sizes and offsets.
constexpr std::uint32_t kRemoteI2cSelectSize = 16;
constexpr std::uint32_t kRemoteI2cWriteHead = 12;      // then the n bytes
constexpr std::uint32_t kRemoteI2cWriteReadHead = 16;  // then w bytes, then r bytes

// Payload words, stored little-endian byte by byte so that the layout does
// not depend on the machine's byte order.
inline void remote_i2c_put_word(std::uint8_t* payload, int index, std::uint32_t value) {
    std::uint8_t* at = payload + 4 * index;
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

inline std::uint32_t remote_i2c_word(const std::uint8_t* payload, int index) {
    const std::uint8_t* at = payload + 4 * index;
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}
