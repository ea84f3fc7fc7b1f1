#!/bin/bash
# Certificates on the log medium: three USB sticks, unattended; sdc holds an
# ext2 file system and becomes the log medium, sda is wiped and verified, sdb
# claims four times the sectors its loop device has, so its pass and its
# verification fail. Read from sdc's image afterwards: each drive's JSON
# record (valid against tools/certificate.schema.json, field by field what
# happened, the SHA-256 of the report on its image) and its PDF (renders,
# shows the serial), each file named in the session log.
. "$(dirname "$0")/lib/sandbox.sh" "$@"
for t in mkfs.ext2 debugfs pdftoppm pdftotext; do command -v $t >/dev/null 2>&1 || sandbox_skip "$t not found"; done
python3 -c 'import jsonschema' 2>/dev/null || sandbox_skip "python3-jsonschema not found"

sandbox_add_drive sda 4 "Disk Alpha" ACME
sandbox_add_drive sdb 4 "Disk Beta" ACME
sandbox_add_drive sdc 4 "Log Stick" ACME
mkfs.ext2 -q -F -L ZVLOG "$(sandbox_image sdc)"
cat > "$SANDBOX/hook.sh" <<'HOOK'
i=0
for n in sda:SER-ALPHA-1 sdb:SER-BETA-2 sdc:STICK-3; do
  i=$((i + 1)) name=${n%%:*} usb=/sys/devices/pci0000:00/0000:00:14.0/usb1/1-$i
  scsi=$usb/1-$i:1.0/host$i/target$i:0:0/$i:0:0:0
  mkdir -p "$R$scsi"
  mv "$R/sys/block/$name/device/"* "$R$scsi/"
  rmdir "$R/sys/block/$name/device"
  ln -s "$scsi" "$R/sys/block/$name/device"
  echo "${n#*:}" > "$R$usb/serial"
  cp "$R$scsi/model" "$R$usb/product"
  cp "$R$scsi/vendor" "$R$usb/manufacturer"
done
echo $((16 * 2048)) > "$R/sys/block/sdb/size"
printf 'CPU: Test CPU @ 1 GHz\nMemory: 1024 MB\n' > "$R/tmp/sys_info"
HOOK
SANDBOX_HOOK=$SANDBOX/hook.sh tui_start 120 40 USE_LOGFILE=y WIPE_ALL_DISKS=1 USE_NODELAY=1 SCHEME=zeros VERIFY=y
check "both wipes end" tui_wait Failed. 60
quit() {  # q, until the queues have ended and it no longer asks to abandon them
  local i
  for i in $(seq 1 30); do
    [ -f "$SANDBOX/tui.rc" ] && break
    tui_keys q
    sleep 1
    tui_screen | grep -qF "abandon it?" && tui_keys n
  done
  tui_wait_exit 5
}
check "program ends" quit
check "nothing on standard error" [ ! -s "$SANDBOX/stderr" ]

certs=$SANDBOX/certs
debugfs -R "rdump /certificates $SANDBOX" "$(sandbox_image sdc)" 2>/dev/null && mv "$SANDBOX/certificates" "$certs"
check "two records and two PDFs on the stick" [ "$(ls "$certs" 2>/dev/null | grep -cE '^SER-(ALPHA-1|BETA-2)-[0-9]{8}-[0-9]{6}\.(json|pdf)$')" = 4 ]
for f in "$certs"/*; do
  n=$(basename "$f") d=sdb
  [[ $n == *ALPHA* ]] && d=sda
  check "session log names $n" grep -qF "Disk-$d: certificate written: '/log/certificates/$n'" "$SANDBOX_OUT/zorvane.log"
  [[ $n == *.pdf ]] && check "$n renders and shows the serial" bash -c "pdftoppm -r 30 -png -singlefile '$f' \
    '$SANDBOX/page' && [ -s '$SANDBOX/page.png' ] && pdftotext '$f' - | grep -qx '${n%-*-*}'"
done
python3 - "$certs" "$SANDBOX_ROOT/tools/certificate.schema.json" "$(sandbox_image sda)" "$(sandbox_image sdb)" <<'PY' || fail=1
import glob, hashlib, json, sys, jsonschema
certs, schema, images = sys.argv[1], json.load(open(sys.argv[2])), {"sda": sys.argv[3], "sdb": sys.argv[4]}
unused = {"used": False, "name": None, "result": None}
common = {"program": {"name": "Zorvane", "version": "2.69"}, "machine": ["CPU: Test CPU @ 1 GHz", "Memory: 1024 MB"],
          "scheme": "1-pass Zeros", "hardware_erase": unused, "trim": unused}
want = {"SER-ALPHA-1": dict(common, name="sda", model="Disk Alpha", bytes=4194304, sectors=8192, result="success",
                            nist_category="Clear", final_status="success"),
        "SER-BETA-2": dict(common, name="sdb", model="Disk Beta", bytes=16777216, sectors=32768, result="failed",
                           nist_category="None", final_status="failed")}
bad = 0
for path in sorted(glob.glob(certs + "/*.json")):
    r, serial = json.load(open(path)), path.split("/")[-1][:-21]
    w, d = want[serial], r["drive"]
    with open(images[w["name"]], "rb") as img:
        report = img.read(r["report"]["bytes"] or 0)
    stamp = r["end_time"].replace("-", "").replace(":", "").replace("T", "-")[:15]
    rows = [("schema", jsonschema.Draft202012Validator(schema).is_valid(r), True),
            ("file name", path.endswith(f"{serial}-{stamp}.json"), True),
            ("identity", (d["name"], d["class"], d["vendor"], d["model"], d["serial"], d["capacity_bytes"],
                          d["capacity_sectors"]), (w["name"], "USB", "ACME", w["model"], serial, w["bytes"], w["sectors"])),
            ("passes", [(p["kind"], p["scheme_pass"], p["result"]) for p in r["passes"]],
                       [("overwrite", 1, w["result"]), ("verify", 1, w["result"])]),
            ("verification", r["verification"], {"passes": [1], "result": w["result"], "first_mismatch_offset": None}),
            ("start before end", r["start_time"] <= r["end_time"], True),
            ("report hash", hashlib.sha256(report).hexdigest() if r["report"]["written"] else None,
                            r["report"]["sha256"] if report.startswith(b"Date: ") else "no report on the image")]
    rows += [(k, r[k], w[k]) for k in ("program", "machine", "scheme", "hardware_erase", "trim", "final_status",
                                       "nist_category")]
    for what, got, expected in rows:
        ok = got == expected
        bad |= not ok
        print(("ok  " if ok else "FAIL"), serial, what, "" if ok else f"{got!r} != {expected!r}")
sys.exit(bad or len(glob.glob(certs + "/*.json")) != 2)
PY
exit $fail
