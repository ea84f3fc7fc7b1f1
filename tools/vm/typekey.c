/* Types text into a terminal's input queue, as if it came from the keyboard:
 *   zv-typekey /dev/ttyS0 q
 * The test VM's init uses it to press a key of the program on the serial
 * console (for example Q to end a session once every report is written). */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s TTY TEXT\n", argv[0]);
    return 2;
  }
  int fd = open(argv[1], O_RDWR | O_NOCTTY);
  if (fd < 0) {
    perror(argv[1]);
    return 1;
  }
  for (const char* p = argv[2]; *p; ++p) {
    if (ioctl(fd, TIOCSTI, p) < 0) {
      perror("TIOCSTI");
      close(fd);
      return 1;
    }
  }
  close(fd);
  return 0;
}
