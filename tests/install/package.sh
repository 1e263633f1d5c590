#!/usr/bin/env bash
# quilm installed as the Debian package installs it: a build of the package preset
# (prefix /usr, settings in /etc) installs every file into a temporary prefix and
# nothing outside it, the systemd directories included; systemd-analyze accepts the units
# (the apply unit with its crash guard, the confirm timer and its service), desktop-file-validate
# the desktop entry, the polkit DTD the action; the man page renders without warnings and
# names every word, option, exit code and variable; cpack makes a package of section
# admin whose Depends dpkg-shlibdeps computed, holding the same files and no
# maintainer script, on which lintian reports no error and no warning. A plain configure for
# the prefixes /usr and /usr/local points the unit at the system configuration folder. The
# build folder is kept between runs, so that a second run only rebuilds what changed.
# Usage: package.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# Fails unless file $1 has a line that is exactly $2.
has_line() { grep -qxF -- "$2" "$1" || fail "$(basename "$1"): no line '$2'"; }

(cd "$src" && cmake --preset package -B "$build" >"$work/configure.log") || fail "configure: $(cat "$work/configure.log")"
cmake --build "$build" -j2 --target quilm quilm_data >"$work/build.log" || fail "build: $(tail -20 "$work/build.log")"
grep -E -q -- '-DQUILM_SETTINGS_FILE=[\\"]+/etc/quilm\.cfg[\\"]+ .*/app/settings\.cpp' "$build/compile_commands.json" ||
    fail "quilm_app is not compiled with QUILM_SETTINGS_FILE=/etc/quilm.cfg"

# Installed into a temporary prefix: exactly these files, all of them inside it.
root=$work/root
cmake --install "$build" --prefix "$root/usr" >"$work/install.log" || fail "install: $(cat "$work/install.log")"
expected=(usr/bin/quilm usr/lib/modules-load.d/quilm.conf usr/lib/systemd/system/quilm.service
    usr/lib/systemd/system/quilm-confirm.service usr/lib/systemd/system/quilm-confirm.timer
    usr/libexec/quilm/quilm-pkexec usr/share/doc/quilm/copyright usr/share/doc/quilm/changelog.gz
    usr/share/lintian/overrides/quilm
    usr/lib/systemd/system/quilm-metrics.service
    usr/share/applications/quilm.desktop usr/share/man/man8/quilm.8.gz usr/share/polkit-1/actions/org.quilm.policy)
for size in 48 64 96 128 192 256; do expected+=("usr/share/icons/hicolor/${size}x$size/apps/quilm.png"); done
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
(cd "$root" && find . -type f -o -type l) | sed 's|^\./||' | sort >"$work/installed"
diff "$work/expected" "$work/installed" >&2 || fail "installed files differ from the list"
grep -v "^$root/usr/" "$build/install_manifest.txt" && fail "installed outside the prefix"
[ -x "$root/usr/bin/quilm" ] || fail "the program is not executable"
[ "$(cat "$root/usr/lib/modules-load.d/quilm.conf")" = msr ] || fail "modules-load.d/quilm.conf is not 'msr'"

# The units: their lines, and systemd-analyze's verdict on a root made of the install and
# systemd's own targets, with the man page there for Documentation=.
units=$root/usr/lib/systemd/system
unit=$units/quilm.service
targets="multi-user.target suspend.target hibernate.target hybrid-sleep.target suspend-then-hibernate.target"
for line in Type=oneshot "ExecStart=/usr/bin/quilm apply --unattended" "After=$targets" "WantedBy=$targets" \
    ConditionPathExists=/etc/quilm.cfg ConditionKernelCommandLine=!quilm.noapply StateDirectory=quilm \
    SuccessExitStatus=4 Also=quilm-confirm.timer "Documentation=man:quilm(8)"; do
    has_line "$unit" "$line"
done
for line in Type=oneshot "ExecStart=/usr/bin/quilm confirm" StateDirectory=quilm; do
    has_line "$units/quilm-confirm.service" "$line"
done
for line in OnBootSec=1min OnUnitActiveSec=1min WantedBy=timers.target; do
    has_line "$units/quilm-confirm.timer" "$line"
done
for u in quilm.service quilm-confirm.service quilm-confirm.timer; do
    grep -q '^Description=.' "$units/$u" || fail "$u has no Description"
done
grep -E -q 'RemainAfterExit|(^|[ =])sleep\.target' "$unit" && fail "the unit stays active or waits for sleep.target"
cp -n /lib/systemd/system/*.target "$units/"
MANPATH=$root/usr/share/man SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --root="$root" quilm.service \
    quilm-confirm.service quilm-confirm.timer >"$work/verify" 2>&1 || fail "systemd-analyze: $(cat "$work/verify")"
[ ! -s "$work/verify" ] || fail "systemd-analyze: $(cat "$work/verify")"
# The metrics unit: quilm watch into node_exporter's textfile folder, and systemd's verdict.
metrics_unit=$root/usr/lib/systemd/system/quilm-metrics.service
has_line "$metrics_unit" \
    "ExecStart=/usr/bin/quilm watch --interval 15 --textfile /var/lib/prometheus/node-exporter/quilm.prom"
MANPATH=$root/usr/share/man SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --root="$root" quilm-metrics.service \
    >"$work/verify" 2>&1 || fail "systemd-analyze: $(cat "$work/verify")"
[ ! -s "$work/verify" ] || fail "systemd-analyze: $(cat "$work/verify")"

# Without the package preset, an installed program still keeps its settings in the system
# configuration folder, and runs only from the install's bindir as installed.
for pair in /usr:/etc/quilm.cfg /usr/local:/usr/local/etc/quilm.cfg; do
    prefix=${pair%%:*} settings=${pair#*:}
    cmake -S "$src" -B "$work/plain$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" -DQUILM_TESTS=OFF -DQUILM_BENCH=OFF \
        >"$work/plain.log" 2>&1 || fail "configure for $prefix: $(cat "$work/plain.log")"
    has_line "$work/plain$prefix/dist/quilm.service" "ConditionPathExists=$settings"
    grep -q -- "-DQUILM_INSTALLED_BINDIR=[\\\"]*$prefix/bin[\\\"]* .*-DQUILM_SETTINGS_FILE=[\\\"]*$settings" \
        "$work/plain$prefix/compile_commands.json" || fail "the program of prefix $prefix does not use $settings"
done

# The desktop entry and the polkit action.
desktop=$root/usr/share/applications/quilm.desktop
desktop-file-validate "$desktop" >"$work/desktop" 2>&1 || fail "desktop-file-validate: $(cat "$work/desktop")"
grep -E 'error|warning' "$work/desktop" && fail "desktop-file-validate complains"
has_line "$root/usr/libexec/quilm/quilm-pkexec" 'exec pkexec /usr/bin/quilm "$@"'
for line in Exec=/usr/libexec/quilm/quilm-pkexec Icon=quilm Terminal=false "Categories=System;Settings;"; do
    has_line "$desktop" "$line"
done
policy=$root/usr/share/polkit-1/actions/org.quilm.policy
xmllint --noout --dtdvalid /usr/share/polkit-1/policyconfig-1.dtd "$policy" || fail "the polkit action is not valid"
grep -q '<annotate key="org.freedesktop.policykit.exec.path">/usr/bin/quilm</annotate>' "$policy" || fail "exec.path"
grep -q '<annotate key="org.freedesktop.policykit.exec.allow_gui">true</annotate>' "$policy" || fail "allow_gui"
[ "$(grep -c '>auth_admin</allow_' "$policy")" = 3 ] && ! grep -q '>yes<' "$policy" || fail "not auth_admin everywhere"

# The icons: PNGs of their size, the larger ones the drawn ones with every pixel repeated.
icons=$root/usr/share/icons/hicolor
for size in 48 64 96 128 192 256; do
    file -b "$icons/${size}x$size/apps/quilm.png" | grep -q "PNG image data, $size x $size, 8-bit/color RGBA" ||
        fail "icon $size: $(file -b "$icons/${size}x$size/apps/quilm.png")"
done
for pair in 48:96 64:128 64:192 64:256; do
    small=${pair%:*} big=${pair#*:}
    convert "$icons/${small}x$small/apps/quilm.png" -scale "$((big / small * 100))%" "$work/scaled.png"
    differ=$(compare -metric AE "$work/scaled.png" "$icons/${big}x$big/apps/quilm.png" null: 2>&1) || true
    [ "$differ" = 0 ] || fail "icon $big is not icon $small enlarged ($differ pixels differ)"
done

# The man page: no warnings, and every word, option, exit code, file and variable named.
LC_ALL=C MANWIDTH=80 man --warnings -l "$root/usr/share/man/man8/quilm.8.gz" >"$work/man" 2>"$work/man.err" ||
    fail "man: $(cat "$work/man.err")"
[ ! -s "$work/man.err" ] || fail "man warns: $(cat "$work/man.err")"
text=$(tr -s ' \n' '  ' <"$work/man")
for want in "quilm load" "quilm list [--json]" "quilm apply [FILE] [--dry-run] [-v] [--unattended]" "quilm save [FILE]" \
    "quilm check" "quilm confirm [--after SECONDS]" "quilm rearm" quilm.noapply systemd.mask=quilm.service \
    QUILM_STATE_DIR QUILM_SYSTEM_ROOT /var/lib/quilm "cold" "--help" "--version" "P2 C0010066: 800000004C960C60 -> 800000004C960C40" "CAP_SYS_RAWIO" \
    "msr.allow_writes" "lockdown" /etc/quilm.cfg "beside the executable" QUILM_SIM_STATE QUILM_SCALE \
    "fam19h,cores=128" "systemctl enable --now quilm.service" "systemctl status quilm" "journalctl -u quilm" \
    "xhost +SI:localuser:root" "apt install ./build/package/quilm_*.deb" /usr/lib/systemd/system/quilm.service; do
    [[ $text == *"$want"* ]] || fail "the man page does not say '$want'"
done
for profile in fam10h fam11h fam12h fam14h fam15h fam15h-m01 fam16h fam17h fam17h-m90 fam19h fam19h-m74 fam1ah \
    cores= pstates= boost= current= reject= init=fail driver=error pvi= boostsrc= pll=; do
    [[ $text == *" $profile"* ]] || fail "the man page does not name the simulator's $profile"
done
for code in 0 1 2 3 4; do grep -qx " *$code *[A-Z].*" "$work/man" || fail "the man page does not explain exit code $code"; done

# The Debian package.
rm -f "$build"/quilm_*.deb
cmake --build "$build" --target package-deb >"$work/cpack.log" 2>&1 || fail "cpack: $(cat "$work/cpack.log")"
debs=("$build"/quilm_*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "no single quilm_*.deb"
deb=${debs[0]}
[ "$(dpkg-deb -f "$deb" Section)" = admin ] || fail "section $(dpkg-deb -f "$deb" Section)"
[ "$(dpkg-deb -f "$deb" Priority)" = optional ] || fail "priority $(dpkg-deb -f "$deb" Priority)"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] && [ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "no maintainer or description"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *"libc6 (>= "* && $depends == *"libsdl2-2.0-0 (>= "* ]] || fail "Depends not computed: '$depends'"
[[ ", $depends," == *", pkexec,"* ]] || fail "Depends has no pkexec: '$depends'"
[[ $(dpkg-deb -f "$deb" Maintainer) != *localhost* ]] || fail "maintainer $(dpkg-deb -f "$deb" Maintainer)"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort >"$work/packaged"
diff "$work/expected" "$work/packaged" >&2 || fail "the package holds other files than the install"
dpkg-deb -x "$deb" "$work/unpacked"
cmp "$unit" "$work/unpacked/usr/lib/systemd/system/quilm.service" || fail "the packaged unit differs"
dpkg-deb -e "$deb" "$work/control"
for script in preinst postinst prerm postrm config triggers; do
    [ ! -e "$work/control/$script" ] || fail "the package has a $script"
done
# Debian's own checker, at its default level: no error, no warning.
lintian "$deb" >"$work/lintian" 2>&1 || fail "lintian: $(cat "$work/lintian")"
grep -E '^[EW]: ' "$work/lintian" && fail "lintian complains"
echo PASS
