#!/bin/busybox sh
# /init of the test guest (scripts/guest-suite builds the initramfs around
# it). Runs zorvctl through the guest's real kernel against QEMU's AHCI disks
# (sda: a drive of the brand, sdb: a foreign one) and, when the user-space
# SCSI target is in the image, against a simulated drive served by it.
# Every case prints "@@ZORV-CASE <name> PASS|FAIL" and then its output; the
# host reads the lines. A case is a shell function; run_case lines at the
# start of a line name the cases (the host's test list is read from them).
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /tmp /mnt
chmod 1777 /tmp
export LD_LIBRARY_PATH=/lib/zorv PATH=/bin:/zorv
cd /tmp
Z=/zorv/zorvctl
OUT=/tmp/case.out

# The kernel asks /sbin/modprobe for what it loads itself (crc32c for ext4).
mkdir -p /sbin
ln -sf /bin/busybox /sbin/modprobe
for m in ahci sd_mod sg ext4 crc32c_generic; do modprobe "$m" || echo "modprobe $m failed"; done
i=0
while { [ ! -b /dev/sda ] || [ ! -b /dev/sdb ]; } && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done

# The two AHCI disks are probed in parallel, so which one is sda varies:
# FAM is the drive of the brand, N its Physical Drive number, FOREIGN the other.
for d in sda sdb; do
  if grep -q ORBENNE /sys/block/$d/device/model 2>/dev/null; then FAM=/dev/$d; else FOREIGN=/dev/$d; fi
done
N=$(( $(printf '%d' "'${FAM#/dev/sd}") - 97 ))
echo "@@ZORV-INFO family drive $FAM (Physical Drive $N), foreign drive $FOREIGN, kernel $(uname -r)"

# ---- helpers

FAILED=""
fail() { echo "  expected: $*" >> /tmp/case.why; return 1; }

# run RC CMD...: runs CMD with its output (both streams) in $OUT, and fails
# unless it exits with RC.
run() {
  want=$1; shift
  "$@" > $OUT 2>&1
  rc=$?
  { echo "\$ $*  (exit $rc)"; cat $OUT; } >> /tmp/case.log
  [ "$rc" = "$want" ] || fail "exit $want from: $*"
}
# has TEXT: the last command's output holds TEXT.
has() { grep -qF -- "$1" $OUT || fail "output holding: $1"; }
hasnt() { ! grep -qF -- "$1" $OUT || fail "output without: $1"; }

run_case() {
  : > /tmp/case.log
  : > /tmp/case.why
  if "case_$1" && [ ! -s /tmp/case.why ]; then
    echo "@@ZORV-CASE $1 PASS"
  else
    echo "@@ZORV-CASE $1 FAIL"
    FAILED="$FAILED $1"
    sed 's/^/  why| /' /tmp/case.why
  fi
  sed 's/^/  | /' /tmp/case.log | head -80
}

# ---- QEMU's AHCI disks through libata

case_ahci_scan() {
  run 0 $Z scan --json || return
  has "\"path\": \"$FAM\""
  has '"busType": 11'
  has '"model": "ORBENNEPA256SSD"'
  hasnt "$FOREIGN"
}

case_ahci_identify() {
  run 0 $Z --drive $N identify --decode || return
  has 'ORBENNE PA256 SSD'
  has 'S1107A0C'
}

case_ahci_ata_data_in() {
  run 0 $Z --drive $N ata --command EC --sector-cnt 1 --out /tmp/identify.bin || return
  has 'Data In, DataCnt = 512(0x200)Bytes'
  has 'ATA Command Success'
  [ "$(wc -c < /tmp/identify.bin)" = 512 ] || fail "512 bytes of IDENTIFY data"
  # Model words are byte-swapped pairs: "ORBENNE " reads "ROEBNN E".
  grep -q 'ROEBNN E' /tmp/identify.bin || fail "the model text in the IDENTIFY data"
}

# WRITE SECTOR(S) then READ SECTOR(S) of the same block, outside the range the
# partition cases use later.
case_ahci_ata_data_out() {
  dd if=/dev/urandom of=/tmp/block.bin bs=512 count=1 2>/dev/null
  run 0 $Z --drive $N ata --command 30 --sector-cnt 1 --cyl-high 01 --device 40 --in /tmp/block.bin || return
  has 'Data Out, DataCnt = 512(0x200)Bytes'
  run 0 $Z --drive $N ata --command 20 --sector-cnt 1 --cyl-high 01 --device 40 --out /tmp/back.bin || return
  cmp /tmp/block.bin /tmp/back.bin >> /tmp/case.log 2>&1 || fail "the block read back as written"
  # The block also reads back through the block layer (LBA 10000h).
  dd if=$FAM of=/tmp/blockdev.bin bs=512 skip=65536 count=1 2>/dev/null
  cmp /tmp/block.bin /tmp/blockdev.bin >> /tmp/case.log 2>&1 || fail "the block read back through /dev/sda"
}

# CHECK POWER MODE: its result is the count register (FFh: active).
case_ahci_ata_non_data() {
  run 0 $Z --drive $N --json ata --command E5 || return
  has '"sectorCnt": "00FF"'
  has '"status": "50"'
}

# QEMU's drive model aborts vendor commands: the status comes back (QEMU
# reports 41h, DRDY and ERR without bit 4).
case_ahci_ata_aborted() {
  run 1 $Z --drive $N ata --command F7 --features 01 || return
  has 'ATA Command Error, Status = 0x41'
  run 1 $Z --drive $N --json ata --command F7 --features 01 || return
  has '"error": "04"'
  has '"status": "41"'
}

case_ahci_seq_read_queue() {
  run 0 $Z --drive $N test seq-read --slba 0 --elba 1000 --blks 80 --length 4 || return
  has 'Init NCQ Func Finish!!'
  has 'Test Complete'
  has 'Average Xfer Rate'
}

case_ahci_seq_write_queue() {
  run 0 $Z --drive $N test seq-write --slba 18000 --elba 18400 --blks 40 --confirm-data-loss || return
  has 'Compare Check Sum Success'
  has 'Test Complete'
}

# A raw write needs consent on a real device.
case_ahci_write_needs_consent() {
  run 2 $Z --drive $N test seq-write --slba 18000 --elba 18400 --blks 40
  has 'give --confirm-data-loss'
}

# SET FEATURES takes effect: QEMU's drive turns its write cache off (82h)
# and on (02h), and IDENTIFY DEVICE word 85 bit 5 follows; FLUSH CACHE EXT
# completes.
identify_word85_low() {  # [DRIVE]: the AHCI disk unless named
  $Z --drive "${1:-$N}" ata --command EC --sector-cnt 1 --out /tmp/id85.bin > /dev/null 2>&1 &&
    od -An -tx1 -j170 -N1 /tmp/id85.bin | tr -d ' '
}

case_ahci_set_features() {
  run 0 $Z --drive $N ata --command EF --features 82 || return
  has 'ATA Command Success'
  [ "$(identify_word85_low)" = 01 ] || fail "word 85 = 4001h with the write cache off"
  run 0 $Z --drive $N ata --command EF --features 02 || return
  [ "$(identify_word85_low)" = 21 ] || fail "word 85 = 4021h with the write cache on"
  run 0 $Z --drive $N ata --command EA --device 40 || return
  has 'ATA Command Success'
}

# Two partitions written into the MBR: 1 (8 MiB, ext2) mounted, 2 (4 MiB)
# swap. Each makes the drive unusable for raw writes, by a different check.
make_partitions() {
  {
    dd if=/dev/zero bs=446 count=1
    printf '\000\000\000\000\203\000\000\000\000\010\000\000\000\100\000\000'
    printf '\000\000\000\000\202\000\000\000\000\110\000\000\000\040\000\000'
    dd if=/dev/zero bs=32 count=1
    printf '\125\252'
  } 2>/dev/null > /tmp/mbr.bin
  dd if=/tmp/mbr.bin of=$FAM bs=512 count=1 conv=notrunc 2>/dev/null
  blockdev --rereadpt $FAM
  i=0
  while { [ ! -b ${FAM}1 ] || [ ! -b ${FAM}2 ]; } && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
  [ -b ${FAM}1 ] && [ -b ${FAM}2 ]
}

case_ahci_mounted_partition() {
  make_partitions || { fail "partitions 1 and 2 of the drive"; return; }
  mke2fs -q ${FAM}1 >> /tmp/case.log 2>&1 || { fail "an ext2 file system on partition 1"; return; }
  mount -t ext4 ${FAM}1 /mnt >> /tmp/case.log 2>&1 ||
    { ls -la /dev/sda* /mnt >> /tmp/case.log 2>&1; dmesg | tail -8 >> /tmp/case.log; fail "partition 1 mounted"; return; }
  run 2 $Z --drive $N test seq-write --slba 18000 --elba 18400 --blks 40 --confirm-data-loss
  has "Physical Drive $N holds mounted file systems (/mnt): it is never written raw"
  # Reading and identifying a disk with a mounted file system stays possible.
  run 0 $Z --drive $N identify
  umount /mnt
}

case_ahci_swap_partition() {
  mkswap ${FAM}2 >> /tmp/case.log 2>&1 && swapon ${FAM}2 || { fail "swap on partition 2"; return; }
  run 2 $Z --drive $N test seq-write --slba 18000 --elba 18400 --blks 40 --confirm-data-loss
  has "Physical Drive $N is in use ("
  has 'in use by the system'
  swapoff ${FAM}2
  run 0 $Z --drive $N test seq-write --slba 18000 --elba 18400 --blks 40 --confirm-data-loss
}

as_tester() { su -p -s /bin/sh tester -c "$*"; }

# The scan itself succeeds (it lists no drive) and says why.
case_ahci_not_root() {
  run 0 as_tester $Z scan
  has 'No permission to use /dev/sda, /dev/sdb: run as root or with CAP_SYS_RAWIO'
  run 2 as_tester $Z --drive $N identify
  has "Physical Drive $N is not an accepted drive"
  # A user who may open the disk still may not send ATA PASS-THROUGH.
  chmod 666 /dev/sda /dev/sdb
  run 0 as_tester $Z --json scan
  has '"permissionDenied": ['
  has "\"$FAM\""
  run 0 as_tester $Z scan
  has 'No permission to use /dev/sda, /dev/sdb: run as root or with CAP_SYS_RAWIO'
  chmod 660 /dev/sda /dev/sdb
}

# The sense data libata returns for a command sent with CK_COND, in both
# formats (the control page's D_SENSE), and the backend's parse of it.
# libata answers a command that completed without error in descriptor
# format whatever D_SENSE says; a failed one follows D_SENSE, and its fixed
# format puts the registers at bytes 8-11 before Linux 6.11, 3-6 from then on.
kernel_before_6_11() {
  v=$(uname -r)
  major=${v%%.*}
  minor=${v#*.}
  minor=${minor%%[!0-9]*}
  [ "$major" -lt 6 ] || { [ "$major" = 6 ] && [ "$minor" -lt 11 ]; }
}

case_ahci_sense_fixed() {
  run 0 zorv-sense-probe $FAM 0 E5 || return
  has 'layout descriptor status 50 error 00 count 00FF'
  has 'verdict ok'
  # CHECK POWER MODE failed by QEMU's model: ABORTED COMMAND, 18 bytes.
  run 0 zorv-sense-probe $FAM 0 F7 || return
  if kernel_before_6_11; then
    has 'sense 70 00 0B 00 00 00 00 0A 04 41 40 00 00 00 00 00 00 00'
    has 'layout fixed-legacy status 41 error 04'
    # LBA 7:0-23:16 would lie at 17-19, past the 18 bytes: not known.
    has 'low 0'
  else
    has 'layout fixed-standard status 41 error 04'
  fi
  has 'verdict ok'
}

case_ahci_sense_descriptor() {
  run 0 zorv-sense-probe $FAM 1 F7 || return
  has 'sense 72 0B 00 00 00 00 00 0E 09 0C 00 04'
  has 'layout descriptor status 41 error 04 count 0000 lba 0 low 1 high 1'
  # READ NATIVE MAX ADDRESS EXT: the last LBA (1FFFFh) in the registers.
  run 0 zorv-sense-probe $FAM 1 27 48 || return
  has 'layout descriptor status 50 error 00 count 0000 lba 1FFFF low 1 high 1'
  has 'verdict ok'
}

echo "@@ZORV-CASE-LIST start"
run_case ahci_scan
run_case ahci_identify
run_case ahci_ata_data_in
run_case ahci_ata_data_out
run_case ahci_ata_non_data
run_case ahci_ata_aborted
run_case ahci_set_features
run_case ahci_seq_read_queue
run_case ahci_seq_write_queue
run_case ahci_write_needs_consent
run_case ahci_mounted_partition
run_case ahci_swap_partition
run_case ahci_not_root
run_case ahci_sense_fixed
run_case ahci_sense_descriptor

# ---- A drive of the simulated bay as a SCSI disk behind a SAT bridge:
# zorv-tcmu serves it through target_core_user, tcm_loop makes it a disk.
# Its sysfs path names no bus; ZORV_SCSI_HOST_BUS gives the loopback host's.

CFG=/sys/kernel/config/target
BAY=/tmp/bay

# tcmu_start NAME SLOT [zorv-tcmu options]: the TCMU device, its server and
# its loopback LUN; TDEV is the new disk, TN its Physical Drive number.
tcmu_start() {
  name=$1 slot=$2
  shift 2
  dir=$CFG/core/user_1/$name
  mkdir -p "$dir" || return 1
  echo -n "dev_size=$((1000215216 * 512))" > "$dir/control"
  echo -n "dev_config=zorv/$name" > "$dir/control"
  echo -n 1 > "$dir/enable" || { echo "enable: failed"; return 1; }
  uio=""
  for u in /sys/class/uio/uio*; do
    grep -q "/$name/" "$u/name" 2>/dev/null && uio=/dev/${u##*/}
  done
  [ -n "$uio" ] || return 1
  tracer=""
  [ -x /zorv/strace ] && tracer="strace -f -o /tmp/zorv-tcmu.strace"
  $tracer zorv-tcmu --bay $BAY --slot "$slot" "$@" "$uio" 2>> /tmp/zorv-tcmu.log &
  TCMU_PID=$!
  before=$(ls /sys/block)
  lun=$CFG/loopback/naa.5001405000000001/tpgt_1
  mkdir -p $lun || { echo "tpgt: failed"; return 1; }
  grep -q naa $lun/nexus 2>/dev/null || echo -n naa.5001405000000002 > $lun/nexus || { echo "nexus: failed"; return 1; }
  mkdir -p $lun/lun/lun_0 || { echo "lun: failed"; return 1; }
  ln -s "$dir" $lun/lun/lun_0/"$name" || { echo "lun link: failed"; return 1; }
  TDEV=""
  i=0
  while [ -z "$TDEV" ] && [ $i -lt 200 ]; do
    for b in $(ls /sys/block); do
      echo "$before" | grep -qx "$b" || { [ -b /dev/$b ] && TDEV=/dev/$b; }
    done
    sleep 0.1
    i=$((i + 1))
  done
  [ -n "$TDEV" ] || { echo "no new disk: $(ls /sys/block | tr '\n' ' ')"; return 1; }
  TN=$(( $(printf '%d' "'${TDEV#/dev/sd}") - 97 ))
}

tcmu_stop() {
  name=$1
  lun=$CFG/loopback/naa.5001405000000001/tpgt_1
  rm -f $lun/lun/lun_0/"$name"
  rmdir $lun/lun/lun_0
  rmdir $CFG/core/user_1/"$name"
  wait $TCMU_PID 2>/dev/null
}

tcmu_ready() {
  [ -n "$TDEV" ] || { fail "the simulated drive served as a disk (see the setup lines)"; return 1; }
}

case_tcmu_scan() {
  tcmu_ready || return
  run 0 env ZORV_SCSI_HOST_BUS=tcm_loopback=usb $Z scan --json || return
  has "\"path\": \"$TDEV\""
  has '"model": "ORBENNETA512SSD"'
  has '"busType": 7'
  has "\"path\": \"$FAM\""
  # Without the setting the disk's bus is unknown: it takes no ATA command.
  run 0 env -u ZORV_SCSI_HOST_BUS $Z scan --json
  hasnt "\"path\": \"$TDEV\""
  run 0 env ZORV_SCSI_HOST_BUS=tcm_loopback=scsi $Z scan
  has 'ZORV_SCSI_HOST_BUS: "tcm_loopback=scsi" is not DRIVER=sata, DRIVER=ata or DRIVER=usb'
}

case_tcmu_identify() {
  tcmu_ready || return
  run 0 $Z --drive $TN identify --decode || return
  has 'ORBENNE TA512 SSD'
  has 'T1208B1A'
}

case_tcmu_info_ssd() {
  tcmu_ready || return
  run 0 $Z --drive $TN diag 30 || return
  has 'PCBA PN    : TA512-2280-B11'
  has 'sInfoSSD Start Here'
}

case_tcmu_smart() {
  tcmu_ready || return
  run 0 $Z --drive $TN diag B0D0 || return
  has 'S.M.A.R.T. Read Success'
  has 'ID:       C2,Temperature'
}

case_tcmu_fw_update() {
  tcmu_ready || return
  run 0 $Z --drive $TN fw demo-package /tmp/demo.qz || return
  has 'T1208B -> T1209B'
  run 0 $Z --drive $TN --yes fw update --package /tmp/demo.qz || return
  has 'Update FW Done.'
  run 0 $Z --drive $TN identify || return
  has 'T1209B1A'
}

case_tcmu_seq_write_queue() {
  tcmu_ready || return
  run 0 $Z --drive $TN test seq-write --slba 1000 --elba 1400 --blks 40 --confirm-data-loss || return
  has 'Init NCQ Func Finish!!'
  has 'Compare Check Sum Success'
  run 0 $Z --drive $TN test seq-read --slba 0 --elba 2000 --blks 80 --length 4 || return
  has 'Init NCQ Func Finish!!'
  has 'Average Xfer Rate'
}

# The SPI memory dump: 512 KiB read through the bridge in pieces of at most
# 128 sectors, into a file.
case_tcmu_spi_dump() {
  tcmu_ready || return
  mkdir -p /tmp/dumps
  run 0 $Z --drive $TN diag 52 --dir /tmp/dumps || return
  has 'Memory Dump End'
  f=$(ls /tmp/dumps/SpiDmp_Adr00000_Len80000_*.bin 2>/dev/null | head -1)
  [ -n "$f" ] && [ "$(wc -c < "$f")" = 524288 ] || fail "a 512 KiB SPI dump file"
}

# Reads fail inside an injected range (2100h-2107h): the drive's MEDIUM
# ERROR comes back through the bridge and the kernel as sense data.
case_tcmu_read_error_sense() {
  tcmu_ready || return
  run 0 $Z --sim $BAY sim fault 1 read-error --lba 8448 --blocks 8 || return
  run 1 $Z --drive $TN test seq-read --slba 2000 --elba 2400 --blks 80 --length 1 --no-ncq
  has 'Read Failed! 0x2100. ErrCnt 1'
  # READ DMA EXT of 2100h on the USB path: the bridge's sense (key 3,
  # UNRECOVERED READ ERROR 11h/04h) as the kernel handed it over.
  run 1 $Z --drive $TN ata --command 25 --sector-cnt 1 --cyl-low 21 --device 40
  has 'Cause: SCSI status 02h, sense 3/11/04'
  run 1 env ZORV_SCSI_HOST_BUS=tcm_loopback=sata $Z --drive $TN --json ata --command 25 --sector-cnt 1 --cyl-low 21 --device 40
  has '"status": "51"'
  has '"error": "40"'
  $Z --sim $BAY sim fault 1 clear > /dev/null 2>&1
}

# SET FEATURES behind the bridge takes effect in the simulated drive: its
# write cache goes off (82h) and on (02h), IDENTIFY word 85 bit 5 follows
# (the drive's low byte is 69h with the cache on, 49h with it off), and
# FLUSH CACHE completes, all through the kernel's sd and sg.
case_tcmu_set_features() {
  tcmu_ready || return
  run 0 $Z --drive $TN ata --command EF --features 82 || return
  has 'ATA Command Success'
  [ "$(identify_word85_low $TN)" = 49 ] || fail "word 85 bit 5 clear with the write cache off"
  run 0 $Z --drive $TN ata --command EF --features 02 || return
  [ "$(identify_word85_low $TN)" = 69 ] || fail "word 85 bit 5 set with the write cache on"
  run 0 $Z --drive $TN ata --command E7 --device 40 || return
  has 'ATA Command Success'
}

# The ATA path (CK_COND, registers read back) through the bridge: the
# backend switches the bridge to descriptor sense; CHECK POWER MODE answers
# in its count register, an unknown vendor subcommand is aborted.
case_tcmu_ata_descriptor_sense() {
  tcmu_ready || return
  run 0 $Z --drive $TN --json ata --command E5 || return
  has '"sectorCnt": "00FF"'
  has '"status": "50"'
  run 1 $Z --drive $TN --json ata --command F7 --features EE
  has '"status": "51"'
  has '"error": "04"'
  grep -q ' 55 10 .* -> status 00' /tmp/zorv-tcmu.log || fail "MODE SELECT(10) taken by the bridge"
  # GET NATIVE MAX ADDRESS: a 48-bit answer in the registers (LBA above
  # 2^24), which only descriptor sense carries whole.
  run 0 $Z --drive $TN diag 780000 || return
  has '00003B9E12AFH'
}

# A bridge that refuses MODE SELECT keeps fixed-format sense: the same
# registers from SAT's fixed layout (bytes 3-6 and 8-11).
case_tcmu_ata_fixed_sense() {
  tcmu_ready || return
  run 0 $Z --drive $TN --json ata --command E5 || return
  has '"sectorCnt": "00FF"'
  has '"status": "50"'
  run 1 $Z --drive $TN --json ata --command F7 --features EE
  has '"status": "51"'
  has '"error": "04"'
  grep -q ' 55 10 .* -> status 02 sense 05 20/00' /tmp/zorv-tcmu.log || fail "MODE SELECT(10) refused by the bridge"
  # Fixed format cannot carry the high-order LBA of GET NATIVE MAX ADDRESS:
  # the backend says so instead of reporting a wrong address.
  run 1 $Z --drive $TN diag 780000
  has 'Not available: the command failed'
  hasnt '9E12AFH'
}

# The bridge's sense as the kernel hands it over, in both formats: SAT's
# fixed layout (registers at 3-6 and 8-11, success and failure alike) and
# descriptor format. READ VERIFY SECTORS EXT at 1234567h returns its LBA:
# fixed format has only a flag for LBA 31:24, so the backend refuses to
# report registers it did not get; descriptor format carries them.
case_tcmu_sense_layouts() {
  tcmu_ready || return
  run 0 zorv-sense-probe $TDEV 0 E5 || return
  has 'sense 70 00 01 00 50 40 FF 0A 00 00 00 00 00 1D 00 00 00 00'
  has 'layout fixed-standard status 50 error 00 count 00FF lba 0 low 1 high 1'
  has 'verdict ok'
  run 0 zorv-sense-probe $TDEV 1 E5 || return
  has 'layout descriptor status 50 error 00 count 00FF'
  run 0 zorv-sense-probe $TDEV 0 42 48 1234567 || return
  has 'sense 70 00 01 00 50 40 01 0A A0 67 45 23 00 1D'
  has 'verdict fixed-format sense data did not carry every returned ATA register'
  run 0 zorv-sense-probe $TDEV 1 42 48 1234567 || return
  has 'layout descriptor status 50 error 00 count 0001 lba 1234567 low 1 high 1'
  has 'verdict ok'
}

# ATA PASS-THROUGH(12) reaches the drive as (16) does; the bridge refuses
# what a bridge refuses (the queued FPDMA protocol, T_LENGTH 3) with
# ILLEGAL REQUEST, INVALID FIELD IN CDB.
case_tcmu_pass_through_12_and_refusals() {
  tcmu_ready || return
  run 0 zorv-sense-probe $TDEV raw A1 06 20 00 00 00 00 00 40 E5 00 00 || return
  has 'status 02'
  has 'sense 70 00 01 00 50 40 FF 0A 00 00 00 00 00 1D'
  run 0 zorv-sense-probe $TDEV raw 85 18 20 00 00 00 00 00 00 00 00 00 00 40 60 00 || return
  has 'sense 70 00 05 00 00 00 00 0A 00 00 00 00 24 00'
  run 0 zorv-sense-probe $TDEV raw 85 08 03 00 00 00 01 00 00 00 00 00 00 40 EC 00 || return
  has 'sense 70 00 05 00 00 00 00 0A 00 00 00 00 24 00'
}

# Unplugging the TCMU disk (configfs) and plugging it back while `zorvctl
# watch` runs: the program hears both from the kernel's events (no udev
# daemon here) and enumerates again; the server ends with its device; the
# drive answers again, with the firmware it was updated to.
case_tcmu_replug() {
  tcmu_ready || return
  old=$TDEV
  $Z watch --changes 2 --seconds 120 > /tmp/watch.out 2>&1 &
  watcher=$!
  sleep 3
  tcmu_stop zorvusb
  [ ! -b "$old" ] || fail "$old gone after the LUN was removed"
  grep -q 'is gone' /tmp/zorv-tcmu.log || fail "zorv-tcmu ended with its device"
  run 0 $Z scan --json
  hasnt "\"path\": \"$old\""
  : > /tmp/zorv-tcmu.log
  tcmu_start zorvusb 1 --trace --fixed-sense-only || { fail "the disk back"; TDEV=""; return; }
  wait $watcher
  { echo "\$ zorvctl watch (exit $?)"; cat /tmp/watch.out; } >> /tmp/case.log
  grep -qi "^Removing SCSI.DISK&VEN_ATA&PROD_ORBENNE TA512 SS" /tmp/watch.out || fail "the removal seen by zorvctl watch"
  grep -qi "^Adding SCSI.DISK&VEN_ATA&PROD_ORBENNE TA512 SS" /tmp/watch.out || fail "the arrival seen by zorvctl watch"
  [ "$(grep -c "ORBENNETA512SSD" /tmp/watch.out)" = 2 ] || fail "the drive listed before the removal and after the arrival"
  run 0 $Z --drive $TN identify || return
  has 'T1209B1A'
}

echo "@@ZORV-CASE-LIST tcmu"
modprobe target_core_user && modprobe tcm_loop && mount -t configfs none /sys/kernel/config ||
  echo "@@ZORV-INFO no user-space target in this kernel"
$Z --sim $BAY sim list > /dev/null 2>&1
TDEV=""
if [ -x /zorv/zorv-tcmu ] && tcmu_start zorvusb 1 --trace; then
  echo "@@ZORV-INFO simulated drive on $TDEV (Physical Drive $TN)"
else
  echo "@@ZORV-INFO the simulated drive did not become a disk"
  head -40 /tmp/zorv-tcmu.log 2>/dev/null
  tail -30 /tmp/zorv-tcmu.strace 2>/dev/null
  ls /sys/block /sys/class/uio $CFG/loopback/*/* 2>&1 | tr '\n' ' '
  dmesg | tail -15
fi
export ZORV_SCSI_HOST_BUS=tcm_loopback=usb
run_case tcmu_scan
run_case tcmu_identify
run_case tcmu_info_ssd
run_case tcmu_smart
run_case tcmu_spi_dump
run_case tcmu_fw_update
run_case tcmu_seq_write_queue
run_case tcmu_read_error_sense
export ZORV_SCSI_HOST_BUS=tcm_loopback=sata
run_case tcmu_ata_descriptor_sense
run_case tcmu_set_features
run_case tcmu_sense_layouts
run_case tcmu_pass_through_12_and_refusals
run_case tcmu_replug
run_case tcmu_ata_fixed_sense
[ -n "$TDEV" ] && tcmu_stop zorvusb
echo "@@ZORV-INFO zorv-tcmu: $(tail -3 /tmp/zorv-tcmu.log 2>/dev/null | tr '\n' ' ')"
echo "@@ZORV-END failed:${FAILED:- none}"
poweroff -f
