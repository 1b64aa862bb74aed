; More statements of BASIC: IF ... ELSE, ON ... GOTO / GOSUB, DATA, READ,
; RESTORE, and PRINT's TAB. Their keywords come after the string functions
; in the keyword table; tokens from TSTMT2 on are statements again, found
; in stmttab2.

; Tokens from &H80+NSTMT on that are no statement: ELSE after a THEN part
; that ran skips the rest of the line; anything else is an error. From
; TSTMT2 on: the statements of stmttab2.
stmt2:
        sbc $25,NSTMT2
        jr c,st2_else
        sbc $25,TKILL+1-&H80    ; a byte beyond the last keyword
        jp nc,err_syntax
        ldi $24,(ix+0)
        sb $25,NSTMT2
        ad $25,$25
        ld $26,lo(stmttab2)
        ld $27,hi(stmttab2)
        ad $26,$25
        jr nc,st2_jump
        ad $27,1
st2_jump:
        jp ($26)
st2_else:
        sbc $24,TELSE
        jp nz,err_syntax
        cal skip_eol
        jp stmt_eol

; After a statement, neither ":" nor the line's end: ELSE ends a THEN part.
stmt_else:
        sbc $24,TELSE
        jp nz,err_syntax
        cal skip_eol
        jp stmt_eol

; IF's condition is false: on after the line's ELSE (a line number there is
; a GOTO), or with the next line when it has none.
if_else:
        ld $24,(ix+0)
        adc $24,0
        jp z,stmt_end
        ldi $24,(ix+0)
        sbc $24,TELSE
        jr nz,if_else
        ld $24,(ix+0)
        sb $24,&H30
        jp c,stmt_loop
        sbc $24,10
        jp nc,stmt_loop
        jp do_goto

; ON n GOTO line,line,... and ON n GOSUB line,line,...: the n-th line; on
; with the next statement when n is below 1 or beyond the list.
do_on:
        cal expr
        cal bcd2bin
        jr c,on_none
        adc $25,0
        jr z,on_have
on_none:
        ld $24,0
on_have:
        st $24,(iz+ONN)
        st $31,(iz+ONLINE)
        st $31,(iz+ONLINE+1)
        ld $24,(ix+0)
        st $24,(iz+ONKIND)
        sbc $24,TGOTO
        jr z,on_kind
        sbc $24,TGOSUB
        jp nz,err_syntax
on_kind:
        ldi $24,(ix+0)
on_item:
        cal linearg
        ld $26,(iz+ONN)
        sb $26,1
        st $26,(iz+ONN)
        jr nz,on_next
        st $24,(iz+ONLINE)
        st $25,(iz+ONLINE+1)
on_next:
        ld $24,(ix+0)
        sbc $24,&H2C
        jr nz,on_end
        ldi $24,(ix+0)
        jr on_item
on_end:
        ld $24,(iz+ONLINE)
        ld $25,(iz+ONLINE+1)
        orc $24,$25
        jp z,stmt_end           ; no line of the list taken
        cal findline
        jp nz,err_undef
        ld $24,(iz+ONKIND)
        sbc $24,TGOSUB
        jr z,on_gosub
        ld $24,$26
        ld $25,$27
        jp go_rec
on_gosub:
        phsw $27
        ld $28,2
        cal pushentry           ; back after the whole list
        ppsw $24
        jp go_rec

; DATA items: passed over when run; READ takes them.
do_data:
        cal skipdata
        jp stmt_end

; IX past the items of a DATA statement, onto the ":" or 0 after them.
skipdata:
        ld $24,(ix+0)
        adc $24,0
        rtn z
        sbc $24,&H3A
        rtn z
        ldi $24,(ix+0)
        sbc $24,&H22
        jr nz,skipdata
sd_string:
        ld $24,(ix+0)
        adc $24,0
        rtn z
        ldi $24,(ix+0)
        sbc $24,&H22
        jr nz,sd_string
        jr skipdata

; RESTORE: READ starts again at the program's first DATA.
do_restore:
        st $31,(iz+DPTR)
        st $31,(iz+DPTR+1)
        jp stmt_end

; READ variable[,variable...]: the next DATA item into each. A number for
; a numeric variable; for a string variable a string in quotes, or the
; characters up to the next "," or ":".
do_read:
        cal isstrvar
        jr z,rd_string
        cal varrefa
        phsw $27
        cal nextdata
        gre ix,$28
        phsw $29
        pre ix,$26
        ld $29,0
        ld $24,(ix+0)
        sbc $24,&H2D            ; -
        jr nz,rd_plus
        ld $29,1
        ldi $24,(ix+0)
        jr rd_num
rd_plus:
        sbc $24,&H2B            ; +
        jr nz,rd_num
        ldi $24,(ix+0)
rd_num:
        phs $29
        cal getnum
        pps $29
        jp c,err_type           ; no number there
        ld $30,$29
        cal nnorm
        cal dataend
        ppsw $28
        pre ix,$28
        ppsw $26
        cal varstore
        jp rd_more
rd_string:
        ld $24,(ix+2)
        sbc $24,&H28
        jr z,rs_element
        ld $25,(ix+0)
        sb $25,&H41
        ldi $24,(ix+0)
        ldi $24,(ix+0)
        cal svarw
        jr rs_target
rs_element:
        cal arrref
rs_target:
        phsw $27
        cal nextdata
        gre ix,$28
        phsw $29
        pre ix,$26
        cal spush
        ld $22,$26
        ld $23,$27
        ld $16,0
        ld $24,(ix+0)
        sbc $24,&H22
        jr nz,rs_plain
        ldi $24,(ix+0)
rs_quoted:
        ld $24,(ix+0)
        adc $24,0
        jr z,rs_done
        ldi $24,(ix+0)
        sbc $24,&H22
        jr z,rs_done
        cal rs_put
        jr rs_quoted
rs_plain:
        ld $24,(ix+0)
        adc $24,0
        jr z,rs_done
        sbc $24,&H3A
        jr z,rs_done
        sbc $24,&H2C
        jr z,rs_done
        ldi $24,(ix+0)
        cal rs_put
        jr rs_plain
rs_done:
        st $16,($26)
        ad $22,1
        st $31,($22)
        cal dataend
        ppsw $28
        pre ix,$28
        cal stop
        ld $28,$26
        ld $29,$27
        ppsw $26
        cal scopy
        cal spop
rd_more:
        ld $24,(ix+0)
        sbc $24,&H2C
        jp nz,stmt_end
        ldi $24,(ix+0)
        jp do_read
rs_put:
        sbc $16,SMAX
        jp nc,err_long
        ad $16,1
        ad $22,1
        st $24,($22)
        rtn

; An item read ends at IX: a "," ":" or 0 must follow; DPTR = IX.
dataend:
        ld $24,(ix+0)
        adc $24,0
        jr z,de_ok
        sbc $24,&H2C
        jr z,de_ok
        sbc $24,&H3A
        jp nz,err_type
de_ok:
        gre ix,$24
        st $24,(iz+DPTR)
        st $25,(iz+DPTR+1)
        rtn

; Pair $26 = the next DATA item, from DPTR (0: the start of the program)
; on through the program's DATA statements; IX is kept. Uses $24-$29.
nextdata:
        gre ix,$28
        phsw $29
        ld $26,(iz+DPTR)
        ld $27,(iz+DPTR+1)
        orc $26,$27
        jr nz,nd_at
        pre ix,PSTART
        jr nd_record
nd_at:
        pre ix,$26
        ld $24,(ix+0)
        sbc $24,&H2C
        jr nz,nd_scan           ; a DATA's end: on to the next DATA
        ldi $24,(ix+0)
        jr nd_found
nd_record:                      ; IX on the header of a record
        ld $24,(ix+0)
        ld $25,(ix+1)
        an $24,$25
        sbc $24,&HFF
        jp z,err_data           ; the end mark
        ldi $24,(ix+2)
nd_scan:
        ld $24,(ix+0)
        adc $24,0
        jr z,nd_eol
        ldi $24,(ix+0)
        sbc $24,&H22
        jr z,nd_quote
        sbc $24,TREM
        jr z,nd_rem
        sbc $24,TDATA
        jr nz,nd_scan
nd_found:
        gre ix,$26
        ppsw $28
        pre ix,$28
        rtn
nd_quote:
        ld $24,(ix+0)
        adc $24,0
        jr z,nd_eol
        ldi $24,(ix+0)
        sbc $24,&H22
        jr nz,nd_quote
        jr nd_scan
nd_rem:
        cal skip_eol
nd_eol:
        ldi $24,(ix+0)          ; past the 0: the next record
        jr nd_record

; PRINT TAB(n): blanks up to column n (0-31) of the row.
pr_tabn:
        ldi $24,(ix+0)
        cal parenexpr
        cal bcd2bin
        jp c,err_value
        adc $25,0
        jp nz,err_value
        sbc $24,COLUMNS
        jp nc,err_value
pt_loop:
        ld $25,(iz+CCOL)
        sbc $25,$24
        jp nc,pr_next
        phs $24
        ld $24,&H20
        cal putch
        pps $24
        jr pt_loop
