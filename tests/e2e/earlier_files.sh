#!/usr/bin/env bash
# Settings files as the earlier release and the plain format make them, applied without a
# window: each is read with the meaning it was written with or refused, and the state file
# shows nothing else written; a file never brings its own current limit.
source "$(dirname "$0")/lib.bash"
cd "$WORK"
export QUILM_SIM_STATE=$WORK/state

# earlier IN OUT FAMILY15H CODE: the rows of IN's words as the earlier release decoded them (below
# family 15h the older fields, from it on the core Vid's upper seven bits and the NB P-state bit),
# sliders clamped, with trailer CODE or, for "none", the plain 97 bytes.
earlier() {
    python3 - "$@" <<'PY'
import struct, sys
src, dst, f15, code = sys.argv[1], sys.argv[2], sys.argv[3] == "1", sys.argv[4]
b = bytearray(open(src, "rb").read()[:97])
clamp = lambda v, lo, hi: min(max(v & 0xFF, lo), hi)
for i in range(8):
    w, = struct.unpack_from("<I", b, 4 * i)
    multi = clamp(((w & 0x3F) + 16) >> (w >> 6 & 7), 8, 63)
    vcore = clamp(124 - (w >> (10 if f15 else 9) & 0x7F), 69, 124)
    nb = w >> 22 & 1 if f15 else clamp(124 - (w >> 25), 69, 124)
    b[65 + 4 * i:68 + 4 * i] = bytes([multi, vcore, nb])
open(dst, "wb").write(b + (b"" if code == "none" else b"QLYT" + bytes([int(code)])))
PY
}
poke() { printf "\\$(printf %o "$3")" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

# Family 15h model 10h: the earlier release's code 2 (P0 at 1.475 V is byte 118) converts exactly.
export QUILM_SIM=fam15h
expect_exit 0 "$QUILM" save own.cfg
earlier own.cfg old.cfg 1 2
[ "$(od -An -tu1 -j66 -N1 old.cfg | tr -d ' ')" = 118 ] || fail "the earlier file's P0 is not byte 118"
cp state before
expect_exit 0 "$QUILM" apply old.cfg -v
grep -q "converted exactly" err || fail "the conversion is not told: $(cat err)"
cmp -s state before || fail "an unedited earlier file changed registers: $(diff before state)"
poke old.cfg 78 100                                          # P3 edited to 1.2250 V: Vid 30h
expect_exit 0 "$QUILM" apply old.cfg
[ "$(grep -c '^[0-9] C0010067 8000003C00006012$' state)" = 4 ] || fail "P3 is not 1.2250 V: $(grep C0010067 state)"
[ "$(grep -v C0010067 state)" = "$(grep -v C0010067 before)" ] || fail "apply changed other registers"

# The plain format on a parallel voltage interface and on Zen reads those registers wrongly: refused.
for sim in fam10h,pvi=1:0 fam17h:1; do
    rm -f state
    QUILM_SIM=${sim%:*} expect_exit 0 "$QUILM" save own.cfg
    earlier own.cfg plain.cfg "${sim#*:}" none
    cp state before
    QUILM_SIM=${sim%:*} expect_exit 1 "$QUILM" apply plain.cfg
    grep -qx "quilm: plain.cfg: saved for another register layout: nothing written" err || fail "$sim: $(cat err)"
    cmp -s state before || fail "$sim: a refused file changed registers"
done

# Zen: the file's current limits (P0 unedited, P2 two Vid steps lower) never replace the processor's.
rm -f state
export QUILM_SIM=fam19h
expect_exit 0 "$QUILM" save own.cfg
cp state before
poke own.cfg 3 $(( $(od -An -tu1 -j3 -N1 own.cfg) ^ 12 ))   # P0 IddValue
poke own.cfg 11 $(( $(od -An -tu1 -j11 -N1 own.cfg) ^ 12 )) # P2 IddValue
poke own.cfg 74 $(( $(od -An -tu1 -j74 -N1 own.cfg) - 2 ))  # P2 core voltage
expect_exit 0 "$QUILM" apply own.cfg
[ "$(grep -c '^[0-9]* C0010066 800000004C968C60$' state)" = 16 ] || fail "P2 is not the processor's with Vid 5Ah"
[ "$(grep -v C0010066 state)" = "$(grep -v C0010066 before)" ] || fail "apply changed other registers"
echo "earlier and plain files: converted exactly or refused; current limits kept"
