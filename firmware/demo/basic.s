; BASIC. Lines are typed into LBUF by the line editor, then crunched into
; CBUF: spaces outside strings go, and every keyword becomes one token byte
; (&H80 and up, in the order of the keyword table). A line that starts with
; a number is stored in the program; any other line runs at once.
;
; The program lies from PSTART upward, sorted by line number, one record a
; line: the line number as four decimal digits in two bytes (low byte
; first), the record's length in bytes, the crunched text and a 0. A line
; number of &HFFFF ends it (PEND points there); the array @() follows.
;
; While a line runs, IX reads its text and CURL holds its record (0 for a
; line typed without a number). Statement routines are entered by jp with
; IX after their keyword and leave by jp stmt_end with IX after their
; operands. Errors leave through error, which drops whatever the system
; stack holds.

TPRINT          equ &H80
TINPUT          equ &H81
TLET            equ &H82
TIF             equ &H83
TGOTO           equ &H84
TGOSUB          equ &H85
TRETURN         equ &H86
TFOR            equ &H87
TNEXT           equ &H88
TEND            equ &H89
TSTOP           equ &H8A
TREM            equ &H8B
TCLS            equ &H8C
TLIST           equ &H8D
TRUN            equ &H8E
TNEW            equ &H8F
TCONT           equ &H90
TPOKE           equ &H91
TCALL           equ &H92
NSTMT           equ 19              ; tokens below this many are statements
TTHEN           equ &H93
TTO             equ &H94
TSTEP           equ &H95
TAND            equ &H96
TOR             equ &H97
TNOT            equ &H98
TMOD            equ &H99
TABS            equ &H9A
TRND            equ &H9B
TPEEK           equ &H9C
TLENGTH         equ &H9D
TASC            equ &H9E
TVAL            equ &H9F
TLEFT           equ &HA0            ; LEFT$ ... INKEY$: the string functions
TRIGHT          equ &HA1
TMID            equ &HA2
TCHR            equ &HA3
TSTR            equ &HA4
TINKEY          equ &HA5
TELSE           equ &HA6
TTAB            equ &HA7
TDATA           equ &HA8                ; DATA ... ON: statements again
TREAD           equ &HA9
TRESTORE        equ &HAA
TON             equ &HAB
TDIM            equ &HAC
TAUTO           equ &HAD
TRENUM          equ &HAE
TSAVE           equ &HAF                ; SAVE ... KILL: the disk's, in disk.s
TLOAD           equ &HB0
TFILES          equ &HB1
TKILL           equ &HB2                ; the last keyword
NSTMT2          equ &H28                ; tokens from &H80 plus this many: statements

STMTP           equ SAVEP           ; the statement being run (for BRK and CONT)
LPTR            equ LINENO          ; LIST: the record being listed
LTO             equ ARG             ; LIST: the last line number to list
LPREV           equ ARG+2           ; LIST: the character listed last
INVAR           equ ARG+3           ; INPUT: the variable being read
FORVAR          equ ARG+5           ; FOR: the variable
NEXTP           equ ARG+6           ; NEXT: the text after it

keywords:
        db "PRINT",0,"INPUT",0,"LET",0,"IF",0,"GOTO",0,"GOSUB",0,"RETURN",0
        db "FOR",0,"NEXT",0,"END",0,"STOP",0,"REM",0,"CLS",0,"LIST",0,"RUN",0
        db "NEW",0,"CONT",0,"POKE",0,"CALL",0,"THEN",0,"TO",0,"STEP",0,"AND",0
        db "OR",0,"NOT",0,"MOD",0,"ABS",0,"RND",0,"PEEK",0
        db "LEN",0,"ASC",0,"VAL",0,"LEFT$",0,"RIGHT$",0,"MID$",0,"CHR$",0,"STR$",0
        db "INKEY$",0,"ELSE",0,"TAB",0,"DATA",0,"READ",0,"RESTORE",0,"ON",0,"DIM",0
        db "AUTO",0,"RENUM",0
        db "SAVE",0,"LOAD",0,"FILES",0,"KILL",0,0           ; disk.s

stmttab:
        dw do_print,do_input,do_let,do_if,do_goto,do_gosub,do_return,do_for
        dw do_next,do_end,do_stop,do_rem,do_cls,do_list,do_run,do_new,do_cont
        dw do_poke,do_call
stmttab2:
        dw do_data,do_read,do_restore,do_on,do_dim,do_auto,do_renum
        dw do_save,do_load,do_files,do_kill

; ---------------------------------------------------------------------------
; Start-up of BASIC.

; A cold start: no program, no variables.
basic_cold:
        st $31,(iz+REFUSED)
        st $31,(iz+AUTOF)
        cal newprog
        st $31,(iz+LLEN)
        st $31,(iz+EPOS)
        st $31,(iz+RUNF)
        st $31,(iz+INMODE)
        ld $24,1
        st $24,(iz+RNDX)
        st $31,(iz+RNDX+1)
        rtn

; No program: the end mark at PSTART, no variables, nothing to go on with.
newprog:
        ld $24,lo(PSTART)
        ld $25,hi(PSTART)
        st $24,(iz+PEND)
        st $25,(iz+PEND+1)
        ld $26,&HFF
        st $26,($24)
        ad $24,1
        st $26,($24)
; Variables all 0, the FOR / GOSUB stack empty, no CONT.
clearvars:
        gre ix,$26
        pre ix,VARTAB
        ld $24,234
cv_loop:
        sti $31,(ix+0)
        sb $24,1
        jr nz,cv_loop
        pre ix,$26
        cal sclearvars
        ld $24,lo(CSTK)
        st $24,(iz+CSP)
        ld $24,hi(CSTK)
        st $24,(iz+CSP+1)
        st $31,(iz+CONTL)
        st $31,(iz+CONTL+1)
; @() cleared: it starts after the end mark, and every element reads 0
; until it is written. Uses $24, $25, $28, $29.
arrclear:
        ld $24,(iz+PEND)
        ld $25,(iz+PEND+1)
        ld $28,2
        ld $29,0
        adw $24,$28
        st $24,(iz+ATOP)
        st $25,(iz+ATOP+1)
        st $31,(iz+DPTR)        ; READ starts at the first DATA again
        st $31,(iz+DPTR+1)
        jp arrnone              ; and DIM's arrays go

; After a start on RAM that was kept: ATOP within the free memory, else
; cleared (RAM an older program left has none). Uses $24-$29.
arrcheck:
        ld $24,(iz+ATOP)
        ld $25,(iz+ATOP+1)
        ld $26,(iz+PEND)
        ld $27,(iz+PEND+1)
        ld $28,2
        ld $29,0
        adw $26,$28
        sbcw $24,$26
        jr c,arrclear           ; below the end mark
        ld $26,lo(MEMTOP+1)
        ld $27,hi(MEMTOP+1)
        sbcw $24,$26
        rtn c
        jr arrclear

; ---------------------------------------------------------------------------
; The command loop: a prompt, a line, and what it says.

cmdloop:
        pre ss,STACKTOP
        st $31,(iz+CURL)        ; no line runs
        st $31,(iz+CURL+1)
        st $31,(iz+RUNF)
        st $31,(iz+INMODE)
        st $31,(iz+BAREF)
        cal sclear
        cal fresh
        ld $24,PROMPT
        cal putch
        cal autoline
cmd_read:
        cal readline
        cal crunch
        st $31,(iz+LLEN)
        pre ix,CBUF
        ld $24,(ix+0)
        adc $24,0
        jp z,cmd_empty          ; nothing typed
        cal isline
        jp z,storeline
        st $31,(iz+CURL)
        st $31,(iz+CURL+1)
        st $31,(iz+BRKF)
        cal isstmt
        jr nz,cmd_bare
        ld $24,1                ; cut off by power-off, it ends at a new prompt
        st $24,(iz+RUNF)
        jp stmt_loop
cmd_bare:
; A bare expression: its value right-aligned, as a calculator shows it.
        ld $24,1
        st $24,(iz+BAREF)
        cal expr
        ld $24,(ix+0)
        adc $24,0
        jp nz,err_syntax
        st $30,(iz+LSIGN)       ; kept as the last result
        ld $24,LAST
        stm $0,(iz+$24),8
        ld $26,COUNT            ; one more calculation done
        ldw $24,(iz+$26)
        adbm $24,1,2
        stw $24,(iz+$26)
        cal numstr
        ld $26,lo(NUMBUF)
        ld $27,hi(NUMBUF)
        cal ralign
        jp cmdloop

; Z when the line at IX is a program line: a number, then nothing (the
; line goes), a statement keyword, a variable or ":". A number followed by
; an operator is a bare expression. Uses $24, $25.
isline:
        ld $25,0
        ld $24,(ix+0)
il_digit:
        sb $24,&H30
        jr c,il_after
        sbc $24,10
        jr nc,il_after
        ad $25,1
        ld $24,(ix+$25)
        jr il_digit
il_after:
        adc $25,0
        jp z,is_no              ; no number
        ld $24,(ix+$25)
        adc $24,0
        rtn z                   ; the number alone
        sbc $24,&H3A
        rtn z
        sbc $24,&H40
        rtn z
        ld $25,$24
        sb $25,&H80
        jr c,il_letter
        sbc $25,NSTMT
        jr c,is_yes
        sbc $25,NSTMT2
        jr nc,is_yes
        jr is_no
il_letter:
        sb $24,&H41
        jr c,is_no
        sbc $24,26
        jr c,is_yes
        jr is_no

; Z when the line at IX is a statement rather than a bare expression: a
; statement keyword, or a variable followed by "=". Uses $24-$26.
isstmt:
        ld $24,(ix+0)
        ld $25,$24
        sb $25,&H80
        jr c,is_var
        sbc $25,NSTMT
        jr c,is_yes
        sbc $25,NSTMT2
        jr nc,is_yes
        jr is_no
is_var:
        sbc $24,&H40            ; @(...) =
        jr z,is_array
        sb $24,&H41
        jr c,is_no
        sbc $24,26
        jr nc,is_no
        ld $24,(ix+1)
        sbc $24,&H24            ; a string variable
        rtn z
        sbc $24,&H3D
        rtn
is_array:
        ld $25,1                ; offset into the line
        ld $26,0                ; open parentheses
is_scan:
        ld $24,(ix+$25)
        ad $25,1
        adc $24,0
        jr z,is_no
        sbc $24,&H28
        jr nz,is_close
        ad $26,1
        jr is_scan
is_close:
        sbc $24,&H29
        jr nz,is_scan
        sb $26,1
        jr nz,is_scan
        ld $24,(ix+$25)
        sbc $24,&H3D
        rtn
is_yes:
        adc $31,0               ; Z
        rtn
is_no:
        ld $24,1
        adc $24,0               ; NZ
        rtn

; The text at pair $26 right-aligned on a row of its own.
ralign:
        ld $25,0
ra_len:
        ld $28,$26
        ld $29,$27
        ad $28,$25
        jr nc,ra_char
        ad $29,1
ra_char:
        ld $24,($28)
        adc $24,0
        jr z,ra_pad
        ad $25,1
        jr ra_len
ra_pad:
        phsw $27
        ld $24,COLUMNS
        sb $24,$25
ra_space:
        jr z,ra_text
        phs $24
        ld $24,&H20
        cal putch
        pps $24
        sb $24,1
        jr ra_space
ra_text:
        ppsw $26
        cal putstr
        jp crlf

; ---------------------------------------------------------------------------
; The line editor. LBUF gets the characters typed, LLEN counts them and EPOS
; is the cursor within them; the line starts on the screen at LSROW, LSCOL
; and runs on over the next rows, 31 characters a row (the last cell is the
; cursor's). EXE ends the line, which is then zero-terminated, and the
; output goes on at the start of the row after it. IX is kept. With INMODE
; set (INPUT), BRK stops the program.

readline:
        gre ix,$24
        phsw $25
        ld $24,(iz+LLEN)
        adc $24,0
        jr nz,rl_show           ; a line typed before goes on
        st $31,(iz+EPOS)
        ld $24,(iz+CROW)
        st $24,(iz+LSROW)
        ld $24,(iz+CCOL)
        st $24,(iz+LSCOL)
rl_show:
        cal redraw
rl_loop:
        gfl $24
        an $24,FPOWER
        jp z,poweroff
        cal pollkeys
        ld $24,(iz+BRKF)
        adc $24,0
        jr z,rl_key
        st $31,(iz+BRKF)
        ld $24,(iz+INMODE)
        adc $24,0
        jp nz,brk_key
rl_key:
        cal getkey
        adc $24,0
        jr z,rl_loop
        sbc $24,KEXE
        jr z,rl_exe
        cal editkey
        cal redraw
        jr rl_loop
rl_exe:
        ld $25,(iz+LLEN)
        st $25,(iz+EPOS)        ; the output goes on after the line's end
        ld $26,lo(LBUF)
        ad $26,$25
        ld $27,hi(LBUF)
        st $31,($26)
        cal endpos
        st $26,(iz+CROW)
        st $25,(iz+CCOL)
        st $31,(iz+EPOS)        ; the line is done (its length goes to 0 next)
        cal newline
        ppsw $24
        pre ix,$24
        rtn

; What key $24 does to the line.
editkey:
        sbc $24,KBS
        jr nz,ek_notbs
        ld $25,(iz+EPOS)
        sbc $25,1
        rtn c
        sb $25,1
        st $25,(iz+EPOS)
        jr delchar
ek_notbs:
        sbc $24,KDEL
        jr z,delchar
        sbc $24,KLEFT
        jr nz,ek_notleft
        ld $25,(iz+EPOS)
        sbc $25,1
        rtn c
        sb $25,1
        st $25,(iz+EPOS)
        rtn
ek_notleft:
        sbc $24,KRIGHT
        jr nz,ek_notright
        ld $25,(iz+EPOS)
        ld $26,(iz+LLEN)
        sbc $25,$26
        rtn nc
        ad $25,1
        st $25,(iz+EPOS)
        rtn
ek_notright:
        sbc $24,KHOME
        jr nz,ek_nothome
        st $31,(iz+EPOS)
        rtn
ek_nothome:
        sbc $24,KEND
        jr nz,ek_notend
        ld $25,(iz+LLEN)
        st $25,(iz+EPOS)
        rtn
ek_notend:
        sbc $24,KAC
        jr nz,ek_notac
        st $31,(iz+LLEN)
        st $31,(iz+EPOS)
        rtn
ek_notac:
        sbc $24,KCLS
        jp z,clsline
        sbc $24,KINS
        jr nz,ek_notins
        ld $24,&H20
        cal inschar
        ld $25,(iz+EPOS)        ; the space opens after the cursor
        sbc $25,1
        rtn c
        sb $25,1
        st $25,(iz+EPOS)
        rtn
ek_notins:
        sbc $24,&H20
        rtn c
        jr inschar

; The character at EPOS goes; the rest moves down.
delchar:
        ld $25,(iz+EPOS)
        ld $28,(iz+LLEN)
        sbc $25,$28
        rtn nc
        sb $28,1
        st $28,(iz+LLEN)
        ld $26,lo(LBUF)
        ad $26,$25
        ld $27,hi(LBUF)
dc_move:
        sbc $25,$28
        rtn nc
        ad $26,1
        ld $24,($26)
        sb $26,1
        st $24,($26)
        ad $26,1
        ad $25,1
        jr dc_move

; Character $24 in at EPOS, which moves past it.
inschar:
        ld $25,(iz+LLEN)
        sbc $25,LMAX
        rtn nc
        ld $28,(iz+EPOS)
        ld $26,lo(LBUF)
        ad $26,$25              ; from the end down to EPOS: up by one
        ld $27,hi(LBUF)
is_move:
        sbc $25,$28
        jr z,is_put
        sb $26,1
        ld $29,($26)
        ad $26,1
        st $29,($26)
        sb $26,1
        sb $25,1
        jr is_move
is_put:
        st $24,($26)
        ld $25,(iz+LLEN)
        ad $25,1
        st $25,(iz+LLEN)
        ad $28,1
        st $28,(iz+EPOS)
        rtn

; Row $26 and column $25 of character EPOS of the line (a cursor at the
; end of a full row stays on its last cell). Uses $24.
endpos:
        ld $26,(iz+LSROW)
        ld $25,(iz+LSCOL)
        ld $24,(iz+EPOS)
ep_loop:
        adc $24,0
        jr z,ep_end
        sbc $25,COLUMNS-1
        jr c,ep_next
        ld $25,0                ; the row is full: on at the next one
        ad $26,1
ep_next:
        ad $25,1
        sb $24,1
        jr ep_loop
ep_end:                         ; on a character of the line: where it is
        sbc $25,COLUMNS-1
        rtn c
        ld $24,(iz+EPOS)
        ld $27,(iz+LLEN)
        sbc $24,$27
        rtn nc
        ld $25,0
        ad $26,1
        rtn

; The line shown again from its start, the rows after it cleared, the
; cursor at EPOS. A line that runs below the last row scrolls the screen.
redraw:
        ld $17,(iz+LLEN)
        ld $26,(iz+LSROW)
        ld $25,(iz+LSCOL)
        ld $16,0                ; characters shown
rd_char:
        sbc $25,COLUMNS-1
        jr c,rd_same
        ld $25,0                ; the row is full: on at the next one
        ad $26,1
rd_same:
        sbc $26,ROWS
        jr c,rd_onscreen
        phs $25                 ; below the last row: the screen scrolls
        cal scroll
        ld $26,ROWS-1
        cal clearrow
        pps $25
        ld $26,(iz+LSROW)
        sb $26,1
        st $26,(iz+LSROW)
        ld $26,ROWS-1
rd_onscreen:
        cal rowaddr
        ld $24,&H20
        sbc $16,$17
        jr nc,rd_put            ; an empty line: a blank at its start
        ld $28,lo(LBUF)
        ad $28,$16
        ld $29,hi(LBUF)
        ld $24,($28)
rd_put:
        st $24,(ix+$25)
        ad $25,1
        ad $16,1
        sbc $16,$17
        jr c,rd_char
        ld $24,&H20
rd_rest:                        ; the rest of the row and the rows below
        sbc $25,COLUMNS
        jr nc,rd_rows
        st $24,(ix+$25)
        ad $25,1
        jr rd_rest
rd_rows:
        ad $26,1
        sbc $26,ROWS
        jr nc,rd_cursor
        phs $26
        cal clearrow
        pps $26
        jr rd_rows
rd_cursor:
        cal endpos
        st $26,(iz+CROW)
        st $25,(iz+CCOL)
        jp drawall

; CLS key: an empty screen, the line cleared, the prompt on the top row.
clsline:
        cal clearbuf
        st $31,(iz+CROW)
        st $31,(iz+CCOL)
        st $31,(iz+LLEN)
        st $31,(iz+EPOS)
        st $31,(iz+LSROW)
        ld $24,(iz+INMODE)
        adc $24,0
        jr nz,cl_input
        ld $24,PROMPT
        cal putch
        jr cl_start
cl_input:
        ld $24,&H3F             ; ?
        cal putch
        ld $24,&H20
        cal putch
cl_start:
        ld $24,(iz+CCOL)
        st $24,(iz+LSCOL)
        rtn

; ---------------------------------------------------------------------------
; Crunching: LBUF (zero-terminated) into CBUF.

crunch:
        pre ix,LBUF
        ld $26,lo(CBUF)
        ld $27,hi(CBUF)
cz_loop:
        ld $24,(ix+0)
        adc $24,0
        jr z,cr_end
        sbc $24,&H20
        jr nz,cr_notspace
        ldi $24,(ix+0)
        jr cz_loop
cr_notspace:
        sbc $24,&H22
        jr nz,cr_word
cr_string:                      ; a string goes as it is, quotes and all
        ldi $24,(ix+0)
        cal cr_put
        ld $24,(ix+0)
        adc $24,0
        jr z,cr_end
        sbc $24,&H22
        jr nz,cr_string
        ldi $24,(ix+0)
        cal cr_put
        jr cz_loop
cr_word:
        sbc $24,&H3F            ; ? is PRINT
        jr nz,cr_keyword
        ldi $24,(ix+0)
        ld $24,TPRINT
        cal cr_put
        jr cz_loop
cr_keyword:
        sb $24,&H41             ; every keyword starts with a letter
        jr c,cr_char
        sbc $24,26
        jr nc,cr_char
        cal matchkw
        jr c,cr_char
        cal cr_put              ; the token
        sbc $24,TREM
        jr nz,cz_loop
cr_rest:                        ; after REM the line goes as it is
        ldi $24,(ix+0)
        adc $24,0
        jr z,cr_end
        cal cr_put
        jr cr_rest
cr_char:
        ldi $24,(ix+0)
        cal cr_put
        jr cz_loop
cr_end:
        st $31,($26)
        rtn
cr_put:
        st $24,($26)
        ad $26,1
        rtn

; The keyword at IX: C clear with its token in $24 and IX past it, or C set.
; Uses $16, $17, $24, $25, $28, $29; keeps $26, $27.
matchkw:
        ld $28,lo(keywords)
        ld $29,hi(keywords)
        ld $24,&H80             ; token of the keyword tried
mk_word:
        ld $25,($28)
        adc $25,0
        jr z,mk_none            ; end of the table
        ld $17,0                ; characters matched
mk_char:
        ld $25,($28)
        adc $25,0
        jr z,mk_found
        ld $16,(ix+$17)
        sbc $16,$25
        jr nz,mk_skip
        ad $17,1
        ad $28,1
        jr nc,mk_char
        ad $29,1
        jr mk_char
mk_skip:                        ; on to the next keyword
        ad $28,1
        jr nc,mk_skip1
        ad $29,1
mk_skip1:
        ld $25,($28)
        adc $25,0
        jr nz,mk_skip
        ad $28,1
        jr nc,mk_next
        ad $29,1
mk_next:
        ad $24,1
        jr mk_word
mk_found:
        gre ix,$28
        ad $28,$17
        jr nc,mk_ix
        ad $29,1
mk_ix:
        pre ix,$28
        adc $31,0               ; C clear
        rtn
mk_none:
        sbc $31,1               ; C set
        rtn

; ---------------------------------------------------------------------------
; Storing a program line: the crunched line at IX starts with its number.

REC             equ 224             ; 2: the record found
TLEN            equ 226             ; bytes of text with its 0
TSRC            equ 227             ; 2: where the text is

storeline:
        cal getnum
        orcm $2,$2,6
        jp nz,err_syntax        ; above 9999
        orcm $0,$0,2
        jp z,err_syntax         ; line 0
        st $0,(iz+LINENO)
        st $1,(iz+LINENO+1)
        gre ix,$24
        st $24,(iz+TSRC)
        st $25,(iz+TSRC+1)
        ld $25,0
sl_len:
        ld $26,(ix+$25)
        ad $25,1
        adc $26,0
        jr nz,sl_len
        st $25,(iz+TLEN)
        ld $24,(iz+AUTOF)
        adc $24,0
        jp nz,sl_auto
sl_go:
        st $31,(iz+CONTL)       ; an edited program cannot go on
        st $31,(iz+CONTL+1)
        ld $24,$0
        ld $25,$1
        cal findline
        st $26,(iz+REC)
        st $27,(iz+REC+1)
        ld $20,0                ; the size of the line replaced, 0 for none
        ld $21,0
        jr nz,sl_room
        ld $28,$26
        ld $29,$27
        ad $28,2
        jr nc,sl_old
        ad $29,1
sl_old:
        ld $20,($28)
sl_room:
        ; a line that does not fit leaves the program as it was: PEND + 2
        ; + size - the old size must stay below MEMTOP
        ld $24,(iz+TLEN)
        sbc $24,1
        jr z,sl_change          ; a number alone: only the deletion
        ad $24,3
        ld $18,(iz+PEND)
        ld $19,(iz+PEND+1)
        ld $22,$24
        ld $23,0
        adw $18,$22
        sbw $18,$20
        ld $22,lo(MEMTOP-2)
        ld $23,hi(MEMTOP-2)
        sbcw $18,$22
        jp nc,err_memory
sl_change:
        adc $20,0
        jr z,sl_new
        ld $26,(iz+REC)
        ld $27,(iz+REC+1)
        cal delrec              ; the old line goes
        cal arrclear            ; and @() moves with the program's end
sl_new:
        ld $24,(iz+TLEN)
        sbc $24,1
        jp z,cmdloop            ; a number alone: deleted
        ad $24,3
        st $24,(iz+TLEN)        ; from here on: the record's size
        ; room: PEND + 2 + size must stay below MEMTOP
        ld $16,(iz+PEND)
        ld $17,(iz+PEND+1)
        ld $18,$24
        ld $19,0
        adw $18,$16             ; new PEND
        ld $20,lo(MEMTOP-2)
        ld $21,hi(MEMTOP-2)
        sbcw $18,$20
        jp nc,err_memory
        ; records from REC to the end mark move up by size: downward copy
        ld $20,$16
        ld $21,$17
        ld $22,1
        ld $23,0
        adw $20,$22             ; last byte of the end mark
        ld $22,$18
        ld $23,$19
        ld $24,1
        ld $25,0
        adw $22,$24             ; where it goes
        st $18,(iz+PEND)
        st $19,(iz+PEND+1)
        ld $24,(iz+REC)
        ld $25,(iz+REC+1)
        pst ie,0
        pre ix,$20
        pre iy,$24
        pre iz,$22
        bdn
        pre iz,VARS
        pst ie,IEKEYS
        ; the record: number, size, text
        ld $26,(iz+LINENO)
        st $26,($24)
        cal inc24
        ld $26,(iz+LINENO+1)
        st $26,($24)
        cal inc24
        ld $26,(iz+TLEN)
        st $26,($24)
        cal inc24
        ld $26,(iz+TSRC)
        ld $27,(iz+TSRC+1)
sl_copy:
        ld $28,($26)
        st $28,($24)
        cal inc24
        ad $26,1
        jr nc,sl_copied
        ad $27,1
sl_copied:
        adc $28,0
        jr nz,sl_copy
        cal arrclear
        cal autonext
        jp cmdloop

inc24:
        ad $24,1
        rtn nc
        ad $25,1
        rtn

; The record at pair $26 goes; the rest of the program and the end mark
; move down over it.
delrec:
        ld $24,$26
        ld $25,$27
        ld $28,2
        ld $29,0
        adw $24,$28
        ld $20,($24)            ; its length
        ld $21,0
        ld $24,$26
        ld $25,$27
        adw $24,$20             ; the record after it
        ld $22,(iz+PEND)
        ld $23,(iz+PEND+1)
        ld $28,$22
        ld $29,$23
        sbw $28,$20
        st $28,(iz+PEND)
        st $29,(iz+PEND+1)
        ld $28,1
        ld $29,0
        adw $22,$28             ; last byte of the end mark
        pst ie,0
        pre ix,$24
        pre iy,$22
        pre iz,$26
        bup
        pre iz,VARS
        pst ie,IEKEYS
        rtn

; Pair $26 = the first record whose line number is not below the one in
; pair $24 (the end mark when there is none); Z when it has that number.
; Uses $28, $29.
findline:
        ld $26,lo(PSTART)
        ld $27,hi(PSTART)
fl_loop:
        ldw $28,($26)
        sbcw $28,$24
        jr c,fl_next
        rtn
fl_next:
        ld $28,$26
        ld $29,$27
        ad $28,2
        jr nc,fl_len
        ad $29,1
fl_len:
        ld $28,($28)
        ad $26,$28
        jr nc,fl_loop
        ad $27,1
        jr fl_loop

; ---------------------------------------------------------------------------
; Running statements.

stmt_loop:
        gfl $24
        an $24,FPOWER
        jp z,poweroff
        pst ie,0                ; pollkeys, written out here for speed
        gre ky,$24
        an $25,&HF0
        or $25,$24
        jr nz,sl_down
        st $31,(iz+HELD)
        jr sl_polled
sl_down:
        ld $24,(iz+HELD)
        adc $24,0
        jr nz,sl_polled
        cal takekey
sl_polled:
        pst ie,IEKEYS
        ld $24,(iz+BRKF)
        adc $24,0
        jp nz,brk_key
        gre ix,$24
        st $24,(iz+STMTP)
        st $25,(iz+STMTP+1)
        ld $24,(ix+0)
        ld $25,$24
        sb $25,&H80
        jr c,sl_nottoken
        sbc $25,NSTMT
        jp nc,stmt2
        ldi $24,(ix+0)
        ad $25,$25
        ld $26,lo(stmttab)
        ld $27,hi(stmttab)
        ad $26,$25
        jr nc,sl_jump
        ad $27,1
sl_jump:
        jp ($26)
sl_colon:
        ldi $24,(ix+0)
        jr stmt_loop
sl_nottoken:
        sbc $24,&H3A            ; an empty statement
        jr z,sl_colon
        adc $24,0
        jr z,stmt_eol
        sb $24,&H41             ; a variable (LET is optional)
        jp c,do_let
        sbc $24,26
        jp nc,do_let            ; not a letter: varref tells @ from an error
        cal varletter
        jp dl_var

; After a statement: ":" and the next one, or the end of the line.
stmt_end:
        ld $24,(ix+0)
        sbc $24,&H3A
        jr z,sl_colon
        adc $24,0
        jp nz,stmt_else
stmt_eol:                       ; IX on the 0 that ends the line
        ld $24,(iz+CURL)
        ld $25,(iz+CURL+1)
        orc $24,$25
        jp z,cmdloop            ; a direct line is done
        ldi $24,(ix+0)
        gre ix,$24              ; the next record
        ld $26,(ix+0)
        ld $27,(ix+1)
        an $26,$27
        sbc $26,&HFF
        jp z,cmdloop            ; the end of the program
; Run the record at pair $24 from its start.
go_rec:
        st $24,(iz+CURL)
        st $25,(iz+CURL+1)
        pre ix,$24
        ldi $24,(ix+2)          ; IX past the record's header
        jp stmt_loop

; The byte $25 must come next at IX, which moves past it.
expect:
        ld $24,(ix+0)
        sbc $24,$25
        jp nz,err_syntax
        ldi $24,(ix+0)
        rtn

; Skip to the 0 that ends the line.
skip_eol:
        ld $24,(ix+0)
        adc $24,0
        rtn z
        ldi $24,(ix+0)
        jr skip_eol

; An expression that must be a line number 1..9999: pair $24 = its four
; digits.
linearg:
        cal expr
        adc $30,0
        jp nz,err_undef
        orcm $2,$2,6
        jp nz,err_undef
        ld $24,$0
        ld $25,$1
        rtn

; A variable at IX: pair $26 = its address, IX past it. A letter A-Z or
; @(expression).
varref:
        ld $24,(ix+0)
        sbc $24,&H40
        jr z,vr_array
        sb $24,&H41
        jp c,err_syntax
        sbc $24,26
        jp nc,err_syntax
; The same for a letter already checked: $24 = its number 0-25, IX on it.
varletter:
        ldi $25,(ix+0)
        ld $25,$24
        ad $25,$25
        ad $25,$25
        ad $25,$25
        ad $25,$24              ; 9 bytes a variable
        ad $25,lo(VARTAB)
        ld $26,$25
        ld $27,hi(VARTAB)
        rtn
vr_array:
        ldi $24,(ix+0)
        cal parenexpr
        cal bcd2bin
        jp c,err_subscript
        ld $26,&H00
        ld $27,&H1C
        sbcw $24,$26
        jp nc,err_subscript     ; 7168 elements at most
        ldw $26,$24
        adw $24,$24
        adw $24,$24
        adw $24,$24
        adw $24,$26             ; 9 bytes an element
        ld $26,(iz+PEND)
        ld $27,(iz+PEND+1)
        adw $26,$24
        ld $24,2
        ld $25,0
        adw $26,$24             ; after the end mark
        ld $24,9
        adw $24,$26             ; its end
        ld $28,(iz+ARRTOP)      ; below DIM's arrays
        ld $29,(iz+ARRTOP+1)
        sbcw $28,$24
        jp c,err_subscript
; Elements from ATOP up to the end (pair $24) of the one at pair $26 are
; cleared when it lies above ATOP, which moves there. The distance is a
; whole number of elements, at least one: the first byte is cleared and
; copied upward over the rest. Keeps IX, $26, $27; uses $18-$25, $28, $29.
        ld $28,(iz+ATOP)
        ld $29,(iz+ATOP+1)
        sbcw $28,$24
        rtn nc
        st $24,(iz+ATOP)
        st $25,(iz+ATOP+1)
        st $31,($28)
        ld $22,2
        ld $23,0
        sbw $24,$22             ; the last byte to copy from
        pst ie,0
        gre ix,$20
        pre ix,$28
        pre iy,$24
        ad $28,1
        jr nc,vr_clear
        ad $29,1
vr_clear:
        pre iz,$28
        bup
        pre iz,VARS
        pre ix,$20
        pst ie,IEKEYS
        rtn

; A primary that is a plain variable, its letter in $24 and at IX: pair
; $26 = its address as varref gives it (9 bytes a variable from VARTAB, the
; letter's code folded into the constant), IX past it, then its value.
pm_letter:
        ldi $25,(ix+0)
        ld $26,$24
        ad $26,$26
        ad $26,$26
        ad $26,$26
        ad $26,$24
        ad $26,lo(VARTAB-&H249)  ; 9 * "A" = &H249
        ld $27,hi(VARTAB)
; A = the variable at pair $26. Uses $24, $25, T. Bytes that are not a
; number (a digit above 9, a sign other than 0 or 1, as POKE can leave
; them) read as 0: a decimal add of 0 changes a byte exactly when one of
; its digits is above 9.
varload:
        gre ix,$24
        pre ix,$26
        ldm $0,(ix+$31),8
        ldm $16,(ix+$31),8
        ld $30,(ix+8)
        pre ix,$24
        adbm $16,0,8
        xrcm $16,$0,8
        jr nz,vl_bad
        sbc $30,2
        rtn c
vl_bad:
        xrm $0,$0,8
        ld $30,0
        rtn

; The variable at pair $26 = A. Uses $24, $25.
varstore:
        gre ix,$24
        pre ix,$26
        stm $0,(ix+$31),8
        st $30,(ix+8)
        pre ix,$24
        rtn

; (expression)
parenexpr:
        ld $25,&H28
        cal expect
        cal expr
        ld $25,&H29
        jp expect

; LET variable = expression
do_let:
        cal varref
dl_var:
        ld $24,(ix+0)
        sbc $24,&H3D
        jr nz,dl_string
        ldi $24,(ix+0)
        phsw $27
        cal expr
        ppsw $26
        cal varstore
        jp stmt_end
dl_string:                      ; no "=": an array, a string variable or an error
        ld $26,$24
        sbc $24,&H28
        jr z,dl_back
        sbc $24,&H24
        jp nz,err_syntax
dl_back:
        gre ix,$24              ; back on its letter
        sb $24,1
        jr nc,dl_which
        sb $25,1
dl_which:
        pre ix,$24
        sbc $26,&H24
        jp z,do_slet
        cal arrref
        ld $25,&H3D
        cal expect
        phsw $27
        cal expr
        ppsw $26
        cal varstore
        jp stmt_end

; PRINT items separated by ; (joined) or , (next column of 8); a ; or ,
; at the end keeps the output on the row.
do_print:
        ld $24,(ix+0)
        cal isend
        jr nz,pr_item
        cal crlf
        jp stmt_end
pr_item:
        ld $24,(ix+0)
        sbc $24,&H3B
        jr z,pr_join
        sbc $24,&H2C
        jr z,pr_tab
        sbc $24,TTAB
        jp z,pr_tabn
        cal isstr
        jp z,pr_sexpr
        cal expr
pr_number:
        cal numstr
        ld $26,lo(NUMBUF)
        ld $27,hi(NUMBUF)
        cal putstr
        jr pr_next
pr_next:
        ld $24,(ix+0)
        cal isend
        jr nz,pr_item
        cal crlf
        jp stmt_end
pr_tab:
        ld $24,&H20
        cal putch
        ld $24,(iz+CCOL)
        an $24,7
        jr nz,pr_tab
pr_join:
        ldi $24,(ix+0)
        ld $24,(ix+0)
        cal isend
        jr nz,pr_item
        jp stmt_end

; Z when $24 ends a statement (0, ":" or the ELSE after a THEN part).
isend:
        adc $24,0
        rtn z
        sbc $24,&H3A
        rtn z
        sbc $24,TELSE
        rtn

; The string at IX up to its closing quote (or the end of the line), IX
; past the quote.
putquote:
        ld $24,(ix+0)
        adc $24,0
        rtn z
        ldi $24,(ix+0)
        sbc $24,&H22
        rtn z
        cal putch
        jr putquote

; INPUT ["prompt";] variable[,variable...]: a number for each, typed at
; "? "; what is no number is asked again.
do_input:
        ld $24,(ix+0)
        sbc $24,&H22
        jr nz,in_var
        ldi $24,(ix+0)
        cal putquote
        ld $24,(ix+0)
        sbc $24,&H3B
        jr z,in_sep
        sbc $24,&H2C
        jp nz,err_syntax
in_sep:
        ldi $24,(ix+0)
in_var:
        cal isstrvar
        jr nz,in_num_var
        ld $24,(ix+2)
        sbc $24,&H28
        jr z,in_str_elem
        ld $25,(ix+0)
        sb $25,&H41
        st $25,(iz+INVAR)       ; a string variable: its letter
        ld $25,1
        st $25,(iz+INKIND)
        ldi $24,(ix+0)
        ldi $24,(ix+0)
        jr in_ask
in_str_elem:
        cal arrref              ; an element of a string array: its address
        ld $24,2
        jr in_kind
in_num_var:
        cal varrefa
        ld $24,0
in_kind:
        st $24,(iz+INKIND)
        st $26,(iz+INVAR)
        st $27,(iz+INVAR+1)
in_ask:
        ld $24,&H3F
        cal putch
        ld $24,&H20
        cal putch
        ld $24,1
        st $24,(iz+INMODE)
        cal readline
        st $31,(iz+INMODE)
        st $31,(iz+LLEN)
        gre ix,$24
        phsw $25
        pre ix,LBUF
        ld $24,(iz+INKIND)
        adc $24,0
        jp nz,in_string
        cal skipsp
        ld $29,0
        ld $24,(ix+0)
        sbc $24,&H2D            ; -
        jr nz,in_plus
        ld $29,1
        ldi $24,(ix+0)
        jr in_num
in_plus:
        sbc $24,&H2B            ; +
        jr nz,in_num
        ldi $24,(ix+0)
in_num:
        phs $29
        cal getnum
        pps $29
        jr c,in_redo
        ld $30,$29
        cal nnorm
        cal skipsp
        ld $24,(ix+0)
        adc $24,0
        jr nz,in_redo
        ppsw $24
        pre ix,$24
        ld $26,(iz+INVAR)
        ld $27,(iz+INVAR+1)
        cal varstore
in_more:
        ld $24,(ix+0)
        sbc $24,&H2C
        jp nz,stmt_end
        ldi $24,(ix+0)
        jp in_var
in_redo:
        ppsw $24
        pre ix,$24
        ld $26,lo(msg_redo)
        ld $27,hi(msg_redo)
        cal putstr
        cal crlf
        jp in_ask

skipsp:
        ld $24,(ix+0)
        sbc $24,&H20
        rtn nz
        ldi $24,(ix+0)
        jr skipsp

; IF condition THEN statement or line number. A false condition skips the
; rest of the line.
do_if:
        cal expr
        ld $25,TTHEN
        cal expect
        orcm $0,$0,8
        jr z,if_false
        ld $24,(ix+0)
        sb $24,&H30
        jp c,stmt_loop
        sbc $24,10
        jp nc,stmt_loop
        jr do_goto
if_false:
        jp if_else

; GOTO line
do_goto:
        cal linearg
        cal findline
        jp nz,err_undef
        ld $24,$26
        ld $25,$27
        jp go_rec

; GOSUB line: an entry on the FOR / GOSUB stack holds where to come back.
; An entry is 24 bytes: kind (1 FOR, 2 GOSUB), the FOR variable (low byte
; of its address), the text after the statement, its record, then for FOR
; the limit and the step, 9 bytes each.
do_gosub:
        cal linearg
        cal findline
        jp nz,err_undef
        phsw $27
        ld $28,2
        cal pushentry
        ppsw $24
        jp go_rec

; A new entry of kind $28 with the text at IX, CURL, FORVAR, B (limit) and
; A (step). Uses $20-$27.
pushentry:
        ld $20,(iz+CSP)
        ld $21,(iz+CSP+1)
        ld $22,lo(CSTKEND)
        ld $23,hi(CSTKEND)
        sbcw $20,$22
        jp nc,err_deep
        gre ix,$24
        pre ix,$20
        st $28,(ix+0)
        ld $26,(iz+FORVAR)
        st $26,(ix+1)
        st $24,(ix+2)
        st $25,(ix+3)
        ld $26,(iz+CURL)
        st $26,(ix+4)
        ld $26,(iz+CURL+1)
        st $26,(ix+5)
        ld $26,6
        stm $8,(ix+$26),8
        st $29,(ix+14)
        ld $26,15
        stm $0,(ix+$26),8
        st $30,(ix+23)
        pre ix,$24
        ld $22,24
        ld $23,0
        adw $20,$22
        st $20,(iz+CSP)
        st $21,(iz+CSP+1)
        rtn

; Pair $20 = the topmost entry of kind $28 (for FOR: of the variable $27,
; or any when $27 is 0), searching down from the top; C set when there is
; none, or a GOSUB entry lies above the FOR entry sought.
findentry:
        ld $20,(iz+CSP)
        ld $21,(iz+CSP+1)
fe_loop:
        ld $22,lo(CSTK)
        ld $23,hi(CSTK)
        sbcw $22,$20
        jr z,fe_none            ; the bottom
        ld $22,24
        ld $23,0
        sbw $20,$22
        ld $22,($20)            ; its kind
        sbc $22,$28
        jr z,fe_kind
        sbc $22,2
        jr z,fe_none            ; a GOSUB hides the FORs below it
        jr fe_loop
fe_kind:
        sbc $28,2
        jr z,fe_found
        adc $27,0
        jr z,fe_found
        ld $22,$20
        ld $23,$21
        ad $22,1
        jr nc,fe_var
        ad $23,1
fe_var:
        ld $22,($22)
        sbc $22,$27
        jr nz,fe_loop
fe_found:
        adc $31,0
        rtn
fe_none:
        sbc $31,1
        rtn

; RETURN: back to the text after the last GOSUB, dropping the FOR loops
; opened since.
do_return:
        ld $28,2
        cal findentry
        jp c,err_return
        st $20,(iz+CSP)
        st $21,(iz+CSP+1)
        pre ix,$20
        ld $24,(ix+4)
        st $24,(iz+CURL)
        ld $24,(ix+5)
        st $24,(iz+CURL+1)
        ld $24,(ix+2)
        ld $25,(ix+3)
        pre ix,$24
        jp stmt_end

; FOR variable = start TO limit [STEP step]. The loop runs at least once;
; a FOR of a variable that already has a loop replaces that loop.
do_for:
        ld $24,(ix+0)
        sbc $24,&H40
        jp z,err_syntax         ; a plain variable only
        cal varref
        st $26,(iz+FORVAR)
        ld $25,&H3D
        cal expect
        cal expr
        ld $26,(iz+FORVAR)
        ld $27,hi(VARTAB)
        cal varstore
        ld $25,TTO
        cal expect
        cal expr
        phsm $7,8
        phs $30
        ld $24,(ix+0)
        sbc $24,TSTEP
        jr nz,fo_one
        ldi $24,(ix+0)
        cal expr
        jr fo_entry
fo_one:
        xrm $0,$0,8
        ld $0,1
        ld $30,0
fo_entry:
        pps $29
        ppsm $8,8
        ld $28,1
        ld $27,(iz+FORVAR)
        cal findentry
        jr c,fo_push
        st $20,(iz+CSP)         ; the old loop of this variable ends
        st $21,(iz+CSP+1)
fo_push:
        ld $28,1
        cal pushentry
        jp stmt_end

; NEXT [variable]: the step added; back to the text after the FOR while
; the variable has not passed the limit.
do_next:
        ld $27,0
        ld $24,(ix+0)
        sb $24,&H41
        jr c,nx_find
        sbc $24,26
        jr nc,nx_find
        cal varletter
        ld $27,$26
nx_find:
        ld $28,1
        cal findentry
        jp c,err_next
        ld $22,24
        ld $23,0
        adw $22,$20
        st $22,(iz+CSP)         ; inner loops end
        st $23,(iz+CSP+1)
        gre ix,$24
        st $24,(iz+NEXTP)
        st $25,(iz+NEXTP+1)
        pre ix,$20
        ld $24,(ix+1)
        ld $25,0
        sb $25,$24              ; the variable as an offset below VARS
        ld $26,$25
        sb $26,8
        ldm $0,(iz-$25),8
        ld $30,(iz-$26)
        ld $28,15
        ldm $8,(ix+$28),8
        ld $29,(ix+23)
        cal nadd
        stm $0,(iz-$25),8
        st $30,(iz-$26)
        ld $28,6
        ldm $8,(ix+$28),8
        ld $29,(ix+14)
        cal ncmp
        ld $25,(ix+23)
        adc $25,0
        jr z,nx_up
        an $24,1                ; counting down: done below the limit
        jr nz,nx_done
        jr nx_again
nx_up:
        an $24,4                ; counting up: done above it
        jr nz,nx_done
nx_again:
        ld $24,(ix+4)
        st $24,(iz+CURL)
        ld $24,(ix+5)
        st $24,(iz+CURL+1)
        ld $24,(ix+2)
        ld $25,(ix+3)
        pre ix,$24
        jp stmt_end
nx_done:
        gre ix,$20
        st $20,(iz+CSP)
        st $21,(iz+CSP+1)
        ld $24,(iz+NEXTP)
        ld $25,(iz+NEXTP+1)
        pre ix,$24
        jp stmt_end

; END
do_end:
        st $31,(iz+CONTL)
        st $31,(iz+CONTL+1)
        jp cmdloop

; STOP: like BRK, after the statement.
do_stop:
        gre ix,$24
        st $24,(iz+STMTP)
        st $25,(iz+STMTP+1)
        jr brk_stop

; BRK between statements or while INPUT waits: the program stops where it
; is, and CONT goes on there.
brk_key:
        st $31,(iz+BRKF)
brk_stop:
        pre ss,STACKTOP
        ld $24,(iz+CURL)
        st $24,(iz+CONTL)
        ld $25,(iz+CURL+1)
        st $25,(iz+CONTL+1)
        ld $24,(iz+STMTP)
        st $24,(iz+CONTP)
        ld $24,(iz+STMTP+1)
        st $24,(iz+CONTP+1)
        st $31,(iz+INMODE)
        st $31,(iz+LLEN)
        cal fresh
        ld $26,lo(msg_break)
        ld $27,hi(msg_break)
        cal putstr
        cal inline
        cal crlf
        jp cmdloop

; " IN line" when a program line runs.
inline:
        ld $24,(iz+CURL)
        ld $25,(iz+CURL+1)
        orc $24,$25
        rtn z
        ld $26,lo(msg_in)
        ld $27,hi(msg_in)
        cal putstr
        ld $24,(iz+CURL)
        ld $25,(iz+CURL+1)
        ldw $26,($24)
; The line number in pair $26.
putlineno:
        xrm $0,$0,8
        ld $0,$26
        ld $1,$27
        ld $30,0
        cal numstr
        ld $26,lo(NUMBUF)
        ld $27,hi(NUMBUF)
        jp putstr

; CONT
do_cont:
        ld $24,(iz+CONTL)
        ld $25,(iz+CONTL+1)
        orc $24,$25
        jp z,err_cont
        st $24,(iz+CURL)
        st $25,(iz+CURL+1)
        ld $24,(iz+CONTP)
        ld $25,(iz+CONTP+1)
        pre ix,$24
        st $31,(iz+CONTL)
        st $31,(iz+CONTL+1)
        ld $24,1
        st $24,(iz+RUNF)
        jp stmt_loop

; REM
do_rem:
        cal skip_eol
        jp stmt_end

; CLS
do_cls:
        gre ix,$24
        phsw $25
        cal clearbuf
        st $31,(iz+CROW)
        st $31,(iz+CCOL)
        cal drawall
        ppsw $24
        pre ix,$24
        jp stmt_end

; NEW
do_new:
        cal newprog
        jp cmdloop

; RUN [line]: variables cleared, then from the first line or the one given.
do_run:
        cal clearvars
        ld $24,1
        st $24,(iz+RUNF)
        ld $24,(ix+0)
        cal isend
        jr z,ru_first
        jp do_goto
ru_first:
        ld $24,lo(PSTART)
        ld $25,hi(PSTART)
        ld $26,($24)
        sbc $26,&HFF
        jp z,cmdloop            ; no program
        jp go_rec

; POKE address,byte
do_poke:
        cal expr
        cal bcd2bin
        jp c,err_value
        phsw $25
        ld $25,&H2C
        cal expect
        cal expr
        cal bcd2bin
        jp c,err_value
        adc $25,0
        jp nz,err_value
        ppsw $26
        st $24,($26)
        jp stmt_end

; CALL address: a machine-code routine that ends in rtn. It may use every
; main register; IX, IZ and $31 are put back after it.
do_call:
        cal expr
        cal bcd2bin
        jp c,err_value
        gre ix,$26
        phsw $27
        cal callpair
        ld $31,0
        pre iz,VARS
        pst ie,IEKEYS
        ppsw $26
        pre ix,$26
        jp stmt_end
callpair:
        jp $24

; LIST [line[-line]]
do_list:
        ld $24,0
        ld $25,0
        st $24,(iz+LINENO)      ; from
        st $25,(iz+LINENO+1)
        ld $24,&H99
        st $24,(iz+LTO)
        st $24,(iz+LTO+1)
        ld $24,(ix+0)
        sbc $24,&H2D
        jr z,li_to
        cal getnum
        jr c,li_go
        cal lineonly
        st $0,(iz+LINENO)
        st $1,(iz+LINENO+1)
        st $0,(iz+LTO)
        st $1,(iz+LTO+1)
        ld $24,(ix+0)
        sbc $24,&H2D
        jr nz,li_go
li_to:
        ldi $24,(ix+0)
        ld $24,&H99
        st $24,(iz+LTO)
        st $24,(iz+LTO+1)
        cal getnum
        jr c,li_go
        cal lineonly
        st $0,(iz+LTO)
        st $1,(iz+LTO+1)
li_go:
        ld $24,(ix+0)
        cal isend
        jp nz,err_syntax
        gre ix,$24
        phsw $25
        ld $24,(iz+LINENO)
        ld $25,(iz+LINENO+1)
        cal findline
li_line:
        ldw $28,($26)
        ld $24,(iz+LTO)
        ld $25,(iz+LTO+1)
        sbcw $24,$28
        jr c,li_done            ; past the last line (or the end mark)
        st $26,(iz+LPTR)
        st $27,(iz+LPTR+1)
        ldw $26,($26)
        cal putlineno
        ld $24,&H20
        st $24,(iz+LPREV)
        cal putch
        ld $26,(iz+LPTR)
        ld $27,(iz+LPTR+1)
        ld $24,3
        ld $25,0
        adw $26,$24
li_char:
        ld $24,($26)
        adc $24,0
        jr z,li_eol
        phsw $27
        cal listch
        ppsw $26
        ad $26,1
        jr nc,li_char
        ad $27,1
        jr li_char
li_eol:
        cal crlf
        ld $26,(iz+LPTR)
        ld $27,(iz+LPTR+1)
        ld $28,$26
        ld $29,$27
        ad $28,2
        jr nc,li_next
        ad $29,1
li_next:
        ld $28,($28)
        ad $26,$28
        jr nc,li_line
        ad $27,1
        jr li_line
li_done:
        ppsw $24
        pre ix,$24
        jp stmt_end

; A line number typed after LIST: four digits at most.
lineonly:
        orcm $2,$2,6
        jp nz,err_syntax
        rtn

; One byte of a stored line at pair $26 listed: a token as its keyword,
; with a space on either side where it meets a letter, digit or quote.
listch:
        ld $25,$24
        sb $25,&H80
        jr nc,lc_token
        st $24,(iz+LPREV)
        jp putch
lc_token:
        phsw $27
        ld $24,(iz+LPREV)
        cal isalnum
        jr z,lc_word
        ld $24,&H20
        cal putch
lc_word:
        ppsw $26
        phsw $27
        ld $24,($26)
        sb $24,&H80
        ld $26,lo(keywords)
        ld $27,hi(keywords)
lc_find:
        adc $24,0
        jr z,lc_put
lc_skip:
        ld $25,($26)
        ad $26,1
        jr nc,lc_skip1
        ad $27,1
lc_skip1:
        adc $25,0
        jr nz,lc_skip
        sb $24,1
        jr lc_find
lc_put:
        cal putstr
        ppsw $26
        ad $26,1
        jr nc,lc_after
        ad $27,1
lc_after:
        ld $24,($26)            ; what follows the keyword
        ld $25,$24
        sb $25,&H80
        jr nc,lc_space          ; another keyword
        cal isalnum
        jr nz,lc_space
        ld $24,&H41             ; the keyword's last letter
        st $24,(iz+LPREV)
        rtn
lc_space:
        ld $24,&H20
        st $24,(iz+LPREV)
        jp putch

; NZ when $24 is a letter, a digit or a quote.
isalnum:
        sbc $24,&H22
        jr z,ia_yes
        ld $25,$24
        sb $25,&H30
        jr c,ia_no
        sbc $25,10
        jr c,ia_yes
        sb $25,&H11
        jr c,ia_no
        sbc $25,26
        jr c,ia_yes
ia_no:
        adc $31,0
        rtn
ia_yes:
        ld $25,1
        adc $25,0
        rtn

; ---------------------------------------------------------------------------
; Expressions, by precedence from the lowest: OR; AND; NOT; comparisons;
; + -; * / MOD; unary - +; numbers, variables, functions and parentheses.
; The value comes in A; IX moves past the expression. Comparisons and the
; logical operators give 1 for true and 0 for false; any value but 0 counts
; as true. Operands wait on the system stack.

expr:
        cal andexpr
ex_loop:
        ld $24,(ix+0)
        sbc $24,TOR
        rtn nz
        ldi $24,(ix+0)
        phsm $7,8
        phs $30
        cal andexpr
        cal popb
        orcm $0,$0,8
        jr nz,ex_true
        orcm $8,$8,8
ex_true:
        cal setbool
        jr ex_loop

andexpr:
        cal notexpr
an_loop:
        ld $24,(ix+0)
        sbc $24,TAND
        rtn nz
        ldi $24,(ix+0)
        phsm $7,8
        phs $30
        cal notexpr
        cal popb
        orcm $0,$0,8
        jr z,an_false
        orcm $8,$8,8
an_false:
        cal setbool
        jr an_loop

notexpr:
        ld $24,(ix+0)
        sbc $24,TNOT
        jr nz,relexpr
        ldi $24,(ix+0)
        cal notexpr
        orcm $0,$0,8
        ld $24,1
        jr z,nt_set
        ld $24,0
nt_set:
        xrm $0,$0,8
        ld $0,$24
        ld $30,0
        rtn

relexpr:
        cal addexpr
re_loop:
        ld $27,0                ; what holds: 1 less, 2 equal, 4 greater
        ld $24,(ix+0)
        sbc $24,&H3C
        rtn c                   ; below "<": no comparison follows
        sbc $24,&H3D
        jr nz,re_lt
        ld $27,2
        jr re_one
re_lt:
        sbc $24,&H3C
        jr nz,re_gt
        ld $27,1
        ld $24,(ix+1)
        sbc $24,&H3D
        jr nz,re_ne
        ld $27,3
        jr re_two
re_ne:
        sbc $24,&H3E
        jr nz,re_one
        ld $27,5
        jr re_two
re_gt:
        sbc $24,&H3E
        rtn nz
        ld $27,4
        ld $24,(ix+1)
        sbc $24,&H3D
        jr nz,re_one
        ld $27,6
re_two:
        ldi $24,(ix+0)
re_one:
        ldi $24,(ix+0)
        phsm $7,8
        phs $30
        phs $27
        cal addexpr
        ldm $8,$0,8
        ld $29,$30
        pps $27
        pps $30
        ppsm $0,8
        cal ncmp
        an $24,$27
        cal setbool
        jr re_loop

; The comparison at IX: $27 = what it asks for (1 less, 2 equal, 4
; greater, ORed), IX past it; 0 when there is none. Uses $24. (relexpr
; has the same inline, where every expression passes.)
relop:
        ld $27,0
        ld $24,(ix+0)
        sbc $24,&H3D
        jr nz,ro_lt
        ld $27,2
        jr ro_one
ro_lt:
        sbc $24,&H3C
        jr nz,ro_gt
        ld $27,1
        ld $24,(ix+1)
        sbc $24,&H3D
        jr nz,ro_ne
        ld $27,3
        jr ro_two
ro_ne:
        sbc $24,&H3E
        jr nz,ro_one
        ld $27,5
        jr ro_two
ro_gt:
        sbc $24,&H3E
        rtn nz
        ld $27,4
        ld $24,(ix+1)
        sbc $24,&H3D
        jr nz,ro_one
        ld $27,6
ro_two:
        ldi $24,(ix+0)
ro_one:
        ldi $24,(ix+0)
        rtn

; B = A, A = the operand under the return address. For the operators'
; loops: called right after the right operand.
popb:
        ppsw $26                ; the return address
        ldm $8,$0,8
        ld $29,$30
        pps $30
        ppsm $0,8
        phsw $27
        rtn

; A = 1 when the last flags say NZ, else 0.
setbool:
        ld $24,0
        jr z,sb_set
        ld $24,1
sb_set:
        xrm $0,$0,8
        ld $0,$24
        ld $30,0
        rtn

addexpr:
        cal mulexpr
ad_loop:
        ld $24,(ix+0)
        sbc $24,&H2B
        jr z,ad_op
        sbc $24,&H2D
        rtn nz
ad_op:
        ldi $24,(ix+0)
        phsm $7,8
        phs $30
        phs $24
        cal mulexpr
        ldm $8,$0,8
        ld $29,$30
        pps $24
        pps $30
        ppsm $0,8
        sbc $24,&H2D
        jr nz,ad_add
        cal nsub
        jr ad_loop
ad_add:
        cal nadd
        jr ad_loop

mulexpr:
        cal unary
mu_loop:
        ld $24,(ix+0)
        sbc $24,&H2A
        jr z,mu_op
        sbc $24,&H2F
        jr z,mu_op
        sbc $24,TMOD
        rtn nz
mu_op:
        ldi $24,(ix+0)
        phsm $7,8
        phs $30
        phs $24
        cal unary
        ldm $8,$0,8
        ld $29,$30
        pps $24
        pps $30
        ppsm $0,8
        sbc $24,&H2A
        jr nz,mu_div
        cal nmul
        jr mu_loop
mu_div:
        sbc $24,&H2F
        jr nz,mu_mod
        cal ndiv
        jr mu_loop
mu_mod:
        cal nmod
        jr mu_loop

unary:
        ld $24,(ix+0)
        sbc $24,&H2D
        jr nz,un_plus
        ldi $24,(ix+0)
        cal unary
        orcm $0,$0,8
        rtn z
        xr $30,1
        rtn
un_plus:
        sbc $24,&H2B
        jr nz,primary
        ldi $24,(ix+0)
        jr unary

; A primary that is a string (a quote, a string variable or function)
; starts strings compared, which give a number.
primary:
        gre ss,$24              ; room on the stack for one more level?
        sbc $25,&HFD
        jp c,err_deep
        ld $24,(ix+0)
        ld $25,$24
        sb $25,&H30
        jr c,pm_other
        sbc $25,10
        jp c,getnum             ; a digit
        sb $25,&H11
        jr c,pm_other
        sbc $25,26
        jr nc,pm_other
        ld $25,(ix+1)           ; a letter
        sbc $25,&H24
        jp z,strcmp
        sbc $25,&H28
        jp nz,pm_letter
        cal arrref              ; an element of an array
        jp varload
pm_other:
        sbc $24,&H28
        jp z,parenexpr
        sbc $24,&H22
        jp z,strcmp
        sbc $24,TABS
        jr nz,pm_rnd
        ldi $24,(ix+0)
        cal parenexpr
        ld $30,0
        rtn
pm_rnd:
        sbc $24,TRND
        jr nz,pm_peek
        ldi $24,(ix+0)
        cal parenexpr
        jr rnd
pm_peek:
        sbc $24,TPEEK
        jr nz,pm_strf
        ldi $24,(ix+0)
        cal parenexpr
        cal bcd2bin
        jp c,err_value
        ld $24,($24)
        ld $25,0
        jp bin2bcd
pm_strf:
        sbc $24,TLENGTH
        jp z,pm_len
        sbc $24,TASC
        jp z,pm_asc
        sbc $24,TVAL
        jp z,pm_val
        ld $25,$24
        sb $25,TLEFT
        jr c,pm_var
        sbc $25,TINKEY-TLEFT+1
        jp c,strcmp
pm_var:
        cal varref
        jp varload

; RND(n): a whole number from 1 to n, from a 16-bit xorshift generator
; whose state lives in RAM.
rnd:
        adc $30,0
        jp nz,err_value
        orcm $0,$0,8
        jp z,err_value
        ldm $8,$0,8
        ld $29,0
        ld $24,(iz+RNDX)
        ld $25,(iz+RNDX+1)
        orc $24,$25
        jr nz,rn_step
        ld $24,1
rn_step:
        ldw $26,$24             ; x ^= x << 7
        ld $28,7
rn_up7:
        biuw $26
        sb $28,1
        jr nz,rn_up7
        xrw $24,$26
        ldw $26,$24             ; x ^= x >> 9
        ld $26,$27
        ld $27,0
        bid $26
        xrw $24,$26
        ld $27,$24              ; x ^= x << 8
        ld $26,0
        xrw $24,$26
        st $24,(iz+RNDX)
        st $25,(iz+RNDX+1)
        cal bin2bcd
        cal divmag
        ldm $0,$16,8
        adbm $0,1,8
        ld $30,0
        rtn

; ---------------------------------------------------------------------------
; Errors: the message, the line when a program runs, and the prompt. The
; program and the variables stay. A bare expression that overflows shows E.

err_syntax:
        ld $24,0
        jr error
err_overflow:
        ld $24,1
        jr error
err_div0:
        ld $24,2
        jr error
err_return:
        ld $24,3
        jr error
err_next:
        ld $24,4
        jr error
err_deep:
        ld $24,5
        jr error
err_undef:
        ld $24,6
        jr error
err_memory:
        ld $24,7
        jr error
err_cont:
        ld $24,8
        jr error
err_subscript:
        ld $24,9
        jr error
err_value:
        ld $24,10
        jr error
err_type:
        ld $24,11
        jr error
err_long:
        ld $24,12
        jr error
err_data:
        ld $24,13
error:
        pre ss,STACKTOP
        pre iz,VARS
        pst ie,IEKEYS
        st $24,(iz+ERRN)
        st $31,(iz+INMODE)
        st $31,(iz+CONTL)
        st $31,(iz+CONTL+1)
        sbc $24,1
        jr nz,er_message
        ld $25,(iz+BAREF)
        adc $25,0
        jr z,er_message
        ld $26,lo(msg_e)
        ld $27,hi(msg_e)
        cal fresh
        cal ralign
        jp cmdloop
er_message:
        cal fresh
        ld $24,&H3F
        cal putch
        ld $24,(iz+ERRN)
        ad $24,$24
        ld $26,lo(errtab)
        ld $27,hi(errtab)
        ad $26,$24
        jr nc,er_text
        ad $27,1
er_text:
        ldw $24,($26)
        ldw $26,$24
        cal putstr
        ld $26,lo(msg_error)
        ld $27,hi(msg_error)
        cal putstr
        cal inline
        cal crlf
        jp cmdloop

errtab:
        dw msg_syntax,msg_overflow,msg_div0,msg_return,msg_next,msg_deep
        dw msg_undef,msg_memory,msg_cont,msg_subscript,msg_value,msg_type,msg_long
        dw msg_data

msg_syntax:     db "SYNTAX",0
msg_overflow:   db "OVERFLOW",0
msg_div0:       db "DIVISION BY ZERO",0
msg_return:     db "RETURN W/O GOSUB",0
msg_next:       db "NEXT WITHOUT FOR",0
msg_deep:       db "NESTING TOO DEEP",0
msg_undef:      db "UNDEFINED LINE",0
msg_memory:     db "OUT OF MEMORY",0
msg_cont:       db "CAN'T CONTINUE",0
msg_subscript:  db "BAD SUBSCRIPT",0
msg_value:      db "ILLEGAL VALUE",0
msg_type:       db "TYPE MISMATCH",0
msg_long:       db "STRING TOO LONG",0
msg_data:       db "OUT OF DATA",0
msg_error:      db " ERROR",0
msg_in:         db " IN ",0
msg_break:      db "BREAK",0
msg_redo:       db "?REDO",0
msg_e:          db "E",0
