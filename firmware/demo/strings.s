; Strings of BASIC. A string is a length byte (0 to SMAX), its characters
; and a 0, in a slot of 128 bytes: one slot for each of A$-Z$ from SVARS,
; and a stack of slots from SSTK for the values an expression works on (SSP
; is its next free slot). Every slot starts on a multiple of 128, so a
; pointer into one moves with an 8-bit add. A string expression leaves its
; value on the string stack; whoever uses it drops it again.

; Pair $26 = a new slot on the string stack, holding "". Uses $24, $25.
spush:
        ld $26,(iz+SSP)
        ld $27,(iz+SSP+1)
        ld $24,lo(SSTKEND)
        ld $25,hi(SSTKEND)
        sbcw $26,$24
        jp nc,err_deep
        st $31,($26)
        ld $24,$26
        ld $25,$27
        ad $24,1
        st $31,($24)
        ld $24,128
        ld $25,0
        adw $24,$26
        st $24,(iz+SSP)
        st $25,(iz+SSP+1)
        rtn

; The top slot dropped. Uses $24, $25, $28, $29.
spop:
        ld $24,(iz+SSP)
        ld $25,(iz+SSP+1)
        ld $28,128
        ld $29,0
        sbw $24,$28
        st $24,(iz+SSP)
        st $25,(iz+SSP+1)
        rtn

; Pair $26 = the top slot. Uses $24, $25.
stop:
        ld $26,(iz+SSP)
        ld $27,(iz+SSP+1)
        ld $24,128
        ld $25,0
        sbw $26,$24
        rtn

; The string stack emptied.
sclear:
        ld $24,lo(SSTK)
        st $24,(iz+SSP)
        ld $24,hi(SSTK)
        st $24,(iz+SSP+1)
        rtn

; Pair $26 = the slot of string variable $25 (0 for A$). Uses $24.
svaraddr:
        ld $26,0
        ld $24,$25
        an $24,1
        jr z,sa_even
        ld $26,128
sa_even:
        ld $27,$25
        bid $27
        ad $27,hi(SVARS)
        rtn

; Which of A$-Z$ have been written since they were cleared: one bit each
; in the 4 bytes from SBITS. A variable whose bit is clear is "", whatever
; its slot holds, so clearing them writes nothing outside the system's
; variables. $24 = the byte with the bit of variable $25, $26 its offset,
; $27 the bit. Uses $24, $26, $27.
sbit:
        ld $26,$25
        bid $26
        bid $26
        bid $26
        ad $26,SBITS
        ld $24,$25
        an $24,7
        ld $27,1
sbt_shift:
        adc $24,0
        jr z,sbt_done
        ad $27,$27
        sb $24,1
        jr sbt_shift
sbt_done:
        ld $24,(iz+$26)
        rtn

; Pair $26 = the slot of string variable $25 to be written: one not
; written since it was cleared becomes "" first. Uses $16, $24.
svarw:
        cal sbit
        ld $16,$24
        an $16,$27
        jp nz,svaraddr
        or $24,$27
        st $24,(iz+$26)
        cal svaraddr
        st $31,($26)
        rtn

; All of A$-Z$ "". Uses $24.
sclearvars:
        st $31,(iz+SBITS)
        st $31,(iz+SBITS+1)
        st $31,(iz+SBITS+2)
        st $31,(iz+SBITS+3)
        ld $24,&H56
        st $24,(iz+STRF)
        rtn

; After a start on RAM that was kept: RAM an older program left has no
; string variables, and its BASIC program may reach into their memory. The
; variables are set up, and such a program is cleared (REFUSED tells the
; start to say so). Uses $24-$27.
strcheck:
        st $31,(iz+REFUSED)
        ld $24,(iz+STRF)
        sbc $24,&H56
        rtn z
        cal sclearvars
        cal arrnone
        st $31,(iz+AUTOF)
        ld $24,(iz+PEND)
        ld $25,(iz+PEND+1)
        ld $26,lo(MEMTOP-2)
        ld $27,hi(MEMTOP-2)
        sbcw $24,$26
        rtn c
        cal newprog
        ld $24,1
        st $24,(iz+REFUSED)
        rtn

; Z when IX is on a string variable: a letter, then "$". Uses $24, $25.
isstrvar:
        ld $24,(ix+0)
        sb $24,&H41
        jp c,is_no
        sbc $24,26
        jp nc,is_no
        ld $24,(ix+1)
        sbc $24,&H24
        rtn

; Z when IX is on the start of a string expression: a quote, a string
; variable or a string function. Uses $24, $25.
isstr:
        ld $24,(ix+0)
        sbc $24,&H22
        rtn z
        ld $25,$24
        sb $25,TLEFT
        jr c,isstrvar
        sbc $25,TINKEY-TLEFT+1
        jp nc,is_no
        adc $31,0               ; Z
        rtn

; The string at pair $28 into the slot at pair $26 (a length above SMAX,
; left in RAM by an older program, reads as ""). Keeps $26-$29; uses $20,
; $22-$25.
scopy:
        ld $24,($28)
        sbc $24,SMAX+1
        jr c,sc_len
        ld $24,0
sc_len:
        st $24,($26)
        ld $20,$28
        ld $22,$26
        ld $23,$27
        ld $21,$29
sc_loop:
        adc $24,0
        jr z,sc_end
        ad $20,1
        ad $22,1
        ld $25,($20)
        st $25,($22)
        sb $24,1
        jr sc_loop
sc_end:
        ad $22,1
        st $31,($22)
        rtn

; The slot at pair $26 keeps $24 characters from character $16 (0 the
; first) on. Uses $20-$25.
smove:
        st $24,($26)
        ld $20,$26
        ld $21,$27
        ad $20,$16
        ld $22,$26
        ld $23,$27
sm_loop:
        adc $24,0
        jr z,sm_end
        ad $20,1
        ad $22,1
        ld $25,($20)
        st $25,($22)
        sb $24,1
        jr sm_loop
sm_end:
        ad $22,1
        st $31,($22)
        rtn

; A string expression: string primaries joined by +. Its value goes on the
; string stack.
sexpr:
        cal sprimary
se_loop:
        ld $24,(ix+0)
        sbc $24,&H2B
        rtn nz
        ldi $24,(ix+0)
        cal sprimary
        cal stop
        ld $28,$26
        ld $29,$27
        ld $24,128
        ld $25,0
        sbw $26,$24
        ld $24,($26)            ; the left one gets the right one's characters
        ld $25,($28)
        ld $16,$24
        ad $16,$25
        sbc $16,SMAX+1
        jp nc,err_long
        st $16,($26)
        ld $20,$28
        ld $21,$29
        ld $22,$26
        ld $23,$27
        ad $22,$24
se_copy:
        adc $25,0
        jr z,se_end
        ad $20,1
        ad $22,1
        ld $17,($20)
        st $17,($22)
        sb $25,1
        jr se_copy
se_end:
        ad $22,1
        st $31,($22)
        cal spop
        jr se_loop

; $24 = the next argument, a number 0..255 (larger ones count as 255).
; Negative is an illegal value.
bytearg:
        cal expr
        cal bcd2bin
        jp c,err_value
        adc $25,0
        rtn z
        ld $24,255
        rtn

; ( string , then $24 = a byte argument.
sfuncargs:
        ldi $24,(ix+0)
        ld $25,&H28
        cal expect
        cal sexpr
        ld $25,&H2C
        cal expect
        jr bytearg

; ) after a byte argument in $24, which it keeps; pair $26 = the top slot.
sfuncend:
        phs $24
        ld $25,&H29
        cal expect
        cal stop
        pps $24
        rtn

; One string value onto the string stack: a literal, a variable or a
; string function.
sprimary:
        gre ss,$24              ; room on the stack for one more level?
        sbc $25,&HFD
        jp c,err_deep
        ld $24,(ix+0)
        sbc $24,&H22
        jr nz,sp_var
        ldi $24,(ix+0)
        cal spush
        ld $22,$26
        ld $23,$27
        ld $16,0
sp_lit:
        ld $24,(ix+0)
        adc $24,0
        jr z,sp_litend          ; an open string ends with the line
        ldi $24,(ix+0)
        sbc $24,&H22
        jr z,sp_litend
        sbc $16,SMAX
        jp nc,err_long
        ad $16,1
        ad $22,1
        st $24,($22)
        jr sp_lit
sp_litend:
        st $16,($26)
        ad $22,1
        st $31,($22)
        rtn
sp_var:
        cal isstrvar
        jr nz,sp_func
        ld $24,(ix+2)
        sbc $24,&H28
        jr nz,sp_plain
        cal arrref              ; an element of a string array
        ld $28,$26
        ld $29,$27
        cal spush
        jp scopy
sp_plain:
        ld $25,(ix+0)
        sb $25,&H41
        ldi $24,(ix+0)
        ldi $24,(ix+0)
        cal sbit
        an $24,$27
        jp z,spush              ; not written since it was cleared: ""
        cal svaraddr
        ld $28,$26
        ld $29,$27
        cal spush
        jp scopy
sp_func:
        ld $24,(ix+0)
        sbc $24,TLEFT
        jr z,sp_left
        sbc $24,TRIGHT
        jr z,sp_right
        sbc $24,TMID
        jr z,sp_mid
        sbc $24,TCHR
        jr z,sp_chr
        sbc $24,TSTR
        jp z,sp_str
        sbc $24,TINKEY
        jp z,sp_inkey
        jp err_type

; LEFT$(s$,n): the first n characters.
sp_left:
        cal sfuncargs
        cal sfuncend
        ld $16,0
sp_keep:                        ; at most $24 characters from $16 on
        ld $25,($26)
        sb $25,$16
        sbc $24,$25
        jp c,smove
        ld $24,$25
        jp smove

; RIGHT$(s$,n): the last n characters.
sp_right:
        cal sfuncargs
        cal sfuncend
        ld $25,($26)
        sbc $24,$25
        rtn nc                  ; all of it
        ld $16,$25
        sb $16,$24
        jp smove

; MID$(s$,start[,count]): count characters (all when left out) from the
; start-th (1 the first) on.
sp_mid:
        cal sfuncargs
        adc $24,0
        jp z,err_value
        sb $24,1
        phs $24
        ld $24,255
        ld $25,(ix+0)
        sbc $25,&H2C
        jr nz,sp_midend
        ldi $25,(ix+0)
        cal bytearg
sp_midend:
        cal sfuncend
        pps $16
        ld $25,($26)
        sbc $16,$25
        jr c,sp_keep
        ld $16,$25              ; starting after the end: ""
        jr sp_keep

; CHR$(n): the character of code n (1-255).
sp_chr:
        ldi $24,(ix+0)
        cal parenexpr
        cal bcd2bin
        jp c,err_value
        adc $25,0
        jp nz,err_value
        adc $24,0
        jp z,err_value
sp_char:                        ; a string of the one character $24
        phs $24
        cal spush
        pps $24
        ld $25,1
        st $25,($26)
        ld $28,$26
        ld $29,$27
        ad $28,1
        st $24,($28)
        ad $28,1
        st $31,($28)
        rtn

; STR$(n): n as PRINT shows it.
sp_str:
        ldi $24,(ix+0)
        cal parenexpr
        cal numstr
        cal spush
        ld $28,lo(NUMBUF)
        ld $29,hi(NUMBUF)
        ld $22,$26
        ld $23,$27
        ld $16,0
ss_loop:
        ld $24,($28)
        adc $24,0
        jr z,ss_end
        ad $28,1
        ad $22,1
        st $24,($22)
        ad $16,1
        jr ss_loop
ss_end:
        st $16,($26)
        ad $22,1
        st $31,($22)
        rtn

; INKEY$: the next key pressed, or "" when there is none.
sp_inkey:
        ldi $24,(ix+0)
        cal pollkeys
        cal getkey
        adc $24,0
        jr nz,sp_char
        jp spush

; LEN(s$), ASC(s$) and VAL(s$), numbers of a string: A = the value.
pm_len:
        cal sfuncone
        ld $24,($26)
pm_byte:
        phs $24
        cal spop
        pps $24
        ld $25,0
        jp bin2bcd
pm_asc:
        cal sfuncone
        ld $24,($26)
        adc $24,0
        jp z,err_value          ; "" has no first character
        ad $26,1
        ld $24,($26)
        jr pm_byte
; VAL: the number at the start of the string (blanks, a sign, digits), 0
; when there is none.
pm_val:
        cal sfuncone
        gre ix,$28
        phsw $29
        ad $26,1
        pre ix,$26
        cal skipsp
        ld $29,0
        ld $24,(ix+0)
        sbc $24,&H2D
        jr nz,vl_plus
        ld $29,1
        ldi $24,(ix+0)
        jr vl_num
vl_plus:
        sbc $24,&H2B
        jr nz,vl_num
        ldi $24,(ix+0)
vl_num:
        phs $29
        cal getnum
        pps $30
        cal nnorm
        ppsw $28
        pre ix,$28
        jp spop

; (s$) after a function's keyword; pair $26 = the top slot, its value.
sfuncone:
        ldi $24,(ix+0)
        ld $25,&H28
        cal expect
        cal sexpr
        ld $25,&H29
        cal expect
        jp stop

; s$ compared with another: relexpr's part for strings. The operator must
; follow; A = 1 when it holds, else 0.
strcmp:
        cal sexpr
; The same with the left one already on the string stack.
strcmp2:
        cal relop
        adc $27,0
        jp z,err_type
        phs $27
        cal sexpr
        cal stop                ; the right one
        ld $28,$26
        ld $29,$27
        ld $24,128
        ld $25,0
        sbw $26,$24             ; the left one
        ld $16,($26)
        ld $17,($28)
        ld $20,$26
        ld $21,$27
        ld $22,$28
        ld $23,$29
scm_loop:
        adc $16,0
        jr z,scm_leftend
        adc $17,0
        jr z,scm_gt             ; the right one ended first
        ad $20,1
        ad $22,1
        ld $18,($20)
        ld $19,($22)
        sbc $18,$19
        jr c,scm_lt
        jr nz,scm_gt
        sb $16,1
        sb $17,1
        jr scm_loop
scm_leftend:
        adc $17,0
        jr z,scm_eq
scm_lt:
        ld $24,1
        jr scm_done
scm_gt:
        ld $24,4
        jr scm_done
scm_eq:
        ld $24,2
scm_done:
        phs $24
        cal spop
        cal spop
        pps $24
        pps $27
        an $24,$27
        jp setbool

; LET s$ = string expression.
do_slet:
        ld $24,(ix+2)
        sbc $24,&H28
        jr z,sl_element
        ld $25,(ix+0)
        sb $25,&H41
        ldi $24,(ix+0)
        ldi $24,(ix+0)
        cal svarw
        jr sl_target
sl_element:
        cal arrref
sl_target:
        phsw $27
        ld $25,&H3D
        cal expect
        cal sexpr
        cal stop
        ld $28,$26
        ld $29,$27
        ppsw $26
        cal scopy
        cal spop
        jp stmt_end

; PRINT of a string expression, or of strings compared (1 or 0).
pr_sexpr:
        cal sexpr
        ld $24,(ix+0)
        sbc $24,&H3D
        jr z,pr_scmp
        sbc $24,&H3C
        jr z,pr_scmp
        sbc $24,&H3E
        jr z,pr_scmp
        cal stop
        ad $26,1
        cal putstr
        cal spop
        jp pr_next
pr_scmp:
        cal strcmp2
        jp pr_number

; INPUT of a string variable: the line typed, as it is (up to SMAX
; characters), into the variable INVAR holds the letter of (INKIND 1) or
; the array element it holds the address of (INKIND 2). IX is on the
; line; the text being run is on the stack.
in_string:
        ld $26,(iz+INVAR)
        ld $27,(iz+INVAR+1)
        ld $24,(iz+INKIND)
        sbc $24,2
        jr z,ist_slot           ; an element: its address
        ld $25,$26
        cal svarw
ist_slot:
        ld $22,$26
        ld $23,$27
        ld $16,0
ist_loop:
        ld $24,(ix+0)
        adc $24,0
        jr z,ist_end
        ldi $24,(ix+0)
        sbc $16,SMAX
        jr nc,ist_loop          ; what is beyond goes
        ad $16,1
        ad $22,1
        st $24,($22)
        jr ist_loop
ist_end:
        st $16,($26)
        ad $22,1
        st $31,($22)
        ppsw $24
        pre ix,$24
        jp in_more
