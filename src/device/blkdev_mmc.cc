#include <stdio.h>

#include <string>

#include "app/log.h"
#include "app/paths.h"
#include "app/util.h"
#include "command/threaded_command.h"
#include "device/blkdev_removable.h"

CBlkDevMmc::~CBlkDevMmc() {}

int CBlkDevMmc::Init() {
  LOG_TRACE(g_dbg_log, "Initializing SD/MMC device " << Name());
  if (Name().empty()) return -1;
  const std::string dir = sys_path("/sys/block/" + Name() + "/device/");

  std::string product;  // the card's product name
  read_string_from_file((dir + "name").c_str(), product);
  read_string_from_file((dir + "serial").c_str(), serial);
  if (serial.compare(0, 2, "0x") == 0) serial.erase(0, 2);
  read_string_from_file((dir + "type").c_str(), type_name);
  model = type_name + " card ";
  if (product != type_name) model += product;

  ClearCommands();
  commands.push_back(command_ptr(new CWipeCommand<CBlkDev>(this, BLKDEV_CMD_WIPE, false, "Wipe")));

  LOG_INFO(g_wipe_log, "Disk-" << Name() << ": " << model << ", s/n: " << (serial.empty() ? "n/a" : serial)
                               << " SD/MMC device detected.");
  LOG_INFO(g_wipe_log, "Disk-" << Name() << ": " << CSizeStr(size_bytes, 'A') << ", " << CSizeStr(size_bytes, 'B'));

  std::string date;
  read_string_from_file((dir + "date").c_str(), date);
  details.push_back("Manufacturing date: " + date);
  return 0;
}
