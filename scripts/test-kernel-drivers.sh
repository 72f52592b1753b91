#!/usr/bin/env bash
# Runs the mounted file system tests (the build's tests/fs binaries) against the Linux kernel's
# own vfat, exfat and ntfs3 drivers, the ones desktops mount sticks with. This machine's kernel
# may lack them, so Debian's kernels are booted under QEMU with software emulation: 6.1 from
# bookworm for vfat (FAT32 and FAT16) and exfat, the bookworm-backports 6.12 for ntfs3. The guest
# sees the host's root read-only over 9p and runs the same test binaries there, told by
# KORVALO_TEST_DRIVERS=kernel to mount with the kernel's drivers and a desktop's options.
#
#   bash scripts/test-kernel-drivers.sh            # after a build in build/ (KORVALO_BUILD_DIR)
#   bash scripts/test-kernel-drivers.sh --fetch    # only fetches the kernels into the cache
#
# The kernels are fetched with apt-get download through a private apt configuration (the
# machine's own sources plus bookworm-backports, in the cache folder; the machine's sources are
# not touched) and kept, unpacked, in KORVALO_KERNEL_CACHE (default ~/.cache/korvalo-kernels), so
# reruns start at once. Where QEMU, a kernel or the build is missing it prints "SKIPPED:" and the
# reason and exits 0; KORVALO_KERNEL_REQUIRED=1 makes that a failure. Each guest's logs are in
# <build>/kernel-drivers/<kernel>/ (KORVALO_KERNEL_OUT), each binary's rows with their times in
# its .xml there. KORVALO_KERNEL_TIMEOUT bounds each boot (seconds, default 2400).
#
# Fewer for a look at one thing: KORVALO_KERNEL_TESTS (the binaries; empty: none),
# KORVALO_KERNEL_ARGS (handed to each binary: test functions or rows), KORVALO_KERNEL_FILESYSTEMS
# (default fat32,fat16,exfat), KORVALO_KERNEL_NTFS=0 (no ntfs3 guest).
#
# KORVALO_KERNEL_BENCH=1 also runs bench_mounted's row on vfat in the 6.1 guest (a build
# configured with -DKORVALO_BUILD_BENCH=ON): a pass against a bare loop making the same renames,
# KORVALO_BENCH_SIZES files (default 1000), KORVALO_BENCH_REPS repetitions (default 3), each a
# shuffle and a removal, within KORVALO_KERNEL_BENCH_TIMEOUT seconds (default 1800).
set -uo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build_dir=$(realpath -m "${KORVALO_BUILD_DIR:-build}")
cache=${KORVALO_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/korvalo-kernels}
timeout_s=${KORVALO_KERNEL_TIMEOUT:-2400}
out_dir=${KORVALO_KERNEL_OUT:-$build_dir/kernel-drivers}

skip() {
  echo "SKIPPED: kernel-driver tests: $*"
  [ "${KORVALO_KERNEL_REQUIRED:-0}" = 1 ] && exit 1
  exit 0
}

command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed"
[ -x /bin/busybox ] && /bin/busybox --list | grep -x cpio >/dev/null || skip "busybox-static is not installed"
[ "$(id -u)" -eq 0 ] || skip "not root: the guest's loop devices need the host's files readable"
tests=()
for t in ${KORVALO_KERNEL_TESTS-tst_mounted tst_mountedkill tst_mountedorder tst_mountedrecovery tst_mountedguard}; do
  [ -x "$build_dir/tests/fs/$t" ] && tests+=("$t")
done
mkdir -p "$cache" "$out_dir" || skip "cannot make $cache"

# A private apt: the machine's sources and keyrings, plus bookworm-backports, with lists and
# downloads in the cache folder.
apt_dir=$cache/apt
apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o "Debug::NoLocking=1"
  -o "APT::Get::List-Cleanup=0" -o "APT::Sandbox::User=root")
apt_ready=0
private_apt() {
  [ $apt_ready = 1 ] && return 0
  mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  : >"$apt_dir/sources.list"
  [ -f /etc/apt/sources.list ] && cp /etc/apt/sources.list "$apt_dir/sources.list"
  rm -f "$apt_dir/sources.list.d/"*
  for f in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && grep -q 'debian' "$f" && cp "$f" "$apt_dir/sources.list.d/"
  done
  cat >"$apt_dir/sources.list.d/korvalo-backports.sources" <<'EOF'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  apt-get "${apt_opts[@]}" -qq update >"$cache/apt-update.log" 2>&1 || {
    cat "$cache/apt-update.log"
    return 1
  }
  apt_ready=1
}

# fetch_kernel NAME-PATTERN: the unpacked tree of the newest linux-image package whose name
# matches (an extended regex), in the cache; its path on stdout.
fetch_kernel() {
  local pattern=$1 tree pkg deb
  tree=$(find "$cache" -maxdepth 1 -type d -name 'linux-image-*' 2>/dev/null | sed 's|.*/||' |
    grep -E "^$pattern\$" | sort -V | tail -n 1)
  if [ -n "$tree" ] && [ -f "$cache/$tree/.unpacked" ]; then
    echo "$cache/$tree"
    return 0
  fi
  private_apt >&2 || return 1
  pkg=$(apt-cache "${apt_opts[@]}" pkgnames linux-image- 2>/dev/null | grep -E "^$pattern\$" |
    sort -V | tail -n 1)
  [ -n "$pkg" ] || return 1
  (cd "$apt_dir/cache/archives" && apt-get "${apt_opts[@]}" -qq download "$pkg") >&2 || return 1
  deb=$(ls -t "$apt_dir/cache/archives/${pkg}_"*.deb | head -n 1)
  rm -rf "${cache:?}/$pkg"
  dpkg-deb -x "$deb" "$cache/$pkg" && touch "$cache/$pkg/.unpacked" && rm -f "$deb" || return 1
  echo "$cache/$pkg"
}

# The modules the guest loads, each after the ones it depends on. The package carries no
# modules.dep (its installation makes one), so the dependencies are read from each module's own
# "depends=" field.
wanted_modules=(virtio_pci 9pnet_virtio 9p loop fat vfat exfat ntfs3 nls_utf8 nls_cp437
  nls_iso8859-1 nls_ascii)
unpack_module() {
  case $1 in
  *.xz) xz -dc "$1" ;;
  *.zst) zstd -dcq "$1" ;;
  *) cat "$1" ;;
  esac
}
module_order() {
  local moddir=$1 f b m
  declare -A path=() seen=()
  while IFS= read -r f; do
    b=${f##*/}
    b=${b%%.ko*}
    path[${b//-/_}]=$f
  done < <(find "$moddir/kernel" -name '*.ko*')
  visit() {
    local m=${1//-/_} f d
    [ -n "${seen[$m]:-}" ] && return 0
    seen[$m]=1
    f=${path[$m]:-}
    [ -n "$f" ] || return 0 # built in
    for d in $(unpack_module "$f" | tr '\0' '\n' | sed -n 's/^depends=//p' | tr ',' ' '); do
      visit "$d"
    done
    echo "$f"
  }
  for m in "${wanted_modules[@]}"; do visit "$m"; done
}

# make_initrd TREE OUT: a busybox initramfs that loads the modules, mounts the host's root and
# the results share, and runs the results share's run.sh in the host's root.
make_initrd() {
  local tree=$1 out=$2 version moddir root m
  version=$(ls "$tree/lib/modules" | head -n 1)
  moddir=$tree/lib/modules/$version
  root=$(mktemp -d)
  mkdir -p "$root/bin" "$root/proc" "$root/sys" "$root/dev" "$root/newroot" "$root/mods"
  cp /bin/busybox "$root/bin/busybox"
  # The project's folders that lie under the host's /tmp, which the guest's own /tmp would hide.
  printf '%s\n' "$PWD" "$build_dir" | grep '^/tmp/' >"$root/binds" || true
  # The host's root read-only through the guest's page cache: each program and library the tests
  # start again and again is read over 9p once, not at every start. (The build's files must not
  # change while the guest runs; KORVALO_KERNEL_9P_CACHE=none reads everything afresh.)
  echo "${KORVALO_KERNEL_9P_CACHE:-loose}" >"$root/rootcache"
  : >"$root/mods/order"
  while read -r m; do
    local name=${m##*/}
    name=${name%%.ko*}
    unpack_module "$m" >"$root/mods/$name.ko"
    echo "$name" >>"$root/mods/order"
  done < <(module_order "$moddir")
  cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(cat /mods/order); do insmod /mods/$m.ko 2>/dev/null; done
o=trans=virtio,version=9p2000.L,msize=262144
if mount -t 9p -o $o,ro,cache=$(cat /rootcache) hostroot /newroot; then
  # Kept aside before the guest's /tmp covers them, and put back in their places on it.
  n=0
  for d in $(cat /binds); do
    n=$((n + 1)); mkdir -p /keep/$n; mount -o bind "/newroot$d" /keep/$n
  done
  mount -t tmpfs -o size=1500m tmp /newroot/tmp
  n=0
  for d in $(cat /binds); do
    n=$((n + 1)); mkdir -p "/newroot$d"; mount -o move /keep/$n "/newroot$d"
  done
  mount -t tmpfs run /newroot/run
  mount -t proc proc /newroot/proc
  mount -t sysfs sys /newroot/sys
  mount -t devtmpfs dev /newroot/dev
  mkdir -p /newroot/dev/pts /newroot/tmp/results
  mount -t devpts devpts /newroot/dev/pts
  mount -t 9p -o $o,cache=none results /newroot/tmp/results
  chroot /newroot /bin/bash /tmp/results/run.sh
  sync
  umount /newroot/tmp/results
else
  echo "the host's root could not be mounted"
fi
poweroff -f
EOF
  chmod 755 "$root/init"
  (cd "$root" && find . | /bin/busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$out"
  rm -rf "$root"
}

# run_guest LABEL TREE FILESYSTEMS [bench]: boots the kernel and runs every mounted test binary for the
# given file systems; returns the tests' status (2 when the guest did not report one).
run_guest() {
  local label=$1 tree=$2 filesystems=$3 bench=${4:-} results vmlinuz initrd start
  results=$out_dir/$label
  rm -rf "$results"
  mkdir -p "$results"
  vmlinuz=$(ls "$tree"/boot/vmlinuz-* | head -n 1)
  initrd=$results/initrd.gz
  make_initrd "$tree" "$initrd"
  {
    echo 'export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin'
    echo 'export HOME=/tmp/home XDG_STATE_HOME=/tmp/state XDG_RUNTIME_DIR=/run/user/0 TMPDIR=/tmp'
    echo 'export LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen KORVALO_TEST_DRIVERS=kernel'
    echo "export KORVALO_TEST_FILESYSTEMS=$filesystems"
    echo 'mkdir -p /tmp/home /tmp/state /run/user/0 && chmod 700 /run/user/0'
    echo "cd /tmp"
    echo 'uname -r >/tmp/results/kernel'
    echo 'status=0; : >/tmp/results/summary'
    for t in "${tests[@]}"; do
      # Each binary with a state folder of its own; the rows' times go to a JUnit file too.
      echo "mkdir -p /tmp/state/$t && s=\$(date +%s)"
      echo "XDG_STATE_HOME=/tmp/state/$t timeout 900 '$build_dir/tests/fs/$t' -o /tmp/results/$t.log,txt \\"
      echo "  -o /tmp/results/$t.xml,junitxml ${KORVALO_KERNEL_ARGS:-} >/tmp/results/$t.out 2>&1; rc=\$?"
      echo "echo \"$t \$rc \$((\$(date +%s) - s))\" >>/tmp/results/summary"
      echo '[ $rc = 0 ] || status=1'
    done
    if [ -n "$bench" ]; then
      # The bench row: a pass on vfat as a desktop mounts it, against a bare loop making the
      # same renames. Reported, not a test: emulation makes its figures vary.
      echo 'truncate -s 256M /tmp/bench.img && mkfs.vfat -F 32 /tmp/bench.img >/dev/null &&'
      echo '  loop=$(losetup -f --show /tmp/bench.img) && mkdir -p /tmp/bench &&'
      echo '  mount -t vfat -o uid=0,gid=0,shortname=mixed,utf8=1,showexec,flush "$loop" /tmp/bench &&'
      echo "  KORVALO_BENCH_DIR=/tmp/bench KORVALO_BENCH_REPS=${KORVALO_BENCH_REPS:-3} KORVALO_BENCH_SIZES=${KORVALO_BENCH_SIZES:-1000} \\"
      echo "  timeout ${KORVALO_KERNEL_BENCH_TIMEOUT:-1800} '$build_dir/bench/bench_mounted' same 'kernel vfat, flush' 1.2 >/tmp/results/bench.log 2>&1"
      echo 'umount /tmp/bench 2>/dev/null; [ -n "${loop:-}" ] && losetup -d "$loop"'
    fi
    echo 'echo $status >/tmp/results/status'
  } >"$results/run.sh"
  start=$(date +%s)
  timeout "$timeout_s" qemu-system-x86_64 -accel tcg,thread=multi -cpu max -m 2048 -smp 2 \
    -display none -monitor none -serial "file:$results/console.log" -no-reboot \
    -kernel "$vmlinuz" -initrd "$initrd" -append "console=ttyS0 quiet panic=-1" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs "local,path=$results,mount_tag=results,security_model=none,multidevs=remap" \
    </dev/null >"$results/qemu.log" 2>&1
  local qemu=$?
  echo "== $label ($(cat "$results/kernel" 2>/dev/null || echo '?'), $filesystems): $(($(date +%s) - start)) s"
  if [ ! -f "$results/status" ]; then
    [ $qemu = 124 ] && echo "the guest did not finish within $timeout_s s"
    tail -n 20 "$results/console.log" "$results/qemu.log" 2>/dev/null
    return 2
  fi
  while read -r t rc secs; do
    totals=$(grep -E '^Totals:' "$results/$t.log" | tail -n 1)
    echo "$t: exit $rc, ${secs} s, ${totals:-no totals}"
    [ "$rc" = 0 ] || grep -E '^(FAIL!|   Loc:)' "$results/$t.log" | head -n 20
  done <"$results/summary"
  # A driver the kernel lacks would skip its rows: that is a failure here, not a skip.
  if grep -hs 'the kernel has no' "$results"/tst_*.log | head -n 3 | grep .; then
    return 1
  fi
  [ -f "$results/bench.log" ] && cat "$results/bench.log"
  return "$(cat "$results/status")"
}

if [ "${1:-}" = --fetch ]; then # fills the cache only
  fetch_kernel 'linux-image-6\.1\.0-[0-9]+-amd64' && fetch_kernel 'linux-image-6\.12\.[0-9]+\+deb12-amd64'
  exit
fi
bench=
if [ "${KORVALO_KERNEL_BENCH:-0}" = 1 ]; then
  [ -x "$build_dir/bench/bench_mounted" ] ||
    skip "no $build_dir/bench/bench_mounted (configure with -DKORVALO_BUILD_BENCH=ON)"
  bench=bench
fi
[ ${#tests[@]} -gt 0 ] || [ -n "$bench" ] ||
  skip "no mounted test binaries in $build_dir/tests/fs (build first)"
started=$(date +%s)
k61=$(fetch_kernel 'linux-image-6\.1\.0-[0-9]+-amd64') || skip "Debian's 6.1 kernel could not be fetched"
k612=
if [ "${KORVALO_KERNEL_NTFS:-1}" = 0 ]; then
  echo "ntfs3 left out (KORVALO_KERNEL_NTFS=0)"
elif ! k612=$(fetch_kernel 'linux-image-6\.12\.[0-9]+\+deb12-amd64'); then
  echo "SKIPPED: ntfs3: the bookworm-backports 6.12 kernel could not be fetched"
  k612=
fi
# The ntfs3 guest boots beside the other one: a guest runs one test at a time, most of it on one
# emulated processor, so on two cores the short ntfs3 run fits in what the long one leaves idle.
# KORVALO_KERNEL_PARALLEL=0 boots them one after the other.
parallel=${KORVALO_KERNEL_PARALLEL:-1}
if [ -n "$k612" ] && [ "$parallel" = 1 ]; then
  run_guest linux-6.12 "$k612" ntfs >"$out_dir/linux-6.12.report" 2>&1 &
  ntfs_job=$!
fi
status=0
run_guest linux-6.1 "$k61" "${KORVALO_KERNEL_FILESYSTEMS:-fat32,fat16,exfat}" "$bench"
rc=$?
if [ $rc = 2 ] && grep -q 'Probing EDD\|Kernel panic' "$out_dir/linux-6.1/console.log" 2>/dev/null; then
  [ -n "${ntfs_job:-}" ] && wait "$ntfs_job"
  skip "QEMU could not boot the 6.1 kernel here"
fi
[ $rc = 0 ] || status=1
if [ -n "${ntfs_job:-}" ]; then
  wait "$ntfs_job" || status=1
  cat "$out_dir/linux-6.12.report"
elif [ -n "$k612" ]; then
  run_guest linux-6.12 "$k612" ntfs || status=1
fi
echo "== kernel-driver tests: $(($(date +%s) - started)) s in all, $([ $status = 0 ] && echo passed || echo FAILED)"
exit $status
