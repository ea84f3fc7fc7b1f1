// The certificate record as an asset system reads it: the category a wipe
// reaches, a verification's mismatch, the drive's own erase and trim, an
// identity's odd bytes, the file name, and where the firmware revision hides.
#include <gtest/gtest.h>

#include "report/certificate.h"

namespace {

cert_step_t Step(cert_step_kind_e kind, int status, long long mismatch = -1) {
  cert_step_t s;
  s.kind = kind;
  s.name = kind == STEP_HW_ERASE ? "ATA Erase [zero]" : kind == STEP_TRIM ? "trim pass" : "wiping pass [zero]";
  s.status = status;
  s.scheme_pass = kind == STEP_OVERWRITE || kind == STEP_VERIFY;
  s.mismatch = mismatch;
  return s;
}

void ExpectIn(const std::string& json, std::vector<std::string> parts) {
  for (const std::string& want : parts) EXPECT_NE(std::string::npos, json.find(want)) << want << "\n" << json;
}
}  // namespace

TEST(Certificate, PurgeOnlyAfterTheDrivesOwnEraseClearOnlyWhenEveryOverwriteAndVerificationSucceeded) {
  const struct {
    std::vector<cert_step_t> steps;
    const char* category;
    const char* json;
    bool debug_only = false;
  } rows[] = {
      {{Step(STEP_OVERWRITE, 0), Step(STEP_VERIFY, 0), Step(STEP_TRIM, 1)}, "Clear",
       "\"trim\": {\"used\": true, \"name\": \"trim pass\", \"result\": \"completed-with-warnings\"}"},
      {{Step(STEP_OVERWRITE, 0), Step(STEP_OVERWRITE, 2)}, "None", "\"result\": \"not-run\""},
      {{Step(STEP_OVERWRITE, 0), Step(STEP_VERIFY, 2, 4096)}, "None",
       "\"verification\": {\"passes\": [1], \"result\": \"failed\", \"first_mismatch_offset\": 4096}"},
      {{Step(STEP_OVERWRITE, 0), Step(STEP_HW_ERASE, 0)}, "Purge",
       "\"hardware_erase\": {\"used\": true, \"name\": \"ATA Erase [zero]\", \"result\": \"success\"}"},
      {{Step(STEP_OVERWRITE, 0), Step(STEP_HW_ERASE, 2)}, "Clear", "\"name\": \"ATA Erase [zero]\", \"result\": \"failed\"}"},
      {{Step(STEP_HW_ERASE, 2)}, "None", "\"trim\": {\"used\": false, \"name\": null, \"result\": null}"},
      {{Step(STEP_TRIM, 0)}, "None", ""},
      {{}, "None", "\"passes\": []"},
      {{Step(STEP_OVERWRITE, 0), Step(STEP_HW_ERASE, 0)}, "None", "", true},
  };
  for (const auto& row : rows) {
    cert_record_t r;
    r.steps = row.steps;
    r.debug_only = row.debug_only;
    ExpectIn(cert_json(r), {std::string("\"nist_category\": \"") + row.category + "\"", row.json});
  }
}

TEST(Certificate, IdentityBytesEscapedFileNamedBySerialOrKernelName) {
  cert_record_t r;
  r.name = "sdb";
  r.end = 1796621808;  // 2026-12-07 05:36:48 UTC
  for (const auto& row : std::vector<std::vector<std::string>>{
           {"AB\"C\\\x01\xc3\xa9", "\"serial\": \"AB\\\"C\\\\\\u0001\\u00c3\\u00a9\"", "AB_C____-20261207-053648"},
           {"", "\"serial\": null", "sdb-20261207-053648"}}) {
    r.serial = row[0];
    ExpectIn(cert_json(r), {row[1], "\"end_time\": \"2026-12-07T05:36:48Z\""});
    EXPECT_EQ(row[2], cert_file_stem(r));
  }
}

TEST(Certificate, FirmwareComesFromTheAtaSerialTextOrTheNvmeDetails) {
  for (const auto& row : std::vector<std::vector<std::string>>{  // serial text, detail, serial, firmware
           {"WD-123 firmware: 01.01A01", "", "WD-123", "01.01A01"}, {"S4EN", "Firmware: 2B2QEXM7", "S4EN", "2B2QEXM7"},
           {"n/a", "Health: good", "", ""}}) {
    std::string serial, firmware;
    cert_split_firmware(row[0], {row[1]}, serial, firmware);
    EXPECT_EQ(row[2] + "|" + row[3], serial + "|" + firmware);
  }
}
