; send.i: the byte the card sends, bit by bit, with the PC's echo on D2 as
; its handshake, so that a PC that pauses now and then (a busy kernel, a
; firmware interrupt) makes the card wait instead of losing a bit.
;
; The rules, worked out on paper first.
;
; The PC (vmurx's byte exchange) takes each of the card's bits in two steps:
;   WL(n): it reads the status register until Ack is low, then writes the
;          echo E(n) on D2 and goes to WH(n);
;   WH(n): it reads until Ack is high, takes Busy as bit n and goes to
;          WL(n + 1).
; Its echo is the byte it took before, bit for bit: counting the card's bits
; across the whole transfer, E(n) = the bit the PC took as n - 8. A byte the
; PC sends in between (its $E0, $0C) changes neither D2 nor what it echoes.
; So once the card has sent one byte it knows every echo to come: the echo
; during a byte is the byte before, whichever frame it was in.
;
; The card sees only D2. Let x = E(n) and p = E(n - 1), which D2 shows when
; the card lowers Ack for bit n if the PC is in step.
;
; 1. A visible answer (x differs from D2 at the fall). The card waits for D2
;    to become x, with no fixed hold: a paused PC only makes it wait. When
;    it does, the PC is in WH(n) and takes whatever Busy shows at the next
;    high, which is bit n.
; 2. No answer within ECHO_WAIT_US. Either the PC never saw the last high
;    (it is still in WH(n - 1)), or it has not yet seen this low (WL(n)).
;    The card raises Ack again with bit n - 1 on Busy: in WH(n - 1) the PC
;    takes bit n - 1 as it should, in WL(n) it ignores a high. Then it lowers
;    Ack for bit n again and goes back to 1. This also catches up a PC that
;    fell one bit behind (it missed an unconfirmable low, rule 3, and answers
;    this low as if it were the one before, with p, which is no change on
;    D2): the high with bit n - 1 gives it the bit it missed.
;    The one case this does not cover is a PC that read the low and then
;    paused for longer than ECHO_WAIT_US before it wrote x: reading Ack
;    raised, it takes bit n - 1 as bit n. Its late x then reaches D2 before
;    the card lowers Ack again, and the card looks for it just before that
;    fall and again just after it (rule 4). The first look alone would miss
;    an x that lands in the few cycles between it and the fall; the PC would
;    then take the new low for that of bit n + 1 and run one bit ahead,
;    which no later echo shows where nine bits in a row are alike, and the
;    frame could still pass the PC's checks. A true answer to the new low
;    comes only once the PC has read that low, a port access or more after
;    the fall, no sooner than the second look; one sooner still would end
;    the transfer, never let a wrong bit through.
; 3. An unconfirmable level: the low when x equals D2 (the answer changes
;    nothing), and the high before such a low (it is confirmed only by the
;    next answer). The card holds these 20 us at FAST, as the sender always
;    did, 250 us at SAFE, longer than the pauses it is meant to survive,
;    the first byte's too. Every other high lasts HOLD_US, a raised one too.
; 4. Never a wrong file: whenever the card knows what D2 must show, it
;    looks. At each fall D2 must still be p (nothing writes D2 while Ack is
;    high, unless a PC answers a low long gone, as in rule 2's exception),
;    and just after a fall that follows a raise, too (rule 2); at the end
;    of an unconfirmable low D2 must be x (a PC that took bit n - 8 wrongly
;    echoes it wrongly). Any mismatch ends the transfer (FAIL_BAD_ECHO):
;    the PC then times out and stores nothing. The last byte of a frame is
;    checked by the echo during the next frame's header; the frame's
;    trailer, which the PC checks itself, ends the transfer.
; 5. The first byte of a transfer: the PC echoes a byte the card never
;    sent, so every level of it is unconfirmable and nothing is checked; the
;    first bit of the second byte has an unknown p, until a raise (rule 2):
;    p is then what D2 showed at the fall.
; 6. Across byte boundaries nothing changes: the bit after a byte's last is
;    the next byte's first, whose echo is the first bit of the byte just
;    sent. So the high of a byte's last bit is held at the start of the
;    next byte (pending_hold), not at its end: when the card listens to the
;    PC in between, Ack stays high until it sends again, the PC cannot miss
;    that high, and its answer proves it took the bit; the card must then be
;    listening at once, as the PC starts its byte a few delay units later.
; 7. A PC that never answers (ECHO_GIVE_UP retries, about 2 s; or a cable
;    without D2 on P11) ends the transfer with FAIL_NO_ECHO.

; ECHO_WAIT_US: how long the card waits for a visible answer before it
; raises Ack again (rule 2); the wait is a 6-cycle poll.
ECHO_WAIT_US    = 300
ECHO_POLL       = 6
ECHO_WAIT_POLLS = ECHO_WAIT_US * CYCLES_PER_US / ECHO_POLL
; The levels' least lengths, in cycles between the level's two stores to P1
; (neither counted; the line changes at the same point of both, so a level
; lasts one cycle more), along send_byte's paths and a 2-cycle loop of n >= 1
; rounds: an unconfirmable low 20 + 2n, an unconfirmable high 40 + 2n, a
; confirmed high 38 + 2n, a raised high of rule 2 9 + 2n. Where the card
; does not know an echo (the first byte, the first bit of the second) it
; skips its checks through padding as long as them, so that those levels
; last as long as any other.
HIGH_CYCLES     = 40
LOW_CYCLES      = 20
RAISED_CYCLES   = 9
HOLD_US         = 20            ; every confirmed high, and a raised one
FAST_HOLD_US    = 20            ; the unconfirmable levels of rule 3, by speed
SAFE_HOLD_US    = 250
; The rounds of the loop that make each level last at least its length,
; rounded up; one where the instructions alone take as long.
HOLD_LOOPS      = 1             ; 20 us < 38 cycles
RAISED_LOOPS    = (HOLD_US * CYCLES_PER_US - RAISED_CYCLES + 1) / 2
FAST_HIGH_LOOPS = 1             ; 20 us < 40 cycles
FAST_LOW_LOOPS  = 1             ; 20 us <= 20 + 2 cycles
SAFE_HIGH_LOOPS = (SAFE_HOLD_US * CYCLES_PER_US - HIGH_CYCLES + 1) / 2
SAFE_LOW_LOOPS  = (SAFE_HOLD_US * CYCLES_PER_US - LOW_CYCLES + 1) / 2
; Rule 7: about 2 s of waits and raises, a retry being ECHO_WAIT_US + HOLD_US.
ECHO_GIVE_UP    = 2000000 / (ECHO_WAIT_US + HOLD_US)
ECHO_GIVE_UP_LO = ECHO_GIVE_UP & $FF            ; counted by two DBNZ
ECHO_GIVE_UP_HI = ECHO_GIVE_UP / 256 + 1

; echo_flags bits.
ECHO_X_KNOWN    = 0             ; the card knows this byte's echo
ECHO_P_KNOWN    = 1             ; and the echo of the bit before this one
D2_MASK         = 1 << P1_D2

; send_byte: sends ACC, most significant bit first, as the rules above say.
; Select stays low. Interrupts must be off. In: echo_value, the byte sent
; before (its bits are the PC's echoes), and echo_flags; low_unconfirmed
; and high_unconfirmed.
; Out: CY clear when sent, echo_value the byte; CY set with fail_reason
; FAIL_NO_ECHO or FAIL_BAD_ECHO; pending_hold the loops the last high
; still lasts. Clobbers ACC, send_value, bit_count,
; hold_count, busy_bits, prev_busy, next_visible, d2_expect, d2_prev,
; retry_lo, retry_hi, tmp0.
send_byte:
        st send_value
        ld pending_hold         ; the last high of the byte before (rule 6)
        bz .held
.last_high:
        dbnz pending_hold, .last_high   ; 2 each
.held:
        ld send_value           ; next_visible (rule 3): bit i set where the
        rol                     ; echo of bit i differs from that of the bit
        and #1                  ; after it, which for bit 0 is this byte's top
        st tmp0
        ld echo_value
        rol
        and #$FE
        or tmp0
        xor echo_value
        st next_visible
        mov #8, bit_count
        mov #ECHO_GIVE_UP_LO, retry_lo
        mov #ECHO_GIVE_UP_HI, retry_hi
.bit:
        ld send_value
        rol                     ; the next bit, from the top, to bit 0
        st send_value
        and #1 << P1_BUSY       ; Busy = the bit, Ack low, Select low
        st busy_bits
        ld echo_value           ; x, the echo of this bit, as D2's bit
        rol
        st echo_value
        rol
        and #D2_MASK
        st d2_expect
.fall:
        ld p1                   ; D2 as the fall finds it: read before, as
        and #D2_MASK            ; a fast PC may answer the very next moment
        st tmp0
        ld busy_bits
        st p1                   ; <- Ack falls
.fell:
        bn echo_flags, ECHO_P_KNOWN, .p_unknown
        ld tmp0                 ; rule 4: still p
        be d2_prev, .p_ok
        jmp .bad_echo
.p_unknown:
        nop                     ; 3 x 1: as long as the check
        nop
        nop
.p_ok:
        bn echo_flags, ECHO_X_KNOWN, .x_unknown
        ld tmp0
        be d2_expect, .unconfirmed
        mov #ECHO_WAIT_POLLS, hold_count        ; rule 1
.wait:
        ld p1                   ; 1
        and #D2_MASK            ; 1
        be d2_expect, .high     ; 2
        dbnz hold_count, .wait  ; 2: 6 cycles a poll
        dbnz retry_lo, .raise_again             ; rule 2
        dbnz retry_hi, .raise_again
        mov #FAIL_NO_ECHO, fail_reason
        set1 psw, cy
        ret
.raise_again:
        ld prev_busy
        or #1 << P1_ACK
        st p1                   ; Ack high, bit n - 1 on Busy
        ld tmp0                 ; p is what D2 showed at the fall, known
        st d2_prev              ; before or not (rules 2 and 5)
        set1 echo_flags, ECHO_P_KNOWN
        mov #RAISED_LOOPS, hold_count
.raised:
        dbnz hold_count, .raised                ; 2 each
        ld p1                   ; the fall again, as at .fall
        and #D2_MASK
        st tmp0
        ld busy_bits
        st p1                   ; <- Ack falls again
        ld p1                   ; an answer already here came before the
        and #D2_MASK            ; fall (rule 2's exception)
        be tmp0, .fell
        jmp .bad_echo
.x_unknown:
        nop                     ; 3 x 1: as long as the comparison
        nop
        nop
.unconfirmed:
        ld low_unconfirmed      ; rule 3
        st hold_count
.low:
        dbnz hold_count, .low   ; 2 each
        bn echo_flags, ECHO_X_KNOWN, .x_unknown_end
        ld p1                   ; rule 4: now x
        and #D2_MASK
        be d2_expect, .high
        jmp .bad_echo
.x_unknown_end:
        nop                     ; 4 x 1: as long as the check
        nop
        nop
        nop
.high:
        ld busy_bits
        or #1 << P1_ACK
        st p1                   ; <- Ack rises, the bit on Busy
        st prev_busy
        ld next_visible         ; rule 3: a short high where the next answer
        rol                     ; will show on D2
        st next_visible
        mov #HOLD_LOOPS, hold_count
        bn echo_flags, ECHO_X_KNOWN, .x_unknown_high
        bp acc, 0, .high_held
.unconfirmable:
        ld high_unconfirmed
        st hold_count
.high_held:
        ld bit_count
        bne #1, .hold_high
        ld hold_count           ; the byte's last bit: held by the next byte
        st pending_hold
        br .next
.hold_high:
        dbnz hold_count, .hold_high     ; 2 each
.next:
        ld d2_expect            ; p of the next bit: this one's x
        st d2_prev
        clr1 echo_flags, ECHO_P_KNOWN
        bn echo_flags, ECHO_X_KNOWN, .counted
        set1 echo_flags, ECHO_P_KNOWN
.counted:
        dbnz bit_count, .more
        ld send_value           ; rotated eight times: the byte again, the
        st echo_value           ; echo during the next byte
        set1 echo_flags, ECHO_X_KNOWN
        clr1 psw, cy
        ret
.more:
        jmp .bit
.x_unknown_high:
        nop                     ; 1 + 2, and the SET1 it skips at .next: as
        br .unconfirmable       ; long as the test of next_visible
.bad_echo:
        mov #FAIL_BAD_ECHO, fail_reason
        set1 psw, cy
        ret
