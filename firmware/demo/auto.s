; AUTO [start][,step]: the prompt offers the next line number (from 10 in
; steps of 10 when left out), each line stored moves it on from that line's
; number by the step. EXE on the number alone, or on an empty line, ends it.

do_auto:
        ld $24,&H10             ; 10 and 10, as four decimal digits
        st $24,(iz+AUTON)
        st $31,(iz+AUTON+1)
        st $24,(iz+AUTOS)
        st $31,(iz+AUTOS+1)
        cal getnum
        jr c,au_step
        cal autonum
        st $0,(iz+AUTON)
        st $1,(iz+AUTON+1)
au_step:
        ld $24,(ix+0)
        sbc $24,&H2C
        jr nz,au_go
        ldi $24,(ix+0)
        cal getnum
        jp c,err_syntax
        cal autonum
        st $0,(iz+AUTOS)
        st $1,(iz+AUTOS+1)
au_go:
        ld $24,(ix+0)
        cal isend
        jp nz,err_syntax
        ld $24,1
        st $24,(iz+AUTOF)
        jp cmdloop

; A number of AUTO: 1 to 9999.
autonum:
        cal lineonly
        orcm $0,$0,2
        jp z,err_syntax
        rtn

; At the prompt while AUTO is on: the next number and a space, typed into
; the line as if by hand.
autoline:
        ld $24,(iz+AUTOF)
        adc $24,0
        rtn z
        xrm $0,$0,8
        ld $0,(iz+AUTON)
        ld $1,(iz+AUTON+1)
        ld $30,0
        cal numstr
        ld $26,lo(NUMBUF)
        ld $27,hi(NUMBUF)
        ld $28,lo(LBUF)
        ld $29,hi(LBUF)
        ld $25,0
al_copy:
        ld $24,($26)
        adc $24,0
        jr z,al_space
        st $24,($28)
        ad $26,1
        ad $28,1
        ad $25,1
        jr al_copy
al_space:
        ld $24,&H20
        st $24,($28)
        ad $25,1
        st $25,(iz+LLEN)
        st $25,(iz+EPOS)
        ld $24,(iz+CROW)
        st $24,(iz+LSROW)
        ld $24,(iz+CCOL)
        st $24,(iz+LSCOL)
        rtn

; A line typed while AUTO is on: its number alone ends AUTO (the line
; stays); anything else is stored as usual.
sl_auto:
        ld $24,(iz+TLEN)
        sbc $24,1
        jp nz,sl_go
        st $31,(iz+AUTOF)
        jp cmdloop

; Nothing typed: AUTO ends.
cmd_empty:
        st $31,(iz+AUTOF)
        jp cmdloop

; After a line is stored while AUTO is on: the next number is the line's
; own plus the step; beyond 9999 AUTO ends.
autonext:
        ld $24,(iz+AUTOF)
        adc $24,0
        rtn z
        ld $0,(iz+LINENO)
        ld $1,(iz+LINENO+1)
        ld $8,(iz+AUTOS)
        ld $9,(iz+AUTOS+1)
        adbm $0,$8,2
        jr c,an_off
        st $0,(iz+AUTON)
        st $1,(iz+AUTON+1)
        rtn
an_off:
        st $31,(iz+AUTOF)
        rtn
