#!/usr/bin/env bash
# quilm list on every simulated processor against its golden text (QUILM_UPDATE_GOLDEN=1
# rewrites them), and the exit codes of the words that need no window.
source "$(dirname "$0")/lib.bash"
golden=$(dirname "$0")/../golden/list
profiles=(fam10h fam11h fam12h fam14h fam15h fam15h-m01 fam16h fam17h fam17h-m90 fam19h fam19h-m74 fam1ah
          fam10h,pvi=1 fam15h,current=0)
for p in "${profiles[@]}"; do
    for form in json text; do
        file=$golden/${p//[,=]/_}.$form
        args=(list); [ $form = json ] && args+=(--json)
        QUILM_SIM=$p "$QUILM" "${args[@]}" >"$WORK/out" 2>/dev/null || fail "$p: quilm list exits $?"
        if [ -n "${QUILM_UPDATE_GOLDEN:-}" ]; then cp "$WORK/out" "$file"; continue; fi
        diff -u "$file" "$WORK/out" || fail "$p: quilm list $form differs from $file"
    done
done
expect_exit 0 "$QUILM" --help
expect_exit 0 "$QUILM" --version
expect_exit 2 "$QUILM" bogus
expect_exit 2 env QUILM_SIM=fam10h "$QUILM" list --yaml
expect_exit 3 env QUILM_SIM=fam10h,init=fail "$QUILM" list
grep -q "quilm: couldn't init winring0" "$WORK/err" || fail "init failure not told: $(cat "$WORK/err")"
expect_exit 3 env QUILM_SIM=fam10h,pstates=1 "$QUILM" list
echo "quilm list: ${#profiles[@]} profiles as their goldens, exit codes as documented"
