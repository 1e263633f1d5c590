#!/usr/bin/env bash
# Start-up failures of the Windows program under Wine: each shows its message box
# captioned "error!?" over the main window and ends with exit code 0 once answered,
# and the ones the simulated library cannot explain itself are named on stderr.
source "$(dirname "$0")/lib.bash"
start_wine
with_dll=$(make_app_dir dll)
without_dll=$(make_app_dir)

# QUILM_SIM (empty: unset), the folder quilm.exe starts from, and what stderr must say: the
# simulated library's own failures (access refused, driver error, one P-state), a profile it does
# not know, no QUILM_SIM at all, and no library beside quilm.exe.
while IFS='|' read -r -u 3 sim dir said; do
    if [ -n "$sim" ]; then export QUILM_SIM=$sim; else unset QUILM_SIM; fi
    start_quilm "${!dir}"
    wait_window '^QUILM \(manual\)$' >/dev/null
    answer_box 'error!\?'
    expect_exit_0 "${sim:-no QUILM_SIM} from $dir"
    [ -z "$said" ] || grep -q "$said" "$WORK/stderr" || fail "${sim:-no QUILM_SIM} from $dir: stderr does not say /$said/"
done 3<<CASES
fam10h,init=fail|with_dll|
fam15h,driver=error|with_dll|
fam15h,pstates=1|with_dll|
nosuchprofile|with_dll|nosuchprofile
|with_dll|QUILM_SIM
fam15h|without_dll|cannot load .*$DLL
CASES
echo PASS
