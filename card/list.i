; list.i: the list's screens: a file a page with its speed, the docked card,
; the card without files.

; show_page: file number file_index, loaded into the entry variables:
;     FILE 001/012
;     NAME________
;     DATA 012 BLK
;     <> FAST          (or SAFE: left and right switch)
;     A:SEND B:END
show_page:
        ld file_index
        call find_file
        call load_entry
        call lcd_clear
        mov #<txt_file, trl
        mov #>txt_file, trh
        call put_text
        mov #0, num_hi
        ld file_index
        inc acc
        st num_lo
        call put_dec3
        mov #'/', acc
        call draw_char
        ld file_count
        st num_lo
        call put_dec3
        mov #1, text_line
        mov #0, text_col
        call put_name
        mov #<txt_data, trl
        mov #>txt_data, trh
        ld entry_type
        be #TYPE_DATA, .kind
        mov #<txt_game, trl
        mov #>txt_game, trh
.kind:
        call put_text
        ld entry_size_hi
        st num_hi
        ld entry_size
        st num_lo
        call put_dec3
        mov #<txt_blocks_unit, trl
        mov #>txt_blocks_unit, trh
        call put_text
        mov #<txt_send_end, trl
        mov #>txt_send_end, trh
        call put_text
        ; on into show_speed

; show_speed: "<> FAST" or "<> SAFE" on line 3.
show_speed:
        mov #<txt_fast, trl
        mov #>txt_fast, trh
        ld speed
        bz .shown
        mov #<txt_safe, trl
        mov #>txt_safe, trh
.shown:
        jmp put_text

show_docked:
        call lcd_clear
        mov #<txt_docked, trl
        mov #>txt_docked, trh
        call put_text
        mov #<txt_take_out, trl
        mov #>txt_take_out, trh
        call put_text
        mov #<txt_to_send, trl
        mov #>txt_to_send, trh
        jmp put_text

show_no_files:
        call lcd_clear
        mov #<txt_no_files, trl
        mov #>txt_no_files, trh
        call put_text
        jmp show_press

txt_file:       .byte 0, 0
                .string 6 "FILE "
txt_data:       .byte 2, 0
                .string 6 "DATA "
txt_game:       .byte 2, 0
                .string 6 "GAME "
txt_blocks_unit: .byte 2, 8
                .string 5 " BLK"
txt_send_end:   .byte 4, 0
                .string 13 "A:SEND B:END"
txt_fast:       .byte 3, 0
                .string 8 "<> FAST"
txt_safe:       .byte 3, 0
                .string 8 "<> SAFE"
txt_docked:     .byte 0, 0
                .string 12 "CARD DOCKED"
txt_take_out:   .byte 2, 0
                .string 13 "TAKE IT OUT"
txt_to_send:    .byte 3, 0
                .string 13 "TO SEND"
txt_no_files:   .byte 0, 0
                .string 13 "NO FILES"
