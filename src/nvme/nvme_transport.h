// How an NVMe command reaches the drive: the kernel's pass-through ioctls on
// the namespace's block device node. The device class talks only to this
// interface, so the tests put a software drive behind it.
#pragma once
#include <linux/nvme_ioctl.h>

class CNvmeTransport {
 public:
  virtual ~CNvmeTransport() {}
  // Each returns 0 on success, the completion status (status code type and
  // code) when the drive refused the command, or -1 when it could not be sent
  // (errno tells why).
  virtual int Admin(int fd, nvme_admin_cmd& cmd) = 0;
  virtual int Io(int fd, nvme_passthru_cmd& cmd) = 0;
  // The namespace the node stands for; -1 when the kernel does not say.
  virtual int NamespaceId(int fd) = 0;
};

class CNvmeIoctl : public CNvmeTransport {
 public:
  int Admin(int fd, nvme_admin_cmd& cmd) override;
  int Io(int fd, nvme_passthru_cmd& cmd) override;
  int NamespaceId(int fd) override;
};
