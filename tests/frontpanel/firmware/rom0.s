; On-chip ROM of the demo machine (word-organised: every address is one
; 16-bit word and a jump takes two). It holds the processor's fixed entry
; points only; each jumps on into the program in rom1, whose entry table
; stays put while the program behind it changes.

        include "defs.s"

        org &H0000              ; reset
        jp ENTRY_RESET
        org &H0010              ; waking from off
        jp ENTRY_WAKE
        org &H0022              ; trp
        jp ENTRY_TRAP
        org &H0032              ; request 0: LCD pulse
        jp ENTRY_SPURIOUS
        org &H0042              ; request 1: full minute
        jp ENTRY_SPURIOUS
        org &H0052              ; request 2: input line A
        jp ENTRY_SPURIOUS
        org &H0062              ; request 3: key matrix
        jp ENTRY_KEY
        org &H0072              ; request 4: input line B
        jp ENTRY_SPURIOUS
