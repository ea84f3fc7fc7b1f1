// The certificate record: the category a wipe reaches, the record of a failed
// pass and of a drive's own erase as an asset system reads it, and where the
// firmware revision hides in a drive's identity.
#include <gtest/gtest.h>

#include "report/certificate.h"

namespace {

cert_step_t Step(cert_step_kind_e kind, int status, long long mismatch = -1) {
  cert_step_t s;
  s.kind = kind;
  s.name = kind == STEP_HW_ERASE ? "ATA Erase [zero]" : kind == STEP_VERIFY ? "verifying pass" : "wiping pass [zero]";
  s.status = status;
  s.scheme_pass = kind == STEP_OVERWRITE || kind == STEP_VERIFY;
  s.seconds = 3;
  s.mismatch = mismatch;
  return s;
}

void ExpectIn(const std::string& json, std::vector<const char*> parts) {
  for (const char* want : parts) EXPECT_NE(std::string::npos, json.find(want)) << want << "\n" << json;
}

}  // namespace

TEST(Certificate, CategoryIsPurgeOnlyAfterTheDrivesOwnEraseAndClearOnlyForSuccessfulOverwrites) {
  const struct {
    std::vector<cert_step_t> steps;
    const char* category;
    bool debug_only = false;
  } rows[] = {
      {{Step(STEP_OVERWRITE, 0), Step(STEP_VERIFY, 0), Step(STEP_TRIM, 1)}, "Clear"},
      {{Step(STEP_OVERWRITE, 0), Step(STEP_OVERWRITE, 2)}, "None"},
      {{Step(STEP_OVERWRITE, 0), Step(STEP_VERIFY, 2)}, "None"},
      {{Step(STEP_OVERWRITE, 0), Step(STEP_HW_ERASE, 0)}, "Purge"},
      {{Step(STEP_OVERWRITE, 0), Step(STEP_HW_ERASE, 2)}, "Clear"},
      {{Step(STEP_HW_ERASE, 2)}, "None"},
      {{Step(STEP_TRIM, 0)}, "None"},
      {{}, "None"},
      {{Step(STEP_OVERWRITE, 0), Step(STEP_HW_ERASE, 0)}, "None", true},
  };
  for (const auto& row : rows) {
    cert_record_t r;
    r.steps = row.steps;
    r.debug_only = row.debug_only;
    EXPECT_STREQ(row.category, cert_nist_category(r)) << cert_json(r);
  }
}

TEST(Certificate, RecordsOfAFailedPassAndOfAHardwareErase) {
  cert_record_t r;
  r.product = "Zorvane 2.69";
  r.name = "sdb";
  r.serial = "AB\"C\\\x01\xc3\xa9";
  r.steps = {Step(STEP_OVERWRITE, 0), Step(STEP_VERIFY, 2, 4096), Step(STEP_OVERWRITE, 2)};
  r.final_status = 2;
  r.end = 1796621808;  // 2026-12-07 05:36:48 UTC
  ExpectIn(cert_json(r),
           {"\"program\": {\"name\": \"Zorvane\", \"version\": \"2.69\"}", "\"serial\": \"AB\\\"C\\\\\\u0001\\u00c3\\u00a9\"",
            "{\"kind\": \"verify\", \"name\": \"verifying pass\", \"scheme_pass\": 1, \"result\": \"failed\", "
            "\"duration_seconds\": 3}", "\"verification\": {\"passes\": [1], \"result\": \"failed\", "
            "\"first_mismatch_offset\": 4096}", "\"hardware_erase\": {\"used\": false, \"name\": null, \"result\": null}",
            "\"final_status\": \"failed\"", "\"end_time\": \"2026-12-07T05:36:48Z\"", "\"nist_category\": \"None\"",
            "\"report\": {\"written\": false, \"bytes\": null, \"sha256\": null}"});
  EXPECT_EQ("AB_C____-20261207-053648", cert_file_stem(r));

  r.serial.clear();
  r.steps = {Step(STEP_OVERWRITE, 0), Step(STEP_HW_ERASE, 0)};
  r.report_written = true;
  r.report_bytes = 3;
  r.report_sha256 = sha256_hex("abc");
  ExpectIn(cert_json(r), {"\"serial\": null", "\"hardware_erase\": {\"used\": true, \"name\": \"ATA Erase [zero]\", "
                          "\"result\": \"success\"}", "\"nist_category\": \"Purge\"", "\"report\": {\"written\": true, "
                          "\"bytes\": 3, \"sha256\": \"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\"}"});
  EXPECT_EQ("sdb-20261207-053648", cert_file_stem(r));
  EXPECT_EQ("%PDF-", cert_pdf(r).substr(0, 5));
}

TEST(Certificate, FirmwareComesFromTheAtaSerialTextOrTheNvmeDetails) {
  const std::vector<std::vector<std::string>> rows = {  // serial text, detail, serial, firmware
      {"WD-123 firmware: 01.01A01", "", "WD-123", "01.01A01"},
      {"S4EN", "Firmware: 2B2QEXM7", "S4EN", "2B2QEXM7"},
      {"n/a", "Health: good", "", ""}};
  for (const auto& row : rows) {
    std::string serial, firmware;
    cert_split_firmware(row[0], {row[1]}, serial, firmware);
    EXPECT_EQ(row[2] + "|" + row[3], serial + "|" + firmware);
  }
}
