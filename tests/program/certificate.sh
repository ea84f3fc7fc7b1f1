#!/bin/bash
# Certificates: USB sticks wiped unattended; sdc's ext2 is the log medium, sdb claims four times its sectors, so its
# pass and verification fail. On sdc: each drive's record (valid, field by field what happened, the SHA-256 of the
# report on its image) and PDF (renders, shows the serial), named in the session log. No log medium: no certificate.
. "$(dirname "$0")/lib/sandbox.sh" "$@"
for t in mkfs.ext2 debugfs pdftoppm pdftotext; do command -v $t >/dev/null 2>&1 || sandbox_skip "$t not found"; done
python3 -c 'import jsonschema' 2>/dev/null || sandbox_skip "python3-jsonschema not found"

for d in "sda Alpha" "sdb Beta" "sdc Stick"; do sandbox_add_drive ${d% *} 4 "Disk ${d#* }" ACME; done
mkfs.ext2 -q -F -L ZVLOG "$(sandbox_image sdc)"
read -r -d '' SANDBOX_HOOK <<'HOOK'
for c in a b c; do  # USB sticks, serial SER-<name>
  i=$((${i:-0} + 1)) name=sd$c usb=/sys/devices/pci0000:00/0000:00:14.0/usb1/1-$i
  scsi=$usb/1-$i:1.0/host$i/target$i:0:0/$i:0:0:0
  mkdir -p "$R$scsi" && mv "$R/sys/block/$name/device/"* "$R$scsi/" && rmdir "$R/sys/block/$name/device"
  ln -s "$scsi" "$R/sys/block/$name/device"
  echo "SER-$name" > "$R$usb/serial"; cp "$R$scsi/model" "$R$usb/product"; cp "$R$scsi/vendor" "$R$usb/manufacturer"
done
echo $((16 * 2048)) > "$R/sys/block/sdb/size"
printf 'CPU: Test CPU @ 1 GHz\nMemory: 1024 MB\n' > "$R/tmp/sys_info"
HOOK
quit() { tui_keys q; sleep 1; tui_shows "abandon it?" && tui_keys n; [ -f "$SANDBOX/rc" ]; }
run() {  # run VAR=value...: every drive wiped, then q until the program has ended
  tui_start 120 40 WIPE_ALL_DISKS=1 USE_NODELAY=1 SCHEME=zeros VERIFY=y "$@"
  check "the wipes end" tui_wait Failed. 60
  check "program ends" poll 4 quit
  check "exit status 0, nothing on standard error" test "$(cat "$SANDBOX/rc")$(cat "$SANDBOX/stderr")" = 0
}
run USE_LOGFILE=y

certs=$SANDBOX/certificates
debugfs -R "rdump /certificates $SANDBOX" "$(sandbox_image sdc)" 2>/dev/null
check "two records and two PDFs on the stick" [ "$(ls "$certs" | grep -cE '^SER-sd[ab]-[0-9]{8}-[0-9]{6}\.(json|pdf)$')" = 4 ]
for f in "$certs"/*; do
  n=$(basename "$f") d=${n:4:3}
  check "session log names $n" grep -qF "Disk-$d: certificate written: '/log/certificates/$n'" "$SANDBOX_OUT/zorvane.log"
  [[ $n == *.pdf ]] && check "$n renders and shows the serial" bash -c "pdftoppm -r 30 -png -singlefile '$f' \
    '$SANDBOX/page' && [ -s '$SANDBOX/page.png' ] && pdftotext '$f' - | grep -qx '${n%-*-*}'"
done
python3 - "$certs" "$SANDBOX_ROOT/tools/certificate.schema.json" "$SANDBOX/images" <<'PY' || fail=1
import glob, hashlib, json, sys, jsonschema
certs, schema, images = sys.argv[1], json.load(open(sys.argv[2])), sys.argv[3]
want = {"sda": ("Disk Alpha", 8192, "success", "Clear"), "sdb": ("Disk Beta", 32768, "failed", "None")}
bad, unused = 0, {"used": False, "name": None, "result": None}
for path in sorted(glob.glob(certs + "/*.json")):
    r, name = json.load(open(path)), path.split("/")[-1][4:-21]
    (model, sectors, result, category), d, serial = want[name], r["drive"], "SER-" + name
    report = open(f"{images}/{name}.img", "rb").read(r["report"]["bytes"] or 0)
    stamp = r["end_time"].replace("-", "").replace(":", "").replace("T", "-")[:15]
    for what, got, expected in [
            ("schema", jsonschema.Draft202012Validator(schema).is_valid(r), True),
            ("file name", path.endswith(f"{serial}-{stamp}.json"), True),
            ("identity", [d[k] for k in ("name", "class", "vendor", "model", "serial", "capacity_bytes", "capacity_sectors")],
                         [name, "USB", "ACME", model, serial, sectors * 512, sectors]),
            ("passes", [(p["kind"], p["scheme_pass"], p["result"]) for p in r["passes"]],
                       [("overwrite", 1, result), ("verify", 1, result)]),
            ("verification", r["verification"], {"passes": [1], "result": result, "first_mismatch_offset": None}),
            ("report hash", hashlib.sha256(report).hexdigest() if r["report"]["written"] else None,
                            r["report"]["sha256"] if report.startswith(b"Date: ") else "no report on the image"),
            ("the rest", [r[k] for k in ("program", "machine", "scheme", "hardware_erase", "trim", "final_status", "nist_category")],
                         [{"name": "Zorvane", "version": "2.69"}, ["CPU: Test CPU @ 1 GHz", "Memory: 1024 MB"], "1-pass Zeros",
                          unused, unused, result, category])]:
        bad |= got != expected
        print("ok  " if got == expected else "FAIL", serial, what, "" if got == expected else f"{got!r} != {expected!r}")
sys.exit(bad or len(glob.glob(certs + "/*.json")) != 2)
PY

rm -rf "$SANDBOX_OUT/log"
run
check "no certificate without a log medium" test -d "$SANDBOX_OUT/log" -a ! -e "$SANDBOX_OUT/log/certificates"
exit $fail
