#!/usr/bin/env bash
# Checks of the installed program and of the Debian package, run by CTest (tests/install/CMakeLists.txt).
#
# Usage: check.sh STEP
#   setup      cmake --install into a fresh DESTDIR (the fixture the next steps use)
#   tree       every file is where the desktop expects it, and no source-tree path is in the programs
#   validate   desktop-file-validate and appstreamcli find nothing
#   man        both man pages render without a warning and tell the options
#   version    bin/maru --version and bin/maruview --version print the project version
#   convert    the installed maru converts the installed examples
#   demo       the installed maruview --demo runs the installed maru on the installed examples
#   service    the logger's and the virtual meter's units pass systemd-analyze verify, rate 4.0
#              or lower in systemd-analyze security and have the keys an administrator relies
#              on; the sysusers entry makes the user they run as
#   package    cpack builds the .deb; unpacked, it has the same tree and its programs run;
#              lintian finds no error; its maintainer scripts, run against a scratch root with
#              systemctl recorded, stop, restart and clean up what they should
#   clean      removes the DESTDIR
# Environment (set by CTest): MARU_SOURCE_DIR MARU_BUILD_DIR MARU_VERSION MARU_APP_ID
#   MARU_INSTALL_ROOT (the DESTDIR) CMAKE_COMMAND CPACK_COMMAND
set -uo pipefail

step=${1:?usage: check.sh STEP}
for v in MARU_SOURCE_DIR MARU_BUILD_DIR MARU_VERSION MARU_APP_ID MARU_INSTALL_ROOT; do
  if [ -z "${!v:-}" ]; then
    echo "check.sh: $v is not set" >&2
    exit 2
  fi
done
prefix=/usr
installed=$MARU_INSTALL_ROOT$prefix
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
finish() {
  if [ "$failures" -gt 0 ]; then
    echo "$step: $failures check(s) failed" >&2
    exit 1
  fi
  echo "$step: all checks passed"
  exit 0
}
need_tool() {
  if ! command -v "$1" >/dev/null 2>&1; then
    echo "FAIL: '$1' is not installed (scripts/deps installs it)" >&2
    exit 1
  fi
}
need_install() {
  if [ ! -d "$installed" ]; then
    echo "FAIL: nothing installed in $MARU_INSTALL_ROOT (the install step failed or did not run)" >&2
    exit 1
  fi
}
scratch() {
  local d
  d=$(mktemp -d "${TMPDIR:-/tmp}/maru-install-check.XXXXXX") || exit 1
  echo "$d"
}

# True when FILE holds TEXT as UTF-8 or as UTF-16LE (how QStringLiteral stores it).
contains_text() {
  local file=$1 text=$2 utf16
  LC_ALL=C grep -q -a -F -- "$text" "$file" && return 0
  utf16=$(printf '%s' "$text" | od -An -v -tx1 | tr -s ' \n' '\n\n' | sed '/^$/d; s/.*/\\x&\\x00/' | tr -d '\n')
  LC_ALL=C grep -q -a -P -- "$utf16" "$file"
}

# Checks the installed tree under ROOT (a prefix: ROOT/bin, ROOT/share).
check_tree() {
  local root=$1 f size
  for f in bin/maruview bin/maru; do
    [ -x "$root/$f" ] || fail "$root/$f is missing or not executable"
  done
  local examples=0
  for f in "$MARU_SOURCE_DIR"/examples/*.dev "$MARU_SOURCE_DIR"/examples/*.raw "$MARU_SOURCE_DIR"/examples/*.eng; do
    [ -e "$f" ] || continue
    examples=$((examples + 1))
    cmp -s "$f" "$root/share/maruview/examples/$(basename "$f")" ||
      fail "share/maruview/examples/$(basename "$f") is missing or differs from examples/$(basename "$f")"
  done
  [ "$examples" -gt 0 ] || fail "no examples found in $MARU_SOURCE_DIR/examples"
  [ -f "$root/share/applications/$MARU_APP_ID.desktop" ] || fail "share/applications/$MARU_APP_ID.desktop is missing"
  [ -f "$root/share/metainfo/$MARU_APP_ID.metainfo.xml" ] || fail "share/metainfo/$MARU_APP_ID.metainfo.xml is missing"
  f=$root/share/icons/hicolor/scalable/apps/$MARU_APP_ID.svg
  if [ ! -f "$f" ]; then
    fail "the scalable icon $f is missing"
  elif ! file -b "$f" | grep -q 'SVG'; then
    fail "$f is not an SVG image: $(file -b "$f")"
  fi
  for size in 16 22 24 32 48 64 128 256; do
    f=$root/share/icons/hicolor/${size}x${size}/apps/$MARU_APP_ID.png
    if [ ! -f "$f" ]; then
      fail "the ${size}x${size} icon is missing ($f)"
    elif ! file -b "$f" | grep -q "^PNG image data, $size x $size,"; then
      fail "$f is not a ${size}x${size} PNG: $(file -b "$f")"
    fi
  done
  for f in maruview maru; do
    [ -s "$root/share/man/man1/$f.1.gz" ] || fail "share/man/man1/$f.1.gz is missing or empty"
  done
  [ -s "$root/share/doc/maruview/copyright" ] || fail "share/doc/maruview/copyright is missing"
  [ -s "$root/share/doc/maruview/changelog.gz" ] || fail "share/doc/maruview/changelog.gz is missing"
  # The logger as a service: its unit, its user, and a meter's configuration to copy.
  cmp -s "$MARU_SOURCE_DIR/data/systemd/maru-log@.service" "$root/lib/systemd/system/maru-log@.service" ||
    fail "lib/systemd/system/maru-log@.service is missing or differs"
  cmp -s "$MARU_SOURCE_DIR/data/systemd/maru-log.sysusers" "$root/lib/sysusers.d/maru-log.conf" ||
    fail "lib/sysusers.d/maru-log.conf is missing or differs"
  for f in lib/systemd/system/maru-sim@.service lib/systemd/system/maru-log@sim.service.d/simulator.conf \
           share/maruview/examples/systemd/meter.conf share/maruview/examples/systemd/sim.conf \
           share/doc/maruview/README.service share/man/man8/maru-log@.service.8.gz; do
    [ -s "$root/$f" ] || fail "$f is missing or empty"
  done
}

# Runs the maintainer scripts in CONTROL against a scratch root under DIR (DPKG_ROOT), with
# systemctl, deb-systemd-invoke and systemd-sysusers recorded instead of run.
check_maintainer_scripts() {
  local control=$1 dir=$2 script calls r wants
  for script in postinst prerm postrm; do
    [ -x "$control/$script" ] || { fail "the package has no executable $script"; continue; }
    sh -n "$control/$script" || fail "$script is not valid sh"
  done
  r=$dir/root
  calls=$dir/calls
  wants=$r/etc/systemd/system/multi-user.target.wants
  mkdir -p "$dir/bin" "$r/run/systemd/system" "$wants" "$r/var/log/maru-log" "$r/var/lib/maru-log/ship1"
  for tool in systemctl deb-systemd-invoke systemd-sysusers; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$tool" "$calls" >"$dir/bin/$tool"
    chmod +x "$dir/bin/$tool"
  done
  ln -s /lib/systemd/system/maru-log@.service "$wants/maru-log@ship1.service"
  ln -s /lib/systemd/system/other.service "$wants/other.service"
  echo data >"$r/var/lib/maru-log/ship1/20261208.raw"
  run() {
    : >"$calls"
    PATH=$dir/bin:$PATH DPKG_ROOT=$r sh "$control/$1" "${@:2}" || fail "$* exited $?"
  }
  run postinst configure
  [ -d "$r/etc/maru" ] || fail "postinst configure did not make /etc/maru"
  grep -q "try-restart" "$calls" && fail "a first install restarts loggers: $(cat "$calls")"
  run postinst configure 1.0
  grep -q "try-restart maru-log@\*.service" "$calls" || fail "an upgrade does not restart the running loggers: $(cat "$calls")"
  run prerm upgrade 1.1
  grep -q "stop" "$calls" && fail "prerm upgrade stops the loggers: $(cat "$calls")"
  run prerm remove
  grep -q "stop maru-log@\*.service" "$calls" || fail "prerm remove does not stop the loggers: $(cat "$calls")"
  run postrm remove
  [ -L "$wants/maru-log@ship1.service" ] || fail "postrm remove took an instance's enablement link"
  echo "MARU_PORT=/dev/ttyUSB0" >"$r/etc/maru/ship1.conf"
  run postrm purge
  [ -L "$wants/maru-log@ship1.service" ] && fail "postrm purge left the enablement link of maru-log@ship1"
  [ -L "$wants/other.service" ] || fail "postrm purge took another package's enablement link"
  [ -e "$r/var/log/maru-log" ] && fail "postrm purge left the empty /var/log/maru-log"
  [ -s "$r/var/lib/maru-log/ship1/20261208.raw" ] || fail "postrm purge took the logged data"
  [ -s "$r/etc/maru/ship1.conf" ] || fail "postrm purge took the administrator's configuration"
  rm "$r/etc/maru/ship1.conf"
  run postrm purge
  [ -e "$r/etc/maru" ] && fail "postrm purge left the empty /etc/maru"
}

case "$step" in
  setup)
    need_tool file
    rm -rf "$MARU_INSTALL_ROOT"
    if ! DESTDIR=$MARU_INSTALL_ROOT "${CMAKE_COMMAND:-cmake}" --install "$MARU_BUILD_DIR" --prefix "$prefix" >"$MARU_INSTALL_ROOT.log" 2>&1; then
      cat "$MARU_INSTALL_ROOT.log" >&2
      fail "cmake --install into $MARU_INSTALL_ROOT failed"
    fi
    # Everything goes under the prefix: nothing may land elsewhere in the DESTDIR.
    stray=$(find "$MARU_INSTALL_ROOT" -mindepth 1 -maxdepth 1 ! -name "${prefix#/}")
    [ -z "$stray" ] || fail "installed outside $prefix: $stray"
    finish
    ;;

  tree)
    need_tool file
    need_install
    check_tree "$installed"
    # The demo's examples are found from the executable's place, never from a built-in path.
    for f in maruview maru; do
      if contains_text "$installed/bin/$f" "$MARU_SOURCE_DIR/examples"; then
        fail "bin/$f has the source tree's examples folder ($MARU_SOURCE_DIR/examples) built in"
      fi
    done
    [ ! -e "$installed/bin/maruview-examples.path" ] || fail "the build tree's maruview-examples.path was installed"
    finish
    ;;

  validate)
    need_tool desktop-file-validate
    need_tool appstreamcli
    need_install
    desktop=$installed/share/applications/$MARU_APP_ID.desktop
    if ! out=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$out" ]; then
      fail "desktop-file-validate $desktop:"$'\n'"$out"
    fi
    metainfo=$installed/share/metainfo/$MARU_APP_ID.metainfo.xml
    if ! out=$(appstreamcli validate --no-net --no-color "$metainfo" 2>&1) || grep -q '^ *[EWI]:' <<<"$out"; then
      fail "appstreamcli validate $metainfo:"$'\n'"$out"
    fi
    # The whole tree: the metainfo's launchable must name the installed desktop entry and
    # the entry's icon must be installed.
    if ! out=$(appstreamcli validate-tree --no-net --no-color "$installed" 2>&1) || grep -q '^ *[EWI]:' <<<"$out"; then
      fail "appstreamcli validate-tree $installed:"$'\n'"$out"
    fi
    finish
    ;;

  man)
    need_tool man
    need_install
    for page in maruview maru; do
      f=$installed/share/man/man1/$page.1.gz
      [ -s "$f" ] || { fail "$f is missing"; continue; }
      if ! text=$(LC_ALL=C.UTF-8 MANPAGER=cat MANWIDTH=80 man --warnings -E UTF-8 -l "$f" 2>"$f.err"); then
        fail "man -l $f failed: $(cat "$f.err")"
      elif [ -s "$f.err" ]; then
        fail "man -l $f warns:"$'\n'"$(cat "$f.err")"
      fi
      rm -f "$f.err"
      grep -q "^NAME" <<<"$text" || fail "$page.1 has no NAME section"
      grep -q "$page - " <<<"$text" || fail "$page.1 NAME does not say what $page is"
      grep -q -- "--version" <<<"$text" || fail "$page.1 does not tell --version (was it made from --help?)"
      grep -q "$page $MARU_VERSION" <<<"$text" || fail "$page.1 does not carry version $MARU_VERSION"
    done
    grep -q -- "--demo" <<<"$(MANPAGER=cat man -l "$installed/share/man/man1/maruview.1.gz" 2>/dev/null)" ||
      fail "maruview.1 does not tell --demo"
    # Every option every help shows is in the pages (made from those helps, they cannot drift).
    maru_page=$(MANPAGER=cat MANWIDTH=200 man -l "$installed/share/man/man1/maru.1.gz" 2>/dev/null)
    maruview_page=$(MANPAGER=cat MANWIDTH=200 man -l "$installed/share/man/man1/maruview.1.gz" 2>/dev/null)
    for command in sim convert ports log; do
      for option in $("$installed/bin/maru" "$command" --help 2>/dev/null | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u); do
        grep -qF -- "$option" <<<"$maru_page" || fail "maru.1 does not tell 'maru $command $option'"
      done
      [ "$("$installed/bin/maru" help "$command" 2>&1)" = "$("$installed/bin/maru" "$command" --help 2>&1)" ] ||
        fail "'maru help $command' is not 'maru $command --help'"
    done
    for option in $("$installed/bin/maruview" --help 2>/dev/null | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u); do
      grep -qF -- "$option" <<<"$maruview_page" || fail "maruview.1 does not tell $option"
    done
    grep -q "^EXAMPLES" <<<"$maru_page" || fail "maru.1 has no examples"
    f=$installed/share/man/man8/maru-log@.service.8.gz
    if ! text=$(LC_ALL=C.UTF-8 MANPAGER=cat MANWIDTH=80 man --warnings -E UTF-8 -l "$f" 2>&1 >/dev/null) || [ -n "$text" ]; then
      fail "man -l $f warns or fails: $text"
    fi
    text=$(MANPAGER=cat MANWIDTH=200 man -l "$f" 2>/dev/null)
    for word in /etc/maru/NAME.conf dialout DeviceAllow=char- maru-sim@ "-p warning"; do
      grep -qF -- "$word" <<<"$text" || fail "maru-log@.service.8 does not tell '$word'"
    done
    grep -q "convert" <<<"$(MANPAGER=cat man -l "$installed/share/man/man1/maru.1.gz" 2>/dev/null)" ||
      fail "maru.1 does not tell the convert command"
    finish
    ;;

  version)
    need_install
    # "NAME 1.13", then " (git describe)" when built from a git checkout.
    expected_describe=
    if [ -e "$MARU_SOURCE_DIR/.git" ] && command -v git >/dev/null 2>&1 &&
       git -C "$MARU_SOURCE_DIR" --no-optional-locks rev-parse HEAD >/dev/null 2>&1; then
      expected_describe=yes
    fi
    declare -A said
    for exe in maru maruview; do
      if ! out=$(cd / && "$installed/bin/$exe" --version 2>/dev/null); then
        fail "bin/$exe --version failed"
        continue
      fi
      said[$exe]=${out#"$exe "}
      first=$(head -n 1 <<<"$out")
      if [ "$(wc -l <<<"$out")" -ne 1 ]; then
        fail "bin/$exe --version printed more than one line: $out"
      fi
      if [ -n "$expected_describe" ]; then
        re="^$exe ${MARU_VERSION//./\\.} \([^()[:space:]]+\)$"
      else
        re="^$exe ${MARU_VERSION//./\\.}$"
      fi
      [[ $first =~ $re ]] || fail "bin/$exe --version printed '$first'; wanted a match for '$re'"
    done
    [ "${said[maru]:-}" = "${said[maruview]:-}" ] ||
      fail "the two programs disagree on the version: maru '${said[maru]:-}', maruview '${said[maruview]:-}'"
    finish
    ;;

  convert)
    need_install
    work=$(scratch)
    trap 'rm -rf "$work"' EXIT
    examples=$installed/share/maruview/examples
    converted=0
    for dev in "$examples"/*.dev; do
      name=$(basename "$dev" .dev)
      [ -f "$examples/$name.raw" ] || continue
      converted=$((converted + 1))
      # From a folder outside both trees, with the installed files only.
      if ! (cd "$work" && "$installed/bin/maru" convert --dev "$dev" "$examples/$name.raw" -o "$work/$name.eng" 2>"$work/$name.err"); then
        fail "maru convert $name failed: $(cat "$work/$name.err")"
        continue
      fi
      out=$work/$name.eng
      header=$(head -n 1 "$out")
      [[ $header == Count$'\t'Date$'\t'Time$'\t'* ]] || fail "$name.eng header is '$header'"
      fields=$(awk -F '\t' 'NR == 1 { print NF }' "$out")
      lines=$(awk -F '\t' -v n="$fields" 'NR > 1 && NF == n && $1 ~ /^[0-9]+$/ { k++ } END { print k + 0 }' "$out")
      total=$(($(wc -l <"$out") - 1))
      [ "$lines" -gt 0 ] || fail "$name.eng has no data lines"
      [ "$lines" -eq "$total" ] || fail "$name.eng: $((total - lines)) of $total lines do not match the header's $fields fields"
      if [ -f "$examples/$name.eng" ] && ! cmp -s "$out" "$examples/$name.eng"; then
        fail "$name.eng differs from the installed example $name.eng"
      fi
    done
    [ "$converted" -gt 0 ] || fail "no example pair (.dev + .raw) installed in $examples"
    finish
    ;;

  demo)
    need_install
    work=$(scratch)
    "$installed/bin/maruview" --demo >"$work/out" 2>&1 &
    pid=$!
    sim=
    cmdline=
    # Right after the fork the child still shows maruview's command line: wait for the exec.
    for _ in $(seq 1 150); do
      kill -0 "$pid" 2>/dev/null || break
      for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
        sim=$child
        cmdline=$(tr '\0' ' ' </proc/"$child"/cmdline 2>/dev/null)
      done
      [[ $cmdline == *" sim "* ]] && break
      sleep 0.1
    done
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      fail "maruview --demo ended (status $?) instead of running:"$'\n'"$(cat "$work/out")"
    elif [[ $cmdline != *" sim "* ]]; then
      fail "maruview --demo started no virtual meter in 15 s (last child: '$cmdline'):"$'\n'"$(cat "$work/out")"
    else
      want="$installed/bin/maru sim --dev $installed/share/maruview/examples/bb3.dev "
      [[ $cmdline == "$want"* ]] || fail "maruview --demo ran '$cmdline'; wanted '$want...'"
    fi
    [ -n "$sim" ] && kill "$sim" 2>/dev/null
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    rm -rf "$work"
    finish
    ;;

  service)
    need_tool systemd-analyze
    need_install
    work=$(scratch)
    trap 'rm -rf "$work"' EXIT
    unit=$installed/lib/systemd/system/maru-log@.service
    sim=$installed/lib/systemd/system/maru-sim@.service
    # Instances of the installed units, their program where the DESTDIR put it.
    for u in "$unit" "$sim"; do
      name=$(basename "$u" .service)check.service
      sed "s|/usr/bin/maru |$installed/bin/maru |" "$u" >"$work/$name"
      if ! out=$(systemd-analyze verify --man=no "$work/$name" 2>&1) || [ -n "$out" ]; then
        fail "systemd-analyze verify $(basename "$u"):"$'\n'"$out"
      fi
      if ! out=$(systemd-analyze security --offline=true --threshold=40 "$work/$name" 2>&1); then
        fail "systemd-analyze security rates $(basename "$u") above 4.0:"$'\n'"$(tail -n 1 <<<"$out")"
      fi
    done
    grep -q "ExecStart=/usr/bin/maru log " "$unit" || fail "the unit does not run the installed maru log"
    grep -q "network-online" "$unit" && fail "the unit waits for the network"
    # A missing configuration fails the start, a configuration error (2) ends in "failed",
    # the journal names the instance, on-board UARTs are allowed.
    for line in EnvironmentFile=/etc/maru/%i.conf AssertPathExists=/etc/maru/%i.conf User=maru-log \
                RestartPreventExitStatus=2 SyslogIdentifier=maru-log@%i \
                "DeviceAllow=char-ttyUSB rw" "DeviceAllow=char-ttyAMA rw" "DeviceAllow=char-ttymxc rw"; do
      grep -qxF "$line" "$unit" || fail "the unit lacks '$line'"
    done
    grep -q "^ConditionPathExists=" "$unit" && fail "a missing configuration would only skip the start"
    # The virtual meter's link is under /run (the logger's /tmp is private), and the instance
    # "sim" of the logger reads it.
    grep -q -- "--link /run/maru-sim/%i/" "$sim" || fail "maru-sim@.service links its meter elsewhere than /run/maru-sim"
    grep -q "^MARU_PORT=/run/maru-sim/sim/" "$installed/share/maruview/examples/systemd/sim.conf" ||
      fail "sim.conf does not read maru-sim@sim's link"
    grep -qxF "DeviceAllow=char-pts rw" "$installed/lib/systemd/system/maru-log@sim.service.d/simulator.conf" ||
      fail "maru-log@sim may not open the virtual meter's pseudo-terminal"
    # The sysusers entry makes that user, in the serial ports' group.
    mkdir -p "$work/root/etc"
    : >"$work/root/etc/passwd"
    : >"$work/root/etc/group"
    echo "dialout:x:20:" >"$work/root/etc/group"
    if command -v systemd-sysusers >/dev/null 2>&1; then
      if ! out=$(systemd-sysusers --root="$work/root" "$installed/lib/sysusers.d/maru-log.conf" 2>&1); then
        fail "systemd-sysusers maru-log.conf: $out"
      fi
      grep -q "^maru-log:" "$work/root/etc/passwd" || fail "sysusers made no maru-log user"
      grep -q "^dialout:x:20:.*maru-log" "$work/root/etc/group" || fail "maru-log is not in dialout"
    fi
    # The example configuration names what the unit reads.
    conf=$installed/share/maruview/examples/systemd/meter.conf
    for key in MARU_PORT MARU_DEVICE_FILE MARU_OPTIONS; do
      grep -q "^$key=" "$conf" || fail "meter.conf does not set $key"
    done
    finish
    ;;

  package)
    need_tool dpkg-deb
    need_tool dpkg-shlibdeps
    need_tool file
    work=$(scratch)
    trap 'rm -rf "$work"' EXIT
    # Packs what the build folder has built (CPack installs it into its own staging folder).
    if ! "${CPACK_COMMAND:-cpack}" -G DEB --config "$MARU_BUILD_DIR/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
      cat "$work/cpack.log" >&2
      fail "cpack -G DEB failed"
      finish
    fi
    debs=("$work"/*.deb)
    if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then
      fail "cpack made ${#debs[@]} .deb files: ${debs[*]}"
      finish
    fi
    deb=${debs[0]}
    [ "$(dpkg-deb -f "$deb" Package)" = maruview ] || fail "package name is '$(dpkg-deb -f "$deb" Package)'"
    [ "$(dpkg-deb -f "$deb" Version)" = "$MARU_VERSION" ] || fail "package version is '$(dpkg-deb -f "$deb" Version)'"
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "the package has no Maintainer"
    depends=$(dpkg-deb -f "$deb" Depends)
    if [ -z "$depends" ]; then
      fail "the package's Depends is empty (dpkg-shlibdeps did not run)"
    else
      # From shlibdeps: the C library, and Qt for both programs.
      for lib in libc6 libstdc++6 libqt6core6 libqt6widgets6 libqt6serialport6; do
        grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib: $depends"
      done
    fi
    mkdir "$work/x"
    dpkg-deb -x "$deb" "$work/x" || fail "dpkg-deb -x $deb failed"
    check_tree "$work/x/usr"
    # lintian finds no error (what it warns of is printed).
    need_tool lintian
    out=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v "running with root privileges" || true)
    if grep -q "^E: " <<<"$out"; then
      fail "lintian reports errors:"$'\n'"$out"
    elif [ -n "$out" ]; then
      echo "lintian: $out"
    fi
    changelog_version=$(zcat "$work/x/usr/share/doc/maruview/changelog.gz" 2>/dev/null | head -n 1 | sed -n 's/^maruview (\([^)]*\)).*/\1/p')
    [ "$changelog_version" = "$MARU_VERSION" ] ||
      fail "the changelog's latest entry is '$changelog_version', the package's version $MARU_VERSION"
    # The logger's user is made when the package is installed.
    mkdir "$work/control"
    dpkg-deb -e "$deb" "$work/control" || fail "dpkg-deb -e $deb failed"
    grep -q "systemd-sysusers maru-log.conf" "$work/control/postinst" 2>/dev/null ||
      fail "the package's postinst does not make the maru-log user"
    check_maintainer_scripts "$work/control" "$work/dry"
    out=$("$work/x/usr/bin/maru" --version 2>&1) || fail "unpacked maru --version failed: $out"
    [[ $out == "maru $MARU_VERSION"* ]] || fail "unpacked maru --version printed '$out'"
    out=$("$work/x/usr/bin/maruview" --version 2>/dev/null) || fail "unpacked maruview --version failed"
    [[ $out == "maruview $MARU_VERSION"* ]] || fail "unpacked maruview --version printed '$out'"
    ex=$work/x/usr/share/maruview/examples
    if ! (cd "$work" && "$work/x/usr/bin/maru" convert --dev "$ex/bb3.dev" "$ex/bb3.raw" -o "$work/bb3.eng" 2>"$work/convert.err"); then
      fail "unpacked maru convert failed: $(cat "$work/convert.err")"
    elif [ "$(wc -l <"$work/bb3.eng")" -lt 2 ] || [[ $(head -n 1 "$work/bb3.eng") != Count$'\t'* ]]; then
      fail "unpacked maru convert wrote no header and lines: $(head -n 3 "$work/bb3.eng")"
    fi
    finish
    ;;

  clean)
    rm -rf "$MARU_INSTALL_ROOT" "$MARU_INSTALL_ROOT.log"
    finish
    ;;

  *)
    echo "check.sh: unknown step '$step'" >&2
    exit 2
    ;;
esac
