; test_rom: a system ROM of the project's own for the processor model's
; ROM mode, so that the tests cover ROM mode without the card's own ROM. It
; boots from $0000 and, in turn: reads a byte of its own through LDC;
; writes to the flash without the chip's unlock (which must change
; nothing); programs a flash page with the chip's unlock sequence and data
; polling, and reads it back; jumps into the code it wrote there and is
; jumped back to (the code bank chosen by EXT at each far jump); exchanges
; a byte each way between the serial ports, SIO0 master and SIO1 slave and
; then the other way round, ended by their interrupts; reads P7, halts
; until P7's INT0 rises, and reads it again. Each step leaves its result in
; RAM bank 1 at $10-$20, and the page it wrote at $80-$FF.
;
; Build (CMake does it): vmurx-vmu asm -o test_rom.bin test_rom.s
;
; What the test around it does: the card erased (all $FF), P7 $0A (the
; battery good, a peer), the serial ports' pins wired to each other (SO0 to
; SI1, SO1 to SI0, SCK0 with SCK1, whichever drives), and P7 raised to
; $0B once WAITING reads $FF and the processor halts.

        .include "sfr.i"

BOOTED          = $10   ; $A5 once the reset vector led here
ROM_BYTE        = $11   ; the byte at rom_marker as LDC reads it
UNLOCKED        = $12   ; the flash byte written without the unlock, read back
POLLS           = $13   ; the reads while the page programmed
MISMATCHES      = $14   ; the page's bytes that read back otherwise
FLASH_RAN       = $15   ; $5A once the code in the flash ran
RETURNED        = $16   ; $3C once the flash jumped back
SIO_ENDS        = $17   ; the serial ports' end interrupts taken
SBUF0_FIRST     = $18   ; what SIO0 took as master
SBUF1_FIRST     = $19   ; what SIO1 took as slave
SBUF0_SECOND    = $1A   ; what SIO0 took as slave
SBUF1_SECOND    = $1B   ; what SIO1 took as master
P7_BEFORE       = $1C
P7_AFTER        = $1D
WAITING         = $1E   ; $FF while the ROM halts for INT0
DONE            = $1F   ; $FF at the end
INT0S           = $20   ; INT0's interrupts taken

FLASH_PAGE      = $0400 ; the page the ROM writes and runs
UNLOCKED_AT     = $0480 ; the byte it writes without the unlock
PAGE_BUFFER     = $80   ; RAM bank 1 $80-$FF: the page's bytes
SERIAL_LEVEL    = $E0   ; SBR: each level of a master's clock 32 cycles

        .org 0
        jmpf start
        .org $03
        jmp int0_end
        .org $33
        jmp sio0_end
        .org $3B
        jmp sio1_end

; INT0 (P70 rising): counted.
int0_end:
        clr1 i01cr, 1
        inc INT0S
        reti

; A serial port's end: its flag cleared, counted.
sio0_end:
        clr1 scon0, 1
        inc SIO_ENDS
        reti
sio1_end:
        clr1 scon1, 1
        inc SIO_ENDS
        reti

        .org $200
start:
        set1 psw, rambk0        ; the results' bank (the stack stays in bank 0)
        mov #$A5, BOOTED
        mov #0, DONE
        mov #0, WAITING
        mov #0, INT0S

; LDC in the ROM reads the ROM: the flash there holds $FF.
        mov #<rom_marker, trl
        mov #>rom_marker, trh
        mov #0, acc
        ldc
        st ROM_BYTE

; A write without the unlock sequence, FPR bit 1 set and clear, is no
; command the chip takes.
        mov #>UNLOCKED_AT, trh
        mov #<UNLOCKED_AT, trl
        mov #$02, fpr
        mov #$77, acc
        stf
        mov #$00, fpr
        stf
        ldf
        st UNLOCKED

; The page: the code for the flash copied in from the ROM, programmed,
; read back.
        call copy_code
        call program_page
        call verify_page

; Into the flash and back: EXT bit 0 set at the far jump runs the flash.
        not1 ext, 0
        jmpf FLASH_PAGE
back_in_rom:
        mov #$3C, RETURNED

; The serial ports, SIO0 master first.
        mov #SERIAL_LEVEL, sbr
        mov #0, SIO_ENDS
        mov #$80, ie
        mov #$0D, p1ddr         ; SO0, SCK0, SO1 driven
        mov #$0D, p1fcr         ; by their functions
        mov #$3C, sbuf1
        mov #$C3, sbuf0
        mov #$0D, scon1         ; slave: start, MSB first, its interrupt on
        mov #$0D, scon0         ; master
        mov #2, b
        call wait_ends
        ld sbuf0
        st SBUF0_FIRST
        ld sbuf1
        st SBUF1_FIRST

; Then SIO1 master.
        mov #$29, p1ddr         ; SO0, SO1, SCK1 driven
        mov #$29, p1fcr
        mov #$69, sbuf0
        mov #$96, sbuf1
        mov #$0D, scon0         ; slave
        mov #$0D, scon1         ; master
        mov #4, b
        call wait_ends
        ld sbuf0
        st SBUF0_SECOND
        ld sbuf1
        st SBUF1_SECOND

; P7, and HALT until P70 rises.
        ld p7
        st P7_BEFORE
        mov #$09, i01cr         ; INT0 on, on a rising edge
        mov #$FF, WAITING
halted:
        ld INT0S
        bnz woken
        set1 pcon, 0
        br halted
woken:
        ld p7
        st P7_AFTER
        mov #0, WAITING
        mov #0, ie
        mov #$FF, DONE
finished:
        set1 pcon, 0
        br finished

; copy_code: the 128 bytes from flash_code into the page buffer, through
; LDC. Clobbers ACC, C, TRL, TRH, $00.
copy_code:
        mov #<flash_code, trl
        mov #>flash_code, trh
        mov #PAGE_BUFFER, $00
        mov #0, c
copy_byte:
        ld c
        ldc
        st @R0
        inc $00
        inc c
        ld c
        bne #$80, copy_byte
        ret

; program_page: the page buffer into the flash at FLASH_PAGE, as the chip
; takes a page: the unlock sequence with FPR bit 1 set, the 128 bytes, then
; data polling (bit 7 of a read is the last byte's complement until the
; page is written), counting the reads in POLLS. Clobbers ACC, B, TRL, TRH,
; $00.
program_page:
        mov #$02, fpr
        mov #$55, trh
        mov #$55, trl
        mov #$AA, acc
        stf
        mov #$2A, trh
        mov #$AA, trl
        mov #$55, acc
        stf
        mov #$55, trh
        mov #$55, trl
        mov #$A0, acc
        stf
        mov #$00, fpr           ; the page's bytes go in with the writes locked
        mov #>FLASH_PAGE, trh
        mov #<FLASH_PAGE, trl
        mov #PAGE_BUFFER, $00
page_byte:
        ld @R0
        stf
        st b
        inc trl
        inc $00
        ld $00
        bnz page_byte
        dec trl                 ; the last byte's address
        mov #0, POLLS
poll:
        ldf
        xor b
        bn acc, 7, polled
        inc POLLS
        br poll
polled:
        ret

; verify_page: counts in MISMATCHES the page's bytes in the flash that
; differ from the page buffer. Clobbers ACC, TRL, TRH, $00.
verify_page:
        mov #>FLASH_PAGE, trh
        mov #<FLASH_PAGE, trl
        mov #PAGE_BUFFER, $00
        mov #0, MISMATCHES
verify_byte:
        ldf
        xor @R0
        bz verify_next
        inc MISMATCHES
verify_next:
        inc trl
        inc $00
        ld $00
        bnz verify_byte
        ret

; wait_ends: until SIO_ENDS reaches B, or about 40000 cycles. Clobbers ACC, C.
wait_ends:
        mov #0, c
        mov #16, acc
        push acc
wait_end:
        ld SIO_ENDS
        sub b
        bz waited
        dbnz c, wait_end
        pop acc
        dec acc
        push acc
        bnz wait_end
waited:
        pop acc
        ret

rom_marker:
        .byte $C7

; The code the ROM writes to the flash and runs there: it marks that it ran
; and jumps back. Position-independent but for the jump back.
flash_code:
        mov #$5A, FLASH_RAN
        not1 ext, 0
        jmpf back_in_rom

; A system ROM fills its 64 KiB bank.
        .org $FFFF
        .byte $FF
