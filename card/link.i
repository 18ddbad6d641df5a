; link.i: the cable. Taking and releasing port 1, the byte the PC sends (D0
; and D1), and a whole frame; the byte the card sends is in send.i.
; Inputs are read with a plain LD of P1, never with a bit instruction, which
; would see the output latch rather than the pins.

; link_up: takes the cable: the ceramic clock, the system's low-battery check
; off, P10-P15 plain ports with Busy, Ack and Select driven, Select and Ack
; high (not ready). The latch gets those idle levels before the direction
; register makes the pins outputs, so that nothing moves on the wire.
; Clobbers ACC, tmp2, tmp3.
link_up:
        ld ocr
        st ocr_saved
        and #$FE                ; start the ceramic oscillator, still on the old clock
        st ocr
        mov #2, acc             ; 1032 cycles of the RC clock /6 for it to
        call pause              ; settle: about 7 ms (5 to 10 from card to card)
        mov #OCR_CERAMIC, ocr
        clr1 psw, rambk0        ; the system's RAM bank
        ld LOW_BATTERY_CHECK
        mov #$FF, LOW_BATTERY_CHECK
        set1 psw, rambk0
        st battery_saved
        mov #P1_IDLE, p1
        mov #P1FCR_LINK, p1fcr
        mov #P1DDR_LINK, p1ddr
        mov #1, link_taken
        mov #0, echo_flags      ; the first byte's echo is the PC's own
        mov #0, pending_hold
        mov #FAST_LOW_LOOPS, low_unconfirmed
        mov #FAST_HIGH_LOOPS, high_unconfirmed
        ld speed
        bz .fast
        mov #SAFE_LOW_LOOPS, low_unconfirmed
        mov #SAFE_HIGH_LOOPS, high_unconfirmed
.fast:
        ret

; link_down: gives the cable back (P1's registers as the system keeps them:
; the PC's lines are all inputs again, only the buzzer driven), the battery
; check and the clock as they were, interrupts on. Clobbers ACC.
link_down:
        mov #P1DDR_SYSTEM, p1ddr        ; the PC's lines inputs first, then
        mov #P1FCR_SYSTEM, p1fcr        ; the pins back to their functions
        mov #0, p1
        ld battery_saved
        clr1 psw, rambk0
        st LOW_BATTERY_CHECK
        set1 psw, rambk0
        ld ocr_saved
        st ocr
        mov #0, link_taken
        set1 ie, 7
        ret

; recv_byte: receives a byte from the PC: eight times a fall of D0 and its
; rise, the bit taken from D1 in the read that sees D0 high. The whole byte
; has RECV_TIMEOUT_MS. Then it waits before the card may send again: after
; its last bit the PC still holds D0 high for one of its delay units before
; it looks at Ack, so the card waits twice the length of that bit's low
; level, as it measured it, and REPLY_GAP_MIN_POLLS more. Interrupts must be
; off. Out: CY clear and the byte in ACC, or CY set on a timeout. Clobbers
; recv_value, recv_sample, bit_count, timeout0-2, fall_lo, fall_hi,
; level_lo, level_hi.
;   A level longer than 65535 polls (0.3 s) is measured short by 65536
;   polls; the PC's delay unit is at most 10 ms.
;   Each poll is 5 cycles (LD 1, BN/BP 2, DBNZ 2); timeout0 and timeout1
;   count 65536 polls per unit of timeout2. After k polls they hold -k mod
;   256 and -(k / 256) mod 256, which is how a level's length is read off
;   them.
recv_byte:
        mov #0, pending_hold    ; the PC answers: it took the card's last bit
        mov #0, timeout0
        mov #0, timeout1
        mov #RECV_UNITS, timeout2
        mov #0, recv_value
        mov #8, bit_count
.fall:
        ld p1                   ; 1
        bn acc, P1_D0, .fell    ; 2
        dbnz timeout0, .fall    ; 2
        dbnz timeout1, .fall
        dbnz timeout2, .fall
        br .timeout
.fell:
        ld timeout0             ; the polls so far, at the fall
        st fall_lo
        ld timeout1
        st fall_hi
.rise:
        ld p1                   ; 1
        bp acc, P1_D0, .take    ; 2
        dbnz timeout0, .rise    ; 2
        dbnz timeout1, .rise
        dbnz timeout2, .rise
        br .timeout
.take:
        st recv_sample
        ld timeout0             ; the polls so far, at the rise
        st level_lo
        ld timeout1
        st level_hi
        ld recv_value
        rol                     ; bit 7 is still 0: a plain shift
        bn recv_sample, P1_D1, .zero
        or #$01
.zero:
        st recv_value
        dbnz bit_count, .fall
        mov #0, acc             ; the last low level in polls: the count at
        sub level_lo            ; the rise less the count at the fall, each
        st level_lo             ; count the negated timeout bytes
        mov #0, acc
        sub level_hi
        st level_hi
        mov #0, acc
        sub fall_lo
        st fall_lo
        mov #0, acc
        sub fall_hi
        st fall_hi
        ld level_lo
        sub fall_lo
        st level_lo
        ld level_hi
        subc fall_hi
        st level_hi
        ld level_lo             ; the gap: 2 x level + REPLY_GAP_MIN_POLLS
        add level_lo
        st level_lo
        ld level_hi
        addc level_hi
        st level_hi
        ld level_lo
        add #REPLY_GAP_MIN_POLLS
        st level_lo
        ld level_hi
        addc #1                 ; and one for the DBNZ chain below
        st level_hi
.gap:
        nop                     ; 1
        nop                     ; 1
        nop                     ; 1
        dbnz level_lo, .gap     ; 2: 5 cycles a count, as a poll
        dbnz level_hi, .gap
        ld recv_value
        clr1 psw, cy
        ret
.timeout:
        set1 psw, cy
        ret

; send_frame: one block frame: header, the PC's reply, code, payload,
; trailer, the PC's answer. In: frame_code; frame_len (1-16, or 128);
; frame_src 0 for the bytes at frame_ram, 1 for flash from FPR:TRH:TRL on.
; Trailers alternate $00 and $FF from frame to frame. The frame begins
; FRAME_GAP_US after the call. Interrupts are off from the header to the
; answer and on again after it. Out: CY clear when the PC acknowledged the
; frame; CY set with fail_reason when it refused it, answered something else
; or nothing, or its echo went wrong. Clobbers ACC, R0, TRL, TRH, tmp0,
; payload_left and what send_byte and recv_byte clobber.
send_frame:
        mov #FRAME_GAP, acc     ; time for the PC's progress output
        call pause
        clr1 ie, 7
        ld frame_len
        be #128, .long
        add #$0F                ; $10-$1F announce 1-16 bytes
        br .header
.long:
        mov #$50, acc           ; 128 bytes
.header:
        call send_byte
        bp psw, cy, .fail
        call recv_byte
        bp psw, cy, .no_reply
        bne #HEADER_REPLY, .bad_reply
        ld frame_code
        call send_byte
        bp psw, cy, .fail
        ld frame_len
        st payload_left
        mov #frame_ram, ram_ptr
.payload:
        ld frame_src
        bz .from_ram
        ldf
        st tmp0
        inc trl
        ld trl
        bnz .flash_byte
        inc trh
.flash_byte:
        ld tmp0
        br .send
.from_ram:
        ld @R0
        inc ram_ptr
.send:
        call send_byte
        bp psw, cy, .fail
        dbnz payload_left, .payload
        ld trailer
        call send_byte
        bp psw, cy, .fail
        ld trailer
        xor #$FF
        st trailer
        call recv_byte
        bp psw, cy, .no_reply
        be #BLOCK_ACK, .ok
        be #BLOCK_NAK, .refused
.bad_reply:
        mov #FAIL_BAD_REPLY, fail_reason
        br .fail
.no_reply:
        mov #FAIL_NO_REPLY, fail_reason
        br .fail
.refused:
        mov #FAIL_REFUSED, fail_reason
.fail:
        set1 ie, 7
        set1 psw, cy
        ret
.ok:
        set1 ie, 7
        clr1 psw, cy
        ret
