; The disk drive: SAVE, LOAD, FILES and KILL talk to the disk server over
; the I/O port's byte link, one command a call (docs/disk.md has the
; protocol). Every byte sent is answered by one byte; an answer that does
; not come (no drive, no server, a server that went away) ends the command
; with ?DISK ERROR, and a refusal of the server with the error it names.
;
; A saved program is the RAM signature (4 bytes, which change whenever the
; program format does) and then the program area from PSTART up to its end
; mark, as it lies in memory. LOAD takes only a file with our signature.
;
; Port lines, all three outputs while a command runs: line 4 low holds the
; call, lines 4 and 5 low open registers 3 (the answer) and 4 (the byte to
; send), and line 3 going low sends the byte; input line 2 then says that
; the answer came.

DKIN            equ &H0C03          ; I/O window register 3: the answer
DKOUT           equ &H0C04          ; register 4: the byte for the drive
DKLINES         equ &H38            ; PE: lines 3, 4 and 5 are outputs
DKHANG          equ &H38            ; PD: all high, no call
DKCALL          equ &H08            ; PD: 4 and 5 low, 3 high
DKSEND          equ &H00            ; PD: 3 low as well, the byte goes
DKREADY         equ &H04            ; input line 2: the answer is in
DRIVE           equ &H55            ; option code of the drive

; Answers that are not data.
DKNAME          equ 2               ; the name is not one the server takes
DKNOFILE        equ 3               ; no such file
DKBIG           equ 4               ; more than a file may hold
DKFULL          equ 5               ; the disk is full

; The statements are dispatched from stmttab2, their keywords the last of
; the table.

; SAVE "name"
do_save:
        cal dk_named
        ld $24,&H53             ; S
        cal dk_ask
        cal dk_sendname
        ld $18,(iz+PEND)        ; length: the signature and the program
        ld $19,(iz+PEND+1)
        ld $24,lo(PSTART-4)
        ld $25,hi(PSTART-4)
        sbw $18,$24
        ld $24,$18
        cal dk_ask
        ld $24,$19
        cal dk_ask
        ld $23,SIG
sv_sig:
        ld $24,(iz+$23)
        cal dk_ask
        ad $23,1
        sbc $23,SIG+4
        jr nz,sv_sig
        ld $16,lo(PSTART)
        ld $17,hi(PSTART)
        ld $18,(iz+PEND)
        ld $19,(iz+PEND+1)
sv_byte:                        ; the answer to the last byte: stored
        sbcw $16,$18
        jr z,sv_done
        ld $24,($16)
        cal dk_ask
        cal dk_inc16
        jr sv_byte
sv_done:
        cal dk_hangup
        jp stmt_end

; LOAD "name": the program and its variables are replaced, and the prompt
; comes back. The file comes in at the top of memory first, so that a
; transfer that breaks off leaves the old program as it was; only a
; program too large to lie beside it goes before the transfer starts.
do_load:
        cal dk_named
        ld $24,&H4C             ; L
        cal dk_ask
        cal dk_sendname
        ld $24,0
        cal dk_xchg
        ld $18,$24
        ld $24,0
        cal dk_xchg
        ld $19,$24              ; the file's length
        ld $24,4
        ld $25,0
        sbw $18,$24             ; less the signature: the program's
        jp c,dk_badfile
        ld $23,SIG
ld_sig:
        ld $24,0
        cal dk_xchg
        ld $25,(iz+$23)
        sbc $24,$25
        jp nz,dk_badfile
        ad $23,1
        sbc $23,SIG+4
        jr nz,ld_sig
        ld $24,lo(MEMTOP-2-PSTART)
        ld $25,hi(MEMTOP-2-PSTART)
        sbcw $18,$24            ; room for it and its end mark?
        jp nc,dk_nomemory
        ld $20,(iz+ARRTOP)      ; it comes in below DIM's arrays and
        ld $21,(iz+ARRTOP+1)    ; above the elements of @() written, so
        ld $16,$20              ; that all of them stay when it breaks off
        ld $17,$21
        sbw $16,$18
        jr c,ld_arrays
        ld $24,(iz+ATOP)
        ld $25,(iz+ATOP+1)
        sbcw $16,$24
        jr nc,ld_data
ld_arrays:                      ; no room there: the arrays go
        cal arrclear
        ld $20,lo(MEMTOP)
        ld $21,hi(MEMTOP)
        ld $16,$20
        ld $17,$21
        sbw $16,$18
        ld $24,(iz+ATOP)
        ld $25,(iz+ATOP+1)
        sbcw $16,$24
        jr nc,ld_data
        cal newprog             ; the old program is in the way: it goes
ld_data:                        ; $20 pair: the end of the file in memory
        phsw $17
ld_byte:
        sbcw $16,$20
        jr z,ld_in
        ld $24,0
        cal dk_xchg
        st $24,($16)
        cal dk_inc16
        jr ld_byte
ld_in:
        cal dk_hangup
        ppsw $16
        ld $24,lo(PSTART)
        ld $25,hi(PSTART)
        adw $24,$18             ; the new end
        orc $18,$19
        jr z,ld_mark            ; an empty program
        pst ie,0
        ld $22,1
        ld $23,0
        sbw $20,$22
        pre ix,$16
        pre iy,$20
        pre iz,PSTART
        bup
        pre iz,VARS
        pst ie,IEKEYS
ld_mark:
        st $24,(iz+PEND)
        st $25,(iz+PEND+1)
        ld $26,&HFF
        st $26,($24)
        cal inc24
        st $26,($24)
        cal clearvars
        jp cmdloop

; FILES: each file on a row of its own, its length in bytes at column 17.
do_files:
        ld $24,(ix+0)
        cal isend
        jp nz,err_syntax
        cal dk_call
        ld $24,&H46             ; F
        cal dk_ask
        cal fresh
fi_entry:                       ; name, 0, length low, length high; 0 ends
        ld $24,0
        cal dk_xchg
        adc $24,0
        jr z,fi_done
fi_char:
        cal putch
        ld $24,0
        cal dk_xchg
        adc $24,0
        jr nz,fi_char
fi_pad:
        ld $24,&H20
        cal putch
        ld $24,(iz+CCOL)
        sbc $24,17
        jr c,fi_pad
        ld $24,0
        cal dk_xchg
        ld $18,$24
        ld $24,0
        cal dk_xchg
        ld $25,$24
        ld $24,$18
        cal bin2bcd
        cal numstr
        ld $26,lo(NUMBUF)
        ld $27,hi(NUMBUF)
        cal putstr
        cal crlf
        jr fi_entry
fi_done:
        cal dk_hangup
        jp stmt_end

; KILL "name"
do_kill:
        cal dk_named
        ld $24,&H4B             ; K
        cal dk_ask
        cal dk_sendname         ; the answer to its last byte: gone
        cal dk_hangup
        jp stmt_end

; ---------------------------------------------------------------------------
; The link.

; The name in quotes at IX, which must end the statement: pair $20 its
; first character, $22 its length (1 to 16); then the call.
dk_named:
        ld $25,&H22
        cal expect
        gre ix,$20
        ld $22,0
dn_char:
        ld $24,(ix+0)
        adc $24,0
        jr z,dn_end
        ldi $24,(ix+0)
        sbc $24,&H22
        jr z,dn_end
        ad $22,1
        jr dn_char
dn_end:
        ld $24,(ix+0)
        cal isend
        jp nz,err_syntax
        adc $22,0
        jp z,dk_badname
        sbc $22,17
        jp nc,dk_badname
; Call the drive: lines 4 and 5 fall, and register 3 holds the option code.
dk_call:
        pst pd,DKHANG
        pst pe,DKLINES
        pst pd,DKCALL
        ld $26,lo(DKIN)
        ld $27,hi(DKIN)
        ld $24,($26)
        sbc $24,DRIVE
        jp nz,dk_linkfail       ; no drive
        rtn

; Line 4 high ends the call; the lines are inputs again.
dk_hangup:
        pst pd,DKHANG
        pst pe,0
        rtn

; $24 goes to the drive, and $24 = its answer. Uses $25-$27.
dk_xchg:
        ld $26,lo(DKOUT)
        ld $27,hi(DKOUT)
        st $24,($26)
        pst pd,DKSEND
        gpo $25
        an $25,DKREADY
        jp z,dk_linkfail
        ld $26,lo(DKIN)
        ld $24,($26)
        pst pd,DKCALL
        rtn

; $24 goes to the drive, whose answer must be 0 (all well so far).
dk_ask:
        cal dk_xchg
        adc $24,0
        rtn z
; The drive refused with the answer in $24.
        cal dk_hangup
        sbc $24,DKNAME
        jr z,dk_badname
        sbc $24,DKNOFILE
        jr z,dk_nofile
        sbc $24,DKBIG
        jr z,dk_full
        sbc $24,DKFULL
        jr z,dk_full
        jr dk_linkfail

; The name: its length, then its characters.
dk_sendname:
        ld $24,$22
        cal dk_ask
        ld $16,$20
        ld $17,$21
        ld $23,$22
ds_char:
        ld $24,($16)
        cal dk_ask
        cal dk_inc16
        sb $23,1
        jr nz,ds_char
        rtn

dk_inc16:
        ad $16,1
        rtn nc
        ad $17,1
        rtn

; ---------------------------------------------------------------------------
; Errors of the drive, shown as error shows its own.

dk_linkfail:
        ld $26,lo(msg_disk)
        ld $27,hi(msg_disk)
        jr dk_error
dk_badname:
        ld $26,lo(msg_badname)
        ld $27,hi(msg_badname)
        jr dk_error
dk_nofile:
        ld $26,lo(msg_nofile)
        ld $27,hi(msg_nofile)
        jr dk_error
dk_full:
        ld $26,lo(msg_full)
        ld $27,hi(msg_full)
        jr dk_error
dk_badfile:
        ld $26,lo(msg_badfile)
        ld $27,hi(msg_badfile)
        jr dk_error
dk_nomemory:
        ld $26,lo(msg_memory)
        ld $27,hi(msg_memory)
dk_error:
        cal dk_hangup
        pre ss,STACKTOP
        pre iz,VARS
        pst ie,IEKEYS
        st $31,(iz+INMODE)
        st $31,(iz+CONTL)
        st $31,(iz+CONTL+1)
        phsw $27
        cal fresh
        ld $24,&H3F             ; ?
        cal putch
        ppsw $26
        cal putstr
        ld $26,lo(msg_error)
        ld $27,hi(msg_error)
        cal putstr
        cal inline
        cal crlf
        jp cmdloop

msg_disk:       db "DISK",0
msg_badname:    db "BAD NAME",0
msg_nofile:     db "FILE NOT FOUND",0
msg_full:       db "DISK FULL",0
msg_badfile:    db "BAD FILE",0
