#include "nvme/nvme_transport.h"

#include <sys/ioctl.h>

#include "app/paths.h"

// The ioctl returns the completion status's status field, or -1.
static int nvme_status_of(int rc) { return rc > 0 ? rc & 0x7FF : rc < 0 ? -1 : 0; }

int CNvmeIoctl::Admin(int fd, nvme_admin_cmd& cmd) { return nvme_status_of(sys_ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd)); }

int CNvmeIoctl::Io(int fd, nvme_passthru_cmd& cmd) { return nvme_status_of(sys_ioctl(fd, NVME_IOCTL_IO_CMD, &cmd)); }

int CNvmeIoctl::NamespaceId(int fd) {
  int rc = sys_ioctl(fd, NVME_IOCTL_ID, nullptr);
  return rc > 0 ? rc : -1;
}
