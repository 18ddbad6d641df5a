// Receiving and checking one block frame.
#include <cstdint>

#include "block/block.h"
#include "lpt/byte_exchange.h"
#include "lpt/lpt.h"
#include "platform/platform.h"

int receive_block(lpt_port& port, int payload_size, const int& expected_code, std::uint8_t* buffer,
                  int timeout, int ack_mode) {
    mask_interrupts();

    // A timeout or a bad header leaves interrupts masked; check_result
    // unmasks them before it cleans up.
    int header = lpt_read_byte(port, timeout);
    if (header == READ_TIMEOUT)
        return RESULT_TIMEOUT;
    // 0 for a byte that is no header.
    const int length = static_cast<int>(cable_length_for(static_cast<std::uint8_t>(header)));
    if (length == 0)
        return RESULT_PROTOCOL_ERROR;

    lpt_write_byte(port, HEADER_REPLY);

    int code = lpt_read_byte(port, timeout);
    if (code == READ_TIMEOUT)
        return RESULT_TIMEOUT;
    // The block code is a signed byte: 0x80 to 0xFF stand for -128 to -1.
    const int block_code = code < 0x80 ? code : code - 0x100;

    for (int i = 0; i < length; ++i) {
        int byte = lpt_read_byte(port, timeout);
        if (byte == READ_TIMEOUT)
            return RESULT_TIMEOUT;
        if (i < payload_size)
            buffer[i] = static_cast<std::uint8_t>(byte);
    }

    int trailer = lpt_read_byte(port, timeout);
    unmask_interrupts();
    if (trailer == READ_TIMEOUT)
        return RESULT_TIMEOUT;

    // The checks wait for the trailer so that the VMU always finishes its
    // frame before it hears a BLOCK_NAK.
    if (expected_code != ANY_BLOCK_CODE && block_code != expected_code) {
        if (ack_mode == 1)
            lpt_write_byte(port, BLOCK_NAK);
        return RESULT_WRONG_BLOCK;
    }
    if (length < payload_size) {
        if (ack_mode == 1)
            lpt_write_byte(port, BLOCK_NAK);
        return RESULT_BLOCK_TOO_SHORT;
    }
    if (trailer != 0x00 && trailer != 0xFF) {
        lpt_write_byte(port, BLOCK_NAK);
        return RESULT_PROTOCOL_ERROR;
    }
    if (ack_mode != 1)
        return RESULT_OK;

    mask_interrupts();
    lpt_write_byte(port, BLOCK_ACK);
    return RESULT_OK;
}
