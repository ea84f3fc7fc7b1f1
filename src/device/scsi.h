// SCSI commands the program sends through SG_IO: INQUIRY with its vital
// product data (VPD) pages and WRITE SAME(16) with UNMAP; the decoders of
// their data and of sense data; the texts for status codes, sense keys,
// sense response codes and version descriptors.
//
// Every SG_IO call of the program (these commands and ATA PASS-THROUGH) is
// one sg_io() call, which goes through sys_ioctl() (app/paths.h), so tests
// answer them with byte fixtures.
#pragma once
#include <scsi/sg.h>
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// ---- SG_IO ----

// One SCSI command for sg_io(): the CDB, the data phase and the sense buffer.
struct sg_io_request_t {
  const unsigned char* cdb;
  unsigned char cdb_len;
  int direction;  // SG_DXFER_NONE, SG_DXFER_FROM_DEV or SG_DXFER_TO_DEV
  void* data;     // null (with data_len 0) for no data
  unsigned data_len;
  unsigned char* sense;  // cleared before the command goes out
  unsigned char sense_len;
  unsigned timeout_ms;
};

// What came back: the ioctl's own result and, when it ran, the statuses.
struct sg_io_result_t {
  int rc;  // the ioctl's result: 0, or not with `error` its errno
  int error;
  int status;  // SAM status of the device
  int host_status, driver_status;
  bool check;  // SG_INFO_CHECK: device, host adapter or driver reported something
  // The host adapter or the driver lost the command. The driver status's
  // low nibble 0x08 only says that sense data came along.
  bool transport_failed() const;
};

// Builds the SG_IO header for `req`, runs the ioctl and decodes the result.
sg_io_result_t sg_io(int fd, const sg_io_request_t& req);

// ---- texts ----

constexpr int SCSI_STATUS_GOOD = 0x00;
constexpr int SCSI_STATUS_CHECK_CONDITION = 0x02;

// SAM status name; "Reserved" for unassigned values and anything above 64.
const char* scsi_status2txt(int status);
// Sense key name; "Undefined" outside 0..15.
const char* scsi_sensekey2txt(int key);
// Sense data response code (byte 0 of the sense data).
const char* scsi_sensecode2txt(int code);

// One entry of the version descriptor table (generated at build time from
// src/device/scsi-version-descriptors.tsv, sorted by code).
struct scsi_version_descriptor_t {
  uint16_t code;
  const char* text;
};
extern const scsi_version_descriptor_t g_scsi_version_descriptors[];
extern const size_t g_scsi_version_descriptor_count;
// The designation of a version descriptor code, or null when not listed.
const char* scsi_version_descriptor_text(int code);

// ---- INQUIRY ----

constexpr int SCSI_INQUIRY_STANDARD = -1;  // page argument for standard data
constexpr int SCSI_INQUIRY_STANDARD_LEN = 96;
constexpr int SCSI_INQUIRY_VPD_LEN = 255;
constexpr int SCSI_INQUIRY_BUFFER = 256;
constexpr int SCSI_SENSE_LEN = 32;
constexpr unsigned SCSI_INQUIRY_TIMEOUT_MS = 10000;

enum scsi_vpd_page_e {
  VPD_SUPPORTED_PAGES = 0x00,
  VPD_UNIT_SERIAL = 0x80,
  VPD_DEVICE_IDENTIFICATION = 0x83,
  VPD_EXTENDED_INQUIRY = 0x86,
  VPD_BLOCK_LIMITS = 0xB0,
  VPD_LOGICAL_BLOCK_PROVISIONING = 0xB2,
};

// Writes the 6-byte INQUIRY CDB for `page` (SCSI_INQUIRY_STANDARD or one of
// the VPD pages above) and returns its allocation length; -1 for a page the
// program does not ask for (the CDB is left alone).
int scsi_build_inquiry_cdb(unsigned char* cdb, int page);

// Standard INQUIRY data: vendor (bytes 8-15) and product (16-31), trimmed.
std::string scsi_inquiry_vendor(const unsigned char* data);
std::string scsi_inquiry_product(const unsigned char* data);
// Version descriptor `index` (0..7), big-endian at bytes 58 + 2 * index.
int scsi_inquiry_version_descriptor(const unsigned char* data, int index);
// Appends the designations of the version descriptors in order to `text`,
// joined by "/", up to the first code that is not in the table.
void scsi_append_version_texts(const unsigned char* data, std::string& text);

// VPD 00: the page codes listed.
std::vector<int> scsi_vpd_supported_pages(const unsigned char* data);
// VPD 80: the unit serial number, trimmed (empty for a zero length).
std::string scsi_vpd_unit_serial(const unsigned char* data);
// VPD B0: MAXIMUM WRITE SAME LENGTH (bytes 36-43), MAXIMUM UNMAP LBA COUNT (20-23).
uint64_t scsi_vpd_max_write_same(const unsigned char* data);
uint32_t scsi_vpd_max_unmap_lba(const unsigned char* data);
// VPD B2 byte 5: the names of the provisioning bits that are set.
std::string scsi_vpd_provisioning_text(unsigned char flags);
// VPD B2 byte 5, bit 6: WRITE SAME(16) with the UNMAP bit is supported.
constexpr unsigned char VPD_LBPWS = 0x40;

// One INQUIRY with its buffers.
class CScsiInquiryCmd {
 public:
  // page SCSI_INQUIRY_STANDARD (-1) or a VPD page code; 0 when the device
  // answered (the answer is in `data`), -1 or the ioctl's negative result.
  int Run(int fd, int page);

  unsigned char data[SCSI_INQUIRY_BUFFER] = {};
  unsigned char cdb[6] = {};
  unsigned char sense[SCSI_SENSE_LEN] = {};
};

// ---- WRITE SAME(16) and sense data ----

constexpr int SCSI_WRITE_SAME_DATA_LEN = 512;
constexpr unsigned SCSI_WRITE_SAME_TIMEOUT_MS = 5000;
constexpr uint64_t SCSI_MAX_LBA48 = 0xFFFFFFFFFFFFULL;

// WRITE SAME(16) with the UNMAP bit: `lba` in bytes 4-9 (48 bits, bytes 2-3
// zero), `blocks` in bytes 10-13.
void scsi_build_write_same16_unmap(unsigned char* cdb, uint64_t lba, uint32_t blocks);

// Sense key, ASC and ASCQ from fixed (0x70, 0x71) or descriptor (0x72, 0x73)
// sense data; all three are SCSI_SENSE_UNKNOWN for any other response code.
constexpr int SCSI_SENSE_UNKNOWN = (int)0xDEADBEEFu;
struct scsi_sense_t {
  int response_code;
  int key;
  int asc;
  int ascq;
};
scsi_sense_t scsi_decode_sense(const unsigned char* sense);
