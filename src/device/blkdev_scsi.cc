#include "device/blkdev_scsi.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "app/log.h"
#include "app/paths.h"
#include "app/util.h"
#include "command/threaded_command.h"
#include "device/scsi.h"

CBlkDevScsi::~CBlkDevScsi() {}

int CBlkDevScsi::Init() {
  LOG_TRACE(g_dbg_log, "Initializing SCSI device " << Name());
  if (Name().empty()) return -1;
  const std::string prefix = "Disk-" + Name();
  unique_fd file = OpenNode();
  if (!file.valid()) return -1;
  const int fd = file.get();

  ClearCommands();
  max_write_same_blocks = 0;
  if (!base_type_known) {
    base_type_name = type_name;
    base_type_known = true;
  }

  int version = 0;
  if (sys_ioctl(fd, SG_GET_VERSION_NUM, &version) < 0)
    LOG_WARN(g_dbg_log, prefix << ": Unable to get SCSI version");
  else
    LOG_INFO(g_dbg_log, prefix << ": SCSI version is " << version);

  CScsiInquiryCmd inquiry;
  if (inquiry.Run(fd, SCSI_INQUIRY_STANDARD) == 0) {
    std::string v = scsi_inquiry_vendor(inquiry.data);
    if (v.size() > vendor.size()) vendor = v;
    std::string p = scsi_inquiry_product(inquiry.data);
    if (p.size() > model.size()) model = p;
    std::string types = base_type_name;
    scsi_append_version_texts(inquiry.data, types);
    type_name = types;
  }

  bool has_serial = false, has_limits = false, has_provisioning = false;
  if (inquiry.Run(fd, VPD_SUPPORTED_PAGES) != 0) {
    LOG_TRACE(g_dbg_log, prefix << ": SCSI VPD page 00 is not supported");
  } else {
    std::string list;
    for (int page : scsi_vpd_supported_pages(inquiry.data)) {
      char hex[8];
      snprintf(hex, sizeof hex, "%02x ", page);
      list += hex;
      if (page == VPD_UNIT_SERIAL) has_serial = true;
      if (page == VPD_BLOCK_LIMITS) has_limits = true;
      if (page == VPD_LOGICAL_BLOCK_PROVISIONING) has_provisioning = true;
    }
    LOG_TRACE(g_dbg_log, prefix << ": SCSI VPD page 00, supported pages: " << list);
  }

  if (has_serial && inquiry.Run(fd, VPD_UNIT_SERIAL) == 0 && inquiry.data[3] != 0) {
    std::string s = scsi_vpd_unit_serial(inquiry.data);
    if (s.size() > serial.size()) serial = s;
  }

  LOG_INFO(g_wipe_log,
           prefix << ": " << model << ", s/n: " << (serial.empty() ? "n/a" : serial) << " scsi device detected.");
  LOG_INFO(g_wipe_log, prefix << ": " << CSizeStr(size_bytes, 'A') << ", " << CSizeStr(size_bytes, 'B'));

  commands.push_back(command_ptr(new CWipeCommand<CBlkDev>(this, BLKDEV_CMD_WIPE, false, "Wipe")));

  if (has_limits && inquiry.Run(fd, VPD_BLOCK_LIMITS) == 0 && inquiry.data[3] != 0) {
    max_write_same_blocks = scsi_vpd_max_write_same(inquiry.data);
    LOG_TRACE(g_dbg_log, prefix << ": VPD Block Limits page (b0), max_write_same=" << max_write_same_blocks);
    LOG_TRACE(g_dbg_log,
              prefix << ": VPD Block Limits page (b0), max_unmap_lba=" << scsi_vpd_max_unmap_lba(inquiry.data));
  }

  if (has_provisioning && inquiry.Run(fd, VPD_LOGICAL_BLOCK_PROVISIONING) == 0 && inquiry.data[3] != 0) {
    unsigned char flags = inquiry.data[5];
    LOG_TRACE(g_dbg_log, prefix << ": VPD Block Provisioning page (b2), THRESHOLD EXPONENT=" << (int)inquiry.data[4]);
    LOG_TRACE(g_dbg_log, prefix << ": VPD Block Provisioning page (b2), flags byte[5]=" << (int)flags);
    // Only WRITE SAME(16) with UNMAP is used to trim; UNMAP alone or
    // WRITE SAME(10) does not make the device trimmable.
    if (flags & VPD_LBPWS) commands.push_back(command_ptr(new CTrimCommand<CBlkDev>(this)));
    LOG_TRACE(g_dbg_log, prefix << ": VPD Block Provisioning page (b2), bits is " << scsi_vpd_provisioning_text(flags));
  }
  return 0;
}

namespace {

// Logs what the sense data of a failed command says, on the low-level logger.
void log_sense(const unsigned char* sense) {
  scsi_sense_t s = scsi_decode_sense(sense);
  LOG_DEBUG(g_ll_log, "sense data: RESPONSE CODE is " << CHexCode(s.response_code, scsi_sensecode2txt));
  LOG_INFO(g_ll_log, "sense data: SENSE KEY is " << CHexCode(s.key, scsi_sensekey2txt));
  LOG_INFO(g_ll_log, "sense data: ADDITIONAL SENSE CODE, QUALIFIER is " << CHexCode(s.asc) << ", " << CHexCode(s.ascq));
  if (s.asc == 0x20 && s.ascq == 0) LOG_INFO(g_ll_log, "sense data: this means 'INVALID COMMAND OPERATION CODE'");
  if (s.asc == 0x24 && s.ascq == 0) LOG_INFO(g_ll_log, "sense data: this means 'INVALID FIELD IN CDB'");
  int additional = sense[7];
  LOG_DEBUG(g_ll_log, "sense data: ADDITIONAL SENSE LEN is " << additional);
  // The dump stays inside the sense buffer whatever length the device claims.
  unsigned char copy[SCSI_SENSE_LEN];
  memcpy(copy, sense, sizeof copy);
  dump_buffer(copy + 8, std::min(additional, SCSI_SENSE_LEN - 8), 8);
}

}  // namespace

int CBlkDevScsi::Trim_helper_trim_range(const CDevFile& file, unsigned long lba, unsigned int count) const {
  if (count == 0) return 0;  // nothing to discard; 0 blocks would mean "to the end of the medium"
  uint32_t blocks = count;
  // A stored maximum of 0 means the device gave no limit (or its Block
  // Limits page was not read). A WRITE SAME(16) with 0 blocks would unmap up
  // to the end of the medium, so such a device is sent the range itself,
  // which the TRIM pass keeps to at most one chunk.
  if (max_write_same_blocks != 0 && count > max_write_same_blocks) {
    LOG_ERROR(g_ll_log,
              "Disk-" << Name() << " Sectors range too large: " << count << " but max is " << max_write_same_blocks);
    blocks = (uint32_t)max_write_same_blocks;
  }
  if (lba > SCSI_MAX_LBA48 || blocks - 1 > SCSI_MAX_LBA48 - lba) {
    LOG_ERROR(g_ll_log, "Unable to execute TRIM command on SCSI device: LBA " << lba << " is beyond 48 bits");
    return -1;
  }

  unsigned char cdb[16];
  unsigned char sense[SCSI_SENSE_LEN];
  unsigned char block[SCSI_WRITE_SAME_DATA_LEN];
  // A device that cannot unmap writes this block to every block of the range.
  memset(block, 0, sizeof block);
  scsi_build_write_same16_unmap(cdb, lba, blocks);
  sg_io_result_t r = sg_io(file.GetFd(), {cdb, sizeof cdb, SG_DXFER_TO_DEV, block, sizeof block, sense, sizeof sense,
                                          SCSI_WRITE_SAME_TIMEOUT_MS});
  if (r.rc < 0) {
    LOG_ERROR(g_ll_log, "Unable to execute TRIM command on SCSI device: ioctl failed: " << strerror(r.error));
    return -1;
  }
  if (r.status == SCSI_STATUS_GOOD) {
    // GOOD from the device, but the command may still have been lost on the
    // way (host adapter or driver error): that is no discard either.
    if (r.transport_failed()) {
      LOG_ERROR(g_ll_log, "Unable to execute TRIM command on SCSI device: host status is "
                              << CHexCode(r.host_status) << ", driver status is " << CHexCode(r.driver_status));
      return -1;
    }
    return 0;
  }
  LOG_ERROR(g_ll_log,
            "Unable to execute TRIM command on SCSI device: status code is " << CHexCode(r.status, scsi_status2txt));
  if (r.status == SCSI_STATUS_CHECK_CONDITION) log_sense(sense);
  return -1;
}
