/* Loaded into Wine (LD_PRELOAD) by the Windows end-to-end tests only.
 *
 * A pseudo-terminal stands in for the serial cable, and a pseudo-terminal
 * keeps no parity: the kernel drops PARENB from every setting. glibc's
 * tcsetattr then reports EINVAL, but only when the parity bit was the one
 * change asked for. Wine's SetCommState sets the line control in its own
 * tcsetattr call, so the first SetCommState with even parity on a fresh
 * pseudo-terminal succeeds (other bits change with it) and every later one
 * on the same pseudo-terminal fails with ERROR_INVALID_PARAMETER: the
 * console could open COM1 once and never again.
 *
 * This wrapper accepts such a call on a pseudo-terminal when the kernel took
 * everything but the bits a pseudo-terminal cannot hold, as a real UART
 * would have taken them all. Any other failure, and any other device, is
 * left alone. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

static int is_pty_slave(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  /* Unix98 pseudo-terminal slaves: majors 136..143. */
  return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

int tcsetattr(int fd, int action, const struct termios* wanted) {
  static int (*real)(int, int, const struct termios*) = 0;
  if (!real) real = (int (*)(int, int, const struct termios*))dlsym(RTLD_NEXT, "tcsetattr");
  if (!real) {
    errno = ENOSYS;
    return -1;
  }
  const int saved = errno;
  const int rc = real(fd, action, wanted);
  if (rc == 0 || errno != EINVAL || !is_pty_slave(fd)) return rc;
  struct termios now;
  if (tcgetattr(fd, &now) != 0) {
    errno = EINVAL;
    return rc;
  }
  const tcflag_t held = PARENB | PARODD | CSIZE
#ifdef CMSPAR
                        | CMSPAR
#endif
      ;
  if ((now.c_cflag & ~held) == (wanted->c_cflag & ~held) && now.c_iflag == wanted->c_iflag &&
      now.c_lflag == wanted->c_lflag && now.c_oflag == wanted->c_oflag) {
    errno = saved;
    return 0;
  }
  errno = EINVAL;
  return rc;
}
