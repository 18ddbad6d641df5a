// A PC written from the link's rules alone, independent of the tool's code,
// for the tests of the software cards on their own: it receives a byte as
// eight Ack pulses, echoing the previous byte's bit on D2 while Ack is low
// and taking Busy when Ack rises; it sends a byte MSB first with the bit on
// D1 and a rising D0, and, sending to a receiving card, reads Select after
// each rising D0 for the echo. The raw status register has Select on bit 4 and Ack on
// bit 6 as their pins, and Busy on bit 7 inverted by the port.
#pragma once

#include <cstdint>
#include <functional>

struct rule_pc {
    std::function<std::uint8_t()> read;
    std::function<void(std::uint8_t)> write;
    std::function<void()> delay;  // one delay unit; none where not set
    std::uint8_t data = 0x09;     // D0 (idle clock) and D3 (port held) high
    std::uint8_t echo = 0x50;
    int reads_before_echo = 0;  // a slow PC: reads it makes before it echoes
    int patience = 1'000'000;   // reads before a wait gives up

    static bool select_high(std::uint8_t raw) { return (raw & 0x10) != 0; }
    static bool ack_high(std::uint8_t raw) { return (raw & 0x40) != 0; }
    static bool busy_high(std::uint8_t raw) { return (raw & 0x80) == 0; }

    void put(std::uint8_t value) {
        data = value;
        write(value);
    }

    void wait(int units = 1) {
        for (int unit = 0; unit < units && delay; ++unit)
            delay();
    }

    bool wait_ready() {
        for (int i = 0; i < patience; ++i) {
            if (!select_high(read()))
                return true;
        }
        return false;
    }

    bool wait_ack(bool high, std::uint8_t* raw = nullptr) {
        for (int i = 0; i < patience; ++i) {
            const std::uint8_t status = read();
            if (ack_high(status) == high) {
                if (raw != nullptr)
                    *raw = status;
                return true;
            }
        }
        return false;
    }

    // The byte received, or -1 when Ack stops moving.
    int receive() {
        int value = 0;
        for (int bit = 7; bit >= 0; --bit) {
            if (!wait_ack(false))
                return -1;
            for (int i = 0; i < reads_before_echo; ++i)
                read();
            put(static_cast<std::uint8_t>((data & ~0x04) | (((echo >> bit) & 1) << 2)));
            std::uint8_t raw = 0;
            if (!wait_ack(true, &raw))
                return -1;
            value = (value << 1) | (busy_high(raw) ? 1 : 0);
        }
        echo = static_cast<std::uint8_t>(value);
        return value;
    }

    // Five delay units before the first bit, and one after every level on D0.
    void send(std::uint8_t value) {
        wait(5);
        for (int bit = 7; bit >= 0; --bit) {
            const auto d1 = static_cast<std::uint8_t>(((value >> bit) & 1) << 1);
            put(static_cast<std::uint8_t>((data & ~0x03) | d1));  // D0 low, bit on D1
            wait();
            put(static_cast<std::uint8_t>((data & ~0x03) | d1 | 0x01));  // D0 rises
            wait();
        }
    }

    // Sends as send() does and reads Select after each rising D0: what a
    // receiving card shifts out on SO1 meanwhile, MSB first.
    std::uint8_t send_echoed(std::uint8_t value) {
        unsigned echoed = 0;
        wait(5);
        for (int bit = 7; bit >= 0; --bit) {
            const auto d1 = static_cast<std::uint8_t>(((value >> bit) & 1) << 1);
            put(static_cast<std::uint8_t>((data & ~0x03) | d1));
            wait();
            put(static_cast<std::uint8_t>((data & ~0x03) | d1 | 0x01));
            wait();
            echoed = echoed << 1 | (select_high(read()) ? 1U : 0U);
        }
        return static_cast<std::uint8_t>(echoed);
    }
};
