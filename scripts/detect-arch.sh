#!/bin/sh
# Prints the Windows architecture whose programs Wine can run on this machine:
# i686 where the kernel executes 32-bit x86 Linux code (what 32-bit Wine needs),
# x86_64 where it does not (some sandboxed kernels answer ENOEXEC to any i386
# binary, and then only 64-bit Wine runs). The probe is a 96-byte i386 ELF that
# exits with status 42.
probe=$(mktemp)
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$probe"
printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$probe"
printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000' >>"$probe"
printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' >>"$probe"
printf '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000' >>"$probe"
printf '\270\001\000\000\000\273\052\000\000\000\315\200' >>"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
rc=$?
rm -f "$probe"
if [ "$rc" = 42 ]; then echo i686; else echo x86_64; fi
