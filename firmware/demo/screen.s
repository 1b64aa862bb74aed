; The text screen: 4 rows of 32 characters in RAM, shown on the LCD by the
; controllers' character generator (six dots a character, so each
; controller holds 16 characters of every row), with the controllers'
; cursor ORed over the cell where the next character goes.

; ---------------------------------------------------------------------------
; LCD.

; Switch the controllers on: display on, six-dot characters, cursor shown
; and ORed over the text. Each stl is a frame of its own: the command code
; in the low nibble, its parameter in the high one.
lcdinit:
        ppo LCDCMD
        stl &H14                ; command 4: display on
        stl &H28                ; command 8: width 8 - 2 = 6 dots
        stl &HB9                ; command 9: cursor on, combine mode 5 (OR)
        rtn

; Redraw text row $26 on the LCD. Command 3 writes whole characters from
; dot column 0 of band $26, replacing what was there (mode 4); the address
; moves on by one character per byte, so 16 bytes fill a controller's part
; of the band. Uses $16-$25 and IX; keeps $26.
drawrow:
        cal rowaddr
        ld $24,&H83             ; command 3, mode 4, controller 0
        ld $25,0                ; address 0 of the band ...
        ppo LCDCMD
        stlm $24,3              ; ... band $26
        ppo LCDDATA
        ldim $16,(ix+$31),8
        stlm $16,8
        ldim $16,(ix+$31),8
        stlm $16,8
        ld $24,&H93             ; the same for controller 1
        ppo LCDCMD
        stlm $24,3
        ppo LCDDATA
        ldim $16,(ix+$31),8
        stlm $16,8
        ldim $16,(ix+$31),8
        stlm $16,8
        rtn

; Redraw every row, then the cursor.
drawall:
        ld $26,0
da_loop:
        cal drawrow
        ad $26,1
        sbc $26,ROWS
        jr c,da_loop
        jr setcursor

; Redraw the cursor's row and the cursor.
drawcur:
        ld $26,(iz+CROW)
        cal drawrow

; Put the cursor on (CROW, CCOL). Command 14 places the cursor of the
; controller that holds the column, at nibble 12 * cell of the band
; (6 dots, 2 nibbles a dot column; cells 8-15 lie in the band's upper half,
; which the half bit selects). Command 7 then loads its pattern from the
; glyph of CURSOR, starting at that nibble; the other controller's cursor
; gets the blank pattern of a space.
setcursor:
        ld $25,(iz+CCOL)
        sbc $25,COLUMNS
        jr c,sc_col
        ld $25,COLUMNS-1        ; a full row: the cursor on its last cell
sc_col:
        ld $27,$25
        did $27                 ; controller: column / 16
        an $25,&H0F             ; cell within the controller
        ld $24,$25
        ad $24,$24
        ad $24,$25
        ad $24,$24
        ad $24,$24              ; 12 * cell
        sbc $24,96
        jr c,sc_low
        sb $24,96
        or $24,&H80             ; half bit
sc_low:
        ld $16,$27
        diu $16
        or $16,&H0E             ; command 14, this controller
        ld $17,$24              ; position
        ld $18,(iz+CROW)        ; band
        ppo LCDCMD
        stlm $16,3
        ld $16,$27
        diu $16
        or $16,&H07             ; command 7, this controller
        an $24,&H0F             ; pattern starts at the cursor's nibble
        ld $17,$24
        stlm $16,2
        ppo LCDDATA
        stl CURSOR
        ld $16,$27
        xr $16,1
        diu $16
        or $16,&H07             ; command 7, the other controller
        ppo LCDCMD
        stlm $16,2
        ppo LCDDATA
        stl &H20
        rtn

; ---------------------------------------------------------------------------
; The screen buffer.

; IX = first cell of row $26. The screen lies within one 256-byte page.
; Uses $28, $29.
rowaddr:
        ld $28,$26
        diu $28
        ad $28,$28              ; row * 32
        ad $28,lo(SCREEN)
        ld $29,hi(SCREEN)
        pre ix,$28
        rtn

; Every cell a space.
clearbuf:
        pre ix,SCREEN
        ld $24,&H20
        ld $25,CELLS
cb_loop:
        sti $24,(ix+0)
        sb $25,1
        jr nz,cb_loop
        rtn

; Row $26 all spaces.
clearrow:
        cal rowaddr
        ld $24,&H20
        ld $25,COLUMNS
cr_loop:
        sti $24,(ix+0)
        sb $25,1
        jr nz,cr_loop
        rtn

; Cursor to column 0 of the next row, which is cleared; below the last row
; the screen scrolls up by one. The row left behind is drawn first, so text
; written into the buffer shows as soon as its line ends. Uses $16-$29, IX.
newline:
        ld $26,(iz+CROW)
        cal drawrow
        ld $26,(iz+CROW)
        sbc $26,ROWS-1
        jr c,nl_down
        cal scroll
        st $31,(iz+CCOL)
        ld $26,ROWS-1
        cal clearrow
        jp drawall
nl_down:
        ad $26,1
        st $26,(iz+CROW)
        st $31,(iz+CCOL)
        cal clearrow
        ld $26,(iz+CROW)
        jp drawrow

; Rows 1-3 move up to rows 0-2 in one block transfer. It needs IZ as its
; destination, and the key interrupt relies on IZ, so interrupts stay off
; until IZ is back.
scroll:
        pst ie,0
        pre ix,SCREEN+COLUMNS
        pre iy,SCREEN+CELLS-1
        pre iz,SCREEN
        bup
        pre iz,VARS
        pst ie,IEKEYS
        rtn

; ---------------------------------------------------------------------------
; Output for BASIC. These keep IX (the text being run) and may change any
; main register.

; Character $24 at the output position; a full row goes on at the start of
; the next one.
putch:
        gre ix,$26
        phsw $27
        ld $25,(iz+CCOL)
        sbc $25,COLUMNS
        jr c,pc_put
        phs $24
        cal newline
        pps $24
pc_put:
        ld $26,(iz+CROW)
        cal rowaddr
        ld $25,(iz+CCOL)
        st $24,(ix+$25)
        ad $25,1
        st $25,(iz+CCOL)
        ppsw $26
        pre ix,$26
        rtn

; The output position to the start of the next row.
crlf:
        gre ix,$26
        phsw $27
        cal newline
        ppsw $26
        pre ix,$26
        rtn

; A new row unless the output position is at the start of one.
fresh:
        ld $24,(iz+CCOL)
        adc $24,0
        rtn z
        jr crlf

; The zero-terminated text at pair $26 (ROM or RAM).
putstr:
        ld $24,($26)
        adc $24,0
        rtn z
        phsw $27
        cal putch
        ppsw $26
        ad $26,1
        jr nc,putstr
        ad $27,1
        jr putstr
