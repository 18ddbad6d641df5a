; transfer.i: sending the file on show, and the screens around it.

; send_file: sends the file whose entry load_entry read, in the order the PC
; expects: start, name, a data and a flash block per 128-byte piece, directory,
; last flash. Shows the progress and, at the end, DONE or what failed, with
; the cable given back. Out: fail_reason (FAIL_NONE after a whole transfer).
send_file:
        mov #FAIL_NONE, fail_reason
        mov #BLK_START, fail_block
        mov #0, done_hi
        mov #0, done_lo
        ld entry_size           ; 4 pieces a block
        st total_lo
        mov #0, total_hi
        call total_x2
        call total_x2
        ld entry_size_hi        ; the start block carries the size in a byte
        bz .size_ok
        mov #FAIL_TOO_LARGE, fail_reason
        jmp .show
.size_ok:
        call show_waiting
        call link_up
        mov #$00, trailer
        call wait_pc
        bn psw, cy, .ready
        mov #FAIL_CANCELLED, fail_reason
        jmp .end
.ready:
        mov #P1_READY, p1       ; Select low: ready
        mov #READY_LEAD, acc
        call pause
        call show_sending

        ld entry_type           ; start block: type and size
        st frame_ram
        ld entry_size
        st frame_ram + 1
        mov #CODE_START, frame_code
        mov #2, frame_len
        call ram_frame
        bn psw, cy, .sent1
        jmp .failed
.sent1:

        mov #BLK_NAME, fail_block        ; name block: the entry's 12 bytes
        ld slot
        call entry_at
        ld trl
        add #DIR_NAME
        st trl
        mov #CODE_NAME, frame_code
        mov #12, frame_len
        call flash_frame
        bn psw, cy, .sent2
        jmp .failed
.sent2:

        ld entry_first
        st cur_block
        ld entry_size
        st blocks_left
        bz .directory
.block:
        mov #0, piece
.piece:
        ld p7                   ; docked meanwhile: back to the menu
        bn acc, DOCKED, .undocked
        jmp leave
.undocked:
        mov #BLK_DATA, fail_block        ; data block: piece x 128 of the block
        ld piece
        ror
        and #$01
        st b
        ld piece
        ror
        and #$80
        st c
        ld cur_block
        call flash_at
        mov #CODE_DATA, frame_code
        mov #128, frame_len
        call flash_frame
        bp psw, cy, .failed
        mov #BLK_FLASH, fail_block       ; and its flash block
        call flash_block
        bp psw, cy, .failed
        inc done_lo
        ld done_lo
        bnz .counted
        inc done_hi
.counted:
        call show_count
        inc piece
        ld piece
        bne #4, .piece
        dec blocks_left
        ld blocks_left
        bz .directory
        call fat_next
        st cur_block
        bn psw, cy, .block
        mov #FAIL_BAD_CHAIN, fail_reason
        br .failed

.directory:
        mov #BLK_DIRECTORY, fail_block   ; directory block: stamp, size, header
        ld slot
        call entry_at
        ld trl
        add #DIR_STAMP
        st trl
        mov #CODE_DIRECTORY, frame_code
        mov #12, frame_len
        call flash_frame
        bp psw, cy, .failed
        mov #BLK_LAST_FLASH, fail_block
        call flash_block
        bp psw, cy, .failed
        mov #FAIL_NONE, fail_reason
.failed:
.end:
        call link_down
.show:
        ld fail_reason
        bnz .failure
        jmp show_done
.failure:
        jmp show_failure

; ram_frame, flash_frame: send_frame from frame_ram or from FPR:TRH:TRL.
ram_frame:
        mov #0, frame_src
        jmp send_frame
flash_frame:
        mov #1, frame_src
        jmp send_frame

; flash_block: the one-byte flash block that follows a data block, and ends
; the transfer.
flash_block:
        mov #0, frame_ram
        mov #CODE_FLASH, frame_code
        mov #1, frame_len
        jmp ram_frame

; total_x2: doubles total_hi:total_lo. Clobbers ACC.
total_x2:
        ld total_lo
        add total_lo
        st total_lo
        ld total_hi
        addc total_hi
        st total_hi
        ret

; wait_pc: waits until the PC holds D3 high (its port open), which the card
; sees on P73. A goes on without it, for a cable that leaves D3 out; B or
; MODE gives up. Out: CY set when given up. Clobbers ACC, tmp0, tmp2, tmp3.
wait_pc:
        ld p7
        bp acc, PC_HOLDS_PORT, .open
        call poll_keys
        bp acc, KEY_A, .open
        and #(1 << KEY_B) | (1 << KEY_MODE)
        bnz .cancel
        mov #10, acc            ; 5 ms at the ceramic clock between looks
        call pause
        br wait_pc
.open:
        clr1 psw, cy
        ret
.cancel:
        set1 psw, cy
        ret

; ---------------------------------------------------------------------------
; Screens. Texts start with their line and column.

show_waiting:
        call screen_with_name
        mov #<txt_waiting, trl
        mov #>txt_waiting, trh
        call put_text
        mov #<txt_the_pc, trl
        mov #>txt_the_pc, trh
        call put_text
        mov #<txt_go_stop, trl
        mov #>txt_go_stop, trh
        jmp put_text

show_sending:
        call screen_with_name
        mov #<txt_sending, trl
        mov #>txt_sending, trh
        call put_text
        jmp show_count

show_done:
        call screen_with_name
        mov #<txt_done, trl
        mov #>txt_done, trh
        call put_text
        call show_count
        jmp show_press

show_failure:
        call lcd_clear
        mov #<txt_failed, trl
        mov #>txt_failed, trh
        call put_text
        mov #1, text_line       ; why
        mov #0, text_col
        mov #<txt_reasons, str_lo
        mov #>txt_reasons, str_hi
        ld fail_reason
        call put_indexed
        ld fail_reason          ; which block, where a frame failed
        sub #FAIL_BAD_CHAIN
        bn psw, cy, .count
        mov #2, text_line
        mov #0, text_col
        mov #<txt_blocks, str_lo
        mov #>txt_blocks, str_hi
        ld fail_block
        call put_indexed
.count:
        call show_count
        jmp show_press

show_press:
        mov #<txt_press, trl
        mov #>txt_press, trh
        jmp put_text

; show_count: "0012/0800", the pieces sent and the pieces of the file, on
; line 3.
show_count:
        mov #3, text_line
        mov #0, text_col
        ld done_hi
        st num_hi
        ld done_lo
        st num_lo
        call put_dec4
        mov #'/', acc
        call draw_char
        ld total_hi
        st num_hi
        ld total_lo
        st num_lo
        jmp put_dec4

; screen_with_name: a clear screen with the file's name on line 0.
screen_with_name:
        call lcd_clear
        mov #0, text_line
        mov #0, text_col
        jmp put_name

; put_indexed: the 16-byte text number ACC of the table at str_hi:str_lo.
put_indexed:
        rol
        rol
        rol
        rol
        and #$F0
        st str_pos
        jmp put_chars

txt_waiting:    .byte 1, 0
                .string 12 "WAITING FOR"
txt_the_pc:     .byte 2, 0
                .string 12 "THE PC"
txt_go_stop:    .byte 4, 0
                .string 13 "A:GO B:STOP"
txt_sending:    .byte 1, 0
                .string 12 "SENDING"
txt_done:       .byte 1, 0
                .string 12 "DONE"
txt_failed:     .byte 0, 0
                .string 12 "SEND FAILED"
txt_press:      .byte 4, 0
                .string 13 "PRESS A KEY"

; The reasons by fail_reason and the blocks by fail_block, 16 bytes each.
txt_reasons:
        .string 16 ""
        .string 16 "NO REPLY"
        .string 16 "BAD REPLY"
        .string 16 "PC REFUSED"
        .string 16 "NO D2 ECHO"
        .string 16 "ECHO WRONG"
        .string 16 "BAD FAT CHAIN"
        .string 16 "FILE TOO BIG"
        .string 16 "CANCELLED"
txt_blocks:
        .string 16 "START BLOCK"
        .string 16 "NAME BLOCK"
        .string 16 "DATA BLOCK"
        .string 16 "FLASH BLOCK"
        .string 16 "DIR BLOCK"
        .string 16 "LAST FLASH"
