// Most-significant-bit-first bit fields over bounded octet buffers.
#pragma once

#include <cstdint>

// Reads bit fields from a window of octets; a read past the window yields zero bits
// and marks the reader overrun, so malformed lengths never leave the buffer.
struct BitReader {
    const uint8_t* data;
    int bits;          // size of the window in bits
    int position = 0;  // bits consumed
    bool overrun = false;

    BitReader(const uint8_t* octets, int count) : data(octets), bits(8 * count) {}

    uint32_t read(int width)
    {
        uint32_t value = 0;
        for (int i = 0; i < width; i++) {
            value <<= 1;
            if (position >= bits) {
                overrun = true;
                continue;
            }
            value |= (data[position >> 3] >> (7 - (position & 7))) & 1;
            position++;
        }
        return value;
    }

    int octets_covered() const { return (position + 7) / 8; }
    int bits_left() const { return bits - position; }
};

// Writes bit fields into a buffer of fixed capacity; writes past it are dropped and
// mark the writer full.
struct BitWriter {
    uint8_t* data;
    int capacity;      // octets
    int position = 0;  // bits written
    bool full = false;

    BitWriter(uint8_t* octets, int size) : data(octets), capacity(size) {}

    void write(uint32_t value, int width)
    {
        for (int i = width - 1; i >= 0; i--) {
            if (position >= 8 * capacity) {
                full = true;
                return;
            }
            int bit = (value >> i) & 1;
            uint8_t mask = static_cast<uint8_t>(0x80 >> (position & 7));
            if (bit)
                data[position >> 3] |= mask;
            else
                data[position >> 3] &= static_cast<uint8_t>(~mask);
            position++;
        }
    }

    // Pads the partial last octet with zero bits.
    void align()
    {
        while (position & 7)
            write(0, 1);
    }

    int octets() const { return (position + 7) / 8; }
};

// Copies count fields of width bits from reader into a bit-packed array of size octets.
// Fields beyond the array are read (so lengths still check) but not stored.
inline int copy_fields(BitReader& reader, int count, int width, uint8_t* out, int size)
{
    BitWriter writer(out, size);
    int stored = 0;
    for (int i = 0; i < count; i++) {
        uint32_t v = reader.read(width);
        if (writer.position + width <= 8 * size) {
            writer.write(v, width);
            stored++;
        }
    }
    return stored;
}

// Field i of width bits from a bit-packed array of size octets (zero past its end).
inline uint32_t packed_field(const uint8_t* packed, int size, int i, int width)
{
    BitReader reader(packed, size);
    reader.position = i * width;
    return reader.read(width);
}
