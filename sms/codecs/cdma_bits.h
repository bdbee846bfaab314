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
        if (position + width > bits) {
            overrun = true;
            uint32_t value = 0;
            for (int i = 0; i < width; i++)
                value = (value << 1) | (position < bits ? take(1) : 0);
            return value;
        }
        uint32_t value = 0;
        while (width > 0) {
            int n = 8 - (position & 7);
            if (n > width)
                n = width;
            value = (value << n) | take(n);
            width -= n;
        }
        return value;
    }

    // n bits (1 to 8) from within the current octet.
    uint32_t take(int n)
    {
        int shift = 8 - (position & 7) - n;
        uint32_t chunk = (data[position >> 3] >> shift) & ((1u << n) - 1);
        position += n;
        return chunk;
    }

    int octets_covered() const { return (position + 7) / 8; }
    int bits_left() const { return bits - position; }
};

// Writes bit fields into a buffer of fixed capacity; a field that does not fit is
// dropped whole and marks the writer full.
struct BitWriter {
    uint8_t* data;
    int capacity;      // octets
    int position = 0;  // bits written
    bool full = false;

    BitWriter(uint8_t* octets, int size) : data(octets), capacity(size) {}

    void write(uint32_t value, int width)
    {
        if (position + width > 8 * capacity) {
            full = true;
            return;
        }
        while (width > 0) {
            int free_bits = 8 - (position & 7);
            int n = free_bits < width ? free_bits : width;
            uint32_t chunk = (value >> (width - n)) & ((1u << n) - 1);
            int shift = free_bits - n;
            uint8_t mask = static_cast<uint8_t>(((1u << n) - 1) << shift);
            uint8_t& octet = data[position >> 3];
            octet = static_cast<uint8_t>((octet & ~mask) | (chunk << shift));
            position += n;
            width -= n;
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
