; RENUM [start][,step]: the lines numbered afresh from start (10) in steps
; of step (10), and every line number that GOTO, GOSUB, THEN, ELSE, RUN or
; an ON list names changed to match (a number naming no line stays). A
; first pass finds how much the program grows, so that it either fits
; whole or is left as it was.

do_renum:
        ld $24,&H10
        st $24,(iz+RNSTART)
        st $31,(iz+RNSTART+1)
        st $24,(iz+RNSTEP)
        st $31,(iz+RNSTEP+1)
        cal getnum
        jr c,rn_second
        cal autonum
        st $0,(iz+RNSTART)
        st $1,(iz+RNSTART+1)
rn_second:
        ld $24,(ix+0)
        sbc $24,&H2C
        jr nz,rn_args
        ldi $24,(ix+0)
        cal getnum
        jp c,err_syntax
        cal autonum
        st $0,(iz+RNSTEP)
        st $1,(iz+RNSTEP+1)
rn_args:
        ld $24,(ix+0)
        cal isend
        jp nz,err_syntax
        ; the last new number must stay within 9999
        cal rnfirst
        pre ix,PSTART
rn_count:
        cal rnend
        jr z,rn_counted
        cal rnnextrec
        cal rnend
        jr z,rn_counted
        cal rnstepa
        jp c,err_value
        jr rn_count
rn_counted:
        st $31,(iz+RNDELTA)     ; pass 1: how many bytes the program grows
        st $31,(iz+RNDELTA+1)
        st $31,(iz+RNPASS)
        cal rnrefs
        ld $24,(iz+RNDELTA+1)
        an $24,&H80
        jr nz,rn_fits           ; it shrinks
        ld $24,(iz+PEND)
        ld $25,(iz+PEND+1)
        ld $26,(iz+RNDELTA)
        ld $27,(iz+RNDELTA+1)
        adw $24,$26
        ld $26,lo(MEMTOP-2)
        ld $27,hi(MEMTOP-2)
        sbcw $24,$26
        jp nc,err_memory
rn_fits:
        ld $24,1                ; pass 2: the numbers changed
        st $24,(iz+RNPASS)
        cal rnrefs
        cal rnfirst             ; and the lines' own
        pre ix,PSTART
rn_lines:
        cal rnend
        jr z,rn_done
        st $0,(ix+0)
        st $1,(ix+1)
        cal rnstepa
        cal rnnextrec
        jr rn_lines
rn_done:
        st $31,(iz+CONTL)
        st $31,(iz+CONTL+1)
        cal arrclear
        jp cmdloop

; A = the first new number. A = A + the step, C past 9999. IX on a record:
; IX on the next one. Uses $24, $25.
rnfirst:
        xrm $0,$0,8
        ld $30,0
        ld $0,(iz+RNSTART)
        ld $1,(iz+RNSTART+1)
        rtn
rnstepa:
        ld $8,(iz+RNSTEP)
        ld $9,(iz+RNSTEP+1)
        adbm $0,$8,2
        rtn
; Z when IX is on the end mark. Uses $24, $25.
rnend:
        ld $24,(ix+0)
        ld $25,(ix+1)
        an $24,$25
        sbc $24,&HFF
        rtn
rnnextrec:
        ld $24,(ix+2)
        gre ix,$26
        ad $26,$24
        jr nc,rnr_set
        ad $27,1
rnr_set:
        pre ix,$26
        rtn

; Every line number the program's text names, visited in order (rnref).
rnrefs:
        pre ix,PSTART
rs_record:
        ld $24,(ix+0)
        ld $25,(ix+1)
        an $24,$25
        sbc $24,&HFF
        rtn z
        gre ix,$24
        st $24,(iz+RNREC)
        st $25,(iz+RNREC+1)
        ldi $24,(ix+2)
rs_text:
        ld $24,(ix+0)
        adc $24,0
        jr z,rs_eol
        ldi $24,(ix+0)
        sbc $24,&H22
        jr z,rs_string
        sbc $24,TREM
        jr z,rs_rem
        sbc $24,TTHEN
        jr z,rs_one
        sbc $24,TELSE
        jr z,rs_one
        sbc $24,TRUN
        jr z,rs_one
        sbc $24,TGOTO
        jr z,rs_list
        sbc $24,TGOSUB
        jr nz,rs_text
rs_list:                        ; line, line, ... (ON's list)
        cal rnref
        ld $24,(ix+0)
        sbc $24,&H2C
        jr nz,rs_text
        ldi $24,(ix+0)
        jr rs_list
rs_one:
        cal rnref
        jr rs_text
rs_string:
        ld $24,(ix+0)
        adc $24,0
        jr z,rs_eol
        ldi $24,(ix+0)
        sbc $24,&H22
        jr nz,rs_string
        jr rs_text
rs_rem:
        cal skip_eol
rs_eol:
        ldi $24,(ix+0)
        jr rs_record

; The line number at IX (when digits are there): its new number found; in
; pass 1 the growth counted, in pass 2 the digits written, the rest of the
; program moved to fit. IX past the number.
rnref:
        ld $24,(ix+0)
        sb $24,&H30
        rtn c
        sbc $24,10
        rtn nc
        gre ix,$24
        st $24,(iz+RNAT)
        st $25,(iz+RNAT+1)
        cal getnum
        gre ix,$24              ; the old number's length
        ld $26,(iz+RNAT)
        sb $24,$26
        st $24,(iz+RNOLD)
        orcm $2,$2,6
        rtn nz                  ; above 9999: no line
        ld $24,$0               ; the line of that number: its new one
        ld $25,$1
        cal rnfirst
        ld $26,lo(PSTART)
        ld $27,hi(PSTART)
rf_walk:
        ldw $28,($26)
        sbcw $28,$24
        jr z,rf_found
        rtn nc                  ; past it: no line has that number
        ld $28,$26
        ld $29,$27
        ad $28,2
        jr nc,rf_len
        ad $29,1
rf_len:
        ld $28,($28)
        ad $26,$28
        jr nc,rf_next
        ad $27,1
rf_next:
        cal rnstepa
        jr rf_walk
rf_found:
        cal numstr              ; the new number's digits in NUMBUF
        ld $25,0
rf_count:
        ld $26,lo(NUMBUF)
        ad $26,$25
        ld $27,hi(NUMBUF)
        ld $24,($26)
        adc $24,0
        jr z,rf_have
        ad $25,1
        jr rf_count
rf_have:
        ld $24,$25              ; the growth: new length - old length
        ld $26,(iz+RNOLD)
        sb $24,$26
        ld $25,0
        jr nc,rf_grow
        ld $25,&HFF
rf_grow:
        ld $26,(iz+RNPASS)
        adc $26,0
        jr nz,rf_write
        ld $26,(iz+RNDELTA)
        ld $27,(iz+RNDELTA+1)
        adw $26,$24
        st $26,(iz+RNDELTA)
        st $27,(iz+RNDELTA+1)
        rtn
rf_write:
        phs $24
        adc $24,0
        jr z,rf_copy            ; as long as before
        cal rnmove
rf_copy:
        pps $24
        ld $26,(iz+RNAT)
        ld $27,(iz+RNAT+1)
        ld $28,lo(NUMBUF)
        ld $29,hi(NUMBUF)
rf_put:
        ld $24,($28)
        adc $24,0
        jr z,rf_end
        st $24,($26)
        ad $28,1
        ad $26,1
        jr nc,rf_put
        ad $27,1
        jr rf_put
rf_end:
        pre ix,$26
        rtn

; Pass 2 for a number whose length changes by pair $24 (signed): the text
; after the old number, to the end mark, moves by that much; the record's
; length and PEND follow. Uses $16-$29.
rnmove:
        ld $16,$24              ; pair $16: the growth
        ld $17,$25
        ld $26,(iz+RNREC)       ; the record's length byte
        ld $27,(iz+RNREC+1)
        ad $26,2
        jr nc,rm_len
        ad $27,1
rm_len:
        ld $28,($26)
        ad $28,$16
        st $28,($26)
        ld $20,(iz+RNAT)        ; the first byte after the old number
        ld $21,(iz+RNAT+1)
        ld $24,(iz+RNOLD)
        ld $25,0
        adw $20,$24
        ld $22,(iz+PEND)        ; the end mark's last byte
        ld $23,(iz+PEND+1)
        ld $24,1
        ld $25,0
        adw $22,$24
        ld $24,(iz+PEND)
        ld $25,(iz+PEND+1)
        adw $24,$16
        st $24,(iz+PEND)
        st $25,(iz+PEND+1)
        ld $24,$20              ; where the first byte goes
        ld $25,$21
        adw $24,$16
        ld $26,$22              ; where the last one goes
        ld $27,$23
        adw $26,$16
        gre ix,$28
        phsw $29
        pst ie,0
        ld $18,$17
        an $18,&H80
        jr nz,rm_down
        pre ix,$22              ; growing: from the end down
        pre iy,$20
        pre iz,$26
        bdn
        jr rm_moved
rm_down:
        pre ix,$20              ; shrinking: from the start up
        pre iy,$22
        pre iz,$24
        bup
rm_moved:
        pre iz,VARS
        pst ie,IEKEYS
        ppsw $28
        pre ix,$28
        rtn
