#!/usr/bin/env bash
# Start-up failures of the Windows program under Wine: each shows its message box
# captioned "error!?" over the main window and ends with exit code 0 once answered.
source "$(dirname "$0")/lib.bash"
start_wine

with_dll=$(make_app_dir dll)
without_dll=$(make_app_dir)

# expect_failure LABEL DIR: quilm.exe from DIR shows the main window, then the error box.
expect_failure() {
    start_quilm "$2"
    wait_window '^QUILM \(manual\)$' >/dev/null
    answer_box 'error!\?'
    expect_exit_0 "$1"
}

# The simulated library's own failures: hardware access refused, driver error, one P-state.
for sim in "fam10h,init=fail" "fam15h,driver=error" "fam15h,pstates=1"; do
    export QUILM_SIM=$sim
    expect_failure "$sim" "$with_dll"
done

# A profile the simulator does not know: InitializeOls fails, and stderr names the culprit.
export QUILM_SIM=nosuchprofile
expect_failure "$QUILM_SIM" "$with_dll"
grep -q nosuchprofile "$WORK/stderr" || fail "an unknown profile is not named on stderr"

# The simulated library without QUILM_SIM has no processor to show, and says so.
unset QUILM_SIM
expect_failure "no QUILM_SIM" "$with_dll"
grep -q 'QUILM_SIM' "$WORK/stderr" || fail "without QUILM_SIM nothing is said on stderr"

# No library at all beside quilm.exe (QUILM_SIM set, so only the missing file can be the cause).
export QUILM_SIM=fam15h
expect_failure "no $DLL" "$without_dll"
grep -q "cannot load .*$DLL" "$WORK/stderr" || fail "a missing $DLL is not named on stderr"
echo PASS
