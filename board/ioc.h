#pragma once

#include <cstddef>

// Driver request numbers as the board's processor encodes them: the direction in the top
// three bits (1 none, 2 read, 4 write, 6 read-write), the record size in the next thirteen,
// then the type letter and the number. The board's drivers are built for that encoding, so
// the numbers are the same wherever the daemon runs.
namespace board::ioc {

enum Direction : unsigned long { none = 1, read = 2, write = 4, readWrite = 6 };

constexpr unsigned long make(Direction dir, char type, unsigned nr, std::size_t size)
{
    return (static_cast<unsigned long>(dir) << 29) | ((static_cast<unsigned long>(size) & 0x1FFF) << 16)
         | (static_cast<unsigned long>(static_cast<unsigned char>(type)) << 8) | (nr & 0xFF);
}

constexpr unsigned long direction(unsigned long request) { return (request >> 29) & 0x7; }
constexpr std::size_t size(unsigned long request) { return (request >> 16) & 0x1FFF; }
constexpr char type(unsigned long request) { return static_cast<char>((request >> 8) & 0xFF); }
constexpr unsigned number(unsigned long request) { return request & 0xFF; }

}  // namespace board::ioc
