#!/usr/bin/env bash
# tst_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "-- $*"; }

step "install into a temporary prefix"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
cli=$prefix/bin/vaultora-cli
for f in bin/vaultora-cli share/vaultora/transl.dt share/vaultora/~transl.dt share/vaultora/mcs.dt \
         share/vaultora/excluded-directories.txt "share/vaultora/AppDataBackupPaths/Desktop settings.adp" \
         share/man/man1/vaultora-cli.1 \
         share/bash-completion/completions/vaultora-cli lib/systemd/user/vaultora-scheduler.service; do
    [[ -e $prefix/$f ]] || fail "not installed: $f"
done
grep -qx "ExecStart=$(grep -o '^CMAKE_INSTALL_PREFIX:PATH=.*' "$build/CMakeCache.txt" | cut -d= -f2)/bin/vaultora-cli run-scheduler" \
    "$prefix/lib/systemd/user/vaultora-scheduler.service" || fail "the scheduler unit names another vaultora-cli"

step "the installed program finds its shipped files and runs a backup and a restore"
grep -qx "program files: $prefix/share/vaultora" <<<"$("$cli" --version)" || fail "$("$cli" --version)"
grep -q '^  restore NAME' <<<"$("$cli" --help)" || fail "--help lists no commands"
grep -q 'Runs a job now' <<<"$("$cli" help backup)" || fail "help backup"
export HOME=$work/home XDG_DATA_HOME=$work/home/data XDG_CONFIG_HOME=$work/home/config XDG_CACHE_HOME=$work/home/cache
mkdir -p "$work/src/sub" "$work/dst" "$HOME"
printf 'one\n' >"$work/src/a.txt"
printf 'two\n' >"$work/src/sub/b.txt"
"$cli" new Demo --source "$work/src" --to "$work/dst" --type full >/dev/null
"$cli" backup Demo >/dev/null
"$cli" restore Demo --to "$work/out" --latest >/dev/null
diff -r "$work/src" "$work/out/src" >/dev/null || fail "the restored tree differs"
# The default excluded folders of new options come from the shipped list.
grep -qx 'ExcludedDirs\[[0-9]*\]: /proc' <<<"$("$cli" options)" || fail "the shipped excluded folders were not read"

step "desktop files, AppStream metadata and manual pages validate"
if [[ -e $prefix/bin/vaultora ]]; then
    desktop=$prefix/share/applications/org.vaultora.Vaultora.desktop
    [[ -e $desktop ]] || fail "no desktop entry"
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" || fail "desktop entry"
    fi
    appstreamcli validate --no-net "$prefix/share/metainfo/org.vaultora.Vaultora.metainfo.xml" >/dev/null \
        || fail "AppStream metadata"
    xmllint() { python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' "$1"; }
    xmllint "$prefix/share/mime/packages/org.vaultora.Vaultora.xml" || fail "MIME type"
    [[ -e $prefix/share/icons/hicolor/scalable/apps/org.vaultora.Vaultora.svg ]] || fail "no icon"
    pages=(vaultora vaultora-cli)
else
    pages=(vaultora-cli)
fi
for page in "${pages[@]}"; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$prefix/share/man/man1/$page.1" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "man $page: $warnings"
done
bash -n "$prefix/share/bash-completion/completions/vaultora-cli" || fail "completion script"
# Completion of a job name through the installed script, with a stand-in for bash-completion's
# start-up function.
completed=$(PATH=$prefix/bin:$PATH bash -c '
    _init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
    source "$1"
    COMP_WORDS=(vaultora-cli backup De); COMP_CWORD=2
    _vaultora_cli
    printf "%s\n" "${COMPREPLY[@]}"' _ "$prefix/share/bash-completion/completions/vaultora-cli")
[[ $completed == Demo ]] || fail "completion gave '$completed'"

step "the Debian package"
if [[ $(id -u) -ne 0 ]] || ! command -v dpkg-shlibdeps >/dev/null; then
    echo "SKIP: building and installing the package needs root and dpkg-dev"
    exit 0
fi
if dpkg -s vaultora >/dev/null 2>&1; then
    echo "SKIP: a vaultora package is installed on this machine; not touching it"
    exit 0
fi
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/vaultora_*.deb)
info=$(dpkg-deb -I "$deb")
for dependency in libqt6core6 libcurl4 libsmbclient libssl3; do
    grep -q "^ Depends:.*$dependency" <<<"$info" || fail "the package does not depend on $dependency"
done
contents=$(dpkg-deb -c "$deb")
grep -q '/share/vaultora/transl.dt$' <<<"$contents" || fail "the package lacks transl.dt"
cleanup_package() { dpkg -r vaultora >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup_package EXIT
dpkg -i "$deb" >/dev/null || fail "dpkg -i"
installed_prefix=$(dpkg -L vaultora | grep '/bin/vaultora-cli$' | sed 's|/bin/vaultora-cli$||')
grep -qx "program files: $installed_prefix/share/vaultora" <<<"$("$installed_prefix/bin/vaultora-cli" --version)" \
    || fail "the installed package's program does not find its files"
apt-get remove -y vaultora >/dev/null 2>&1 || dpkg -r vaultora >/dev/null
[[ ! -e $installed_prefix/bin/vaultora-cli ]] || fail "removing the package left the program"
echo "PASS"
