// Read-only services of a device: its partitions as the kernel sees them and
// the reading of one sector.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "app/log.h"
#include "app/paths.h"
#include "device/blkdev.h"

void CBlkDev::ScanPartitions() {
  const blkdev_node_t node = Node();
  if (node.major == 0 || node.name.size() < 2) return;
  LOG_INFO(g_dbg_log, node.name << ": Scanning partitions");
  char path[512];
  snprintf(path, sizeof path, "/sys/block/%s", node.name.c_str());
  DIR* dir = opendir(sys_path(path).c_str());
  if (!dir) {
    LOG_ERROR(g_dbg_log, node.name << ": Scanning partitions failed: device detached");
    return;
  }
  while (struct dirent* ent = readdir(dir)) {
    if (strncmp(ent->d_name, node.name.c_str(), node.name.size()) != 0) continue;
    part_t part;
    part.number = strtol(ent->d_name + node.name.size(), nullptr, 10);

    long long sectors = 0;
    snprintf(path, sizeof path, "/sys/block/%s/%s/size", node.name.c_str(), ent->d_name);
    if (FILE* f = fopen(sys_path(path).c_str(), "r")) {
      if (fscanf(f, "%lld", &sectors) != 1) {
        LOG_WARN(g_dbg_log, node.name << ": Scanning partitions failed: unable to read partition size");
        sectors = 0;
      }
      fclose(f);
    }
    part.size = (uint64_t)sectors * 512;

    snprintf(path, sizeof path, "/sys/block/%s/%s/dev", node.name.c_str(), ent->d_name);
    if (FILE* f = fopen(sys_path(path).c_str(), "r")) {
      int pmajor = 0, pminor = 0;
      if (fscanf(f, "%d:%d", &pmajor, &pminor) != 2) pmajor = pminor = 0;
      fclose(f);
      CDevFile part_node;
      part_node.OpenFile(pmajor, pminor, ent->d_name, 0);
      part_node.Close();
    }
    LOG_INFO(g_dbg_log, node.name << ": Found partition #" << part.number << " size: " << part.size);
    partitions.push_back(part);
  }
  closedir(dir);
  LOG_INFO(g_dbg_log, node.name << ": Scanning complete");
}

int CBlkDev::ReadSector(unsigned long long lba, unsigned char* buf) {
  if (!buf) return -1;
  unique_fd file = OpenNode(O_RDONLY);
  if (!file.valid()) return -1;
  if (lseek64(file.get(), (off64_t)(lba * 512), SEEK_SET) == (off64_t)-1) return errno;
  ssize_t got = read(file.get(), buf, 512);
  return got == 512 ? 0 : -1;
}
