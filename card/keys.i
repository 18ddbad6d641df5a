; keys.i: the buttons, waiting and the clock: leaving for the menu, the RC
; clock for the list, the card in a controller, a look at the keys, a wait
; for one, a pause.

; leave: back to the card's menu, with the cable, the clock, the keys' mode
; and the system's battery check as they were.
leave:
        ld link_taken
        bz .gone
        call link_down
.gone:
        clr1 ie, 7
        ld system_p3int
        st p3int
        ld system_ocr
        st ocr
        ld system_ie
        st ie
        jmp game_end

; clock_rc: the RC clock /6, started on the clock in use, which runs on
; while it settles (the RC oscillator settles within microseconds; this
; waits 60 cycles of whichever clock runs). Clobbers ACC, tmp2.
clock_rc:
        mov #OCR_RC_STARTED, ocr
        mov #30, tmp2
.settle:
        dbnz tmp2, .settle      ; 2 each
        mov #OCR_RC, ocr
        ret

; wait_undocked: while the card sits in a controller, says so and waits to
; be taken out; B or MODE leaves.
wait_undocked:
        ld p7
        bp acc, DOCKED, .docked
        ret
.docked:
        call show_docked
.wait:
        call poll_keys
        and #(1 << KEY_B) | (1 << KEY_MODE)
        bnz leave
        mov #1, acc
        call pause
        ld p7
        bp acc, DOCKED, .wait
        ret

; poll_keys: one look at the buttons. Out: ACC the buttons pressed since the
; last look (1: newly down). Clobbers tmp0.
poll_keys:
        ld p3
        xor #$FF                ; 1: held
        st tmp0
        ld keys_held
        xor #$FF
        and tmp0
        and #KEYS_USED
        push acc
        ld tmp0
        st keys_held
        pop acc
        ret

; wait_key: waits for a button to go down, looking every 516 cycles so that
; a bouncing contact counts once. Docking the card meanwhile leaves. Out: ACC
; the buttons newly down. Clobbers tmp0, tmp2, tmp3.
wait_key:
        ld p7
        bp acc, DOCKED, leave
        call poll_keys
        bnz .got
        mov #1, acc
        call pause
        br wait_key
.got:
        ret

; pause: waits ACC x 516 cycles (ACC 0 counts as 256). Clobbers ACC, tmp2, tmp3.
pause:
        st tmp3
.outer:
        mov #0, tmp2            ; 2
.inner:
        dbnz tmp2, .inner       ; 2 x 256 = 512
        dbnz tmp3, .outer       ; 2: 516 a count
        ret
