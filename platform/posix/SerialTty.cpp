// A serial port that is a terminal device: termios for the line settings;
// reads never block in the driver (VMIN = VTIME = 0), the time-outs are the
// serial table's (termios VTIME counts tenths, too coarse for the 52 ms a
// read may last at 9600 baud).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "platform/SerialPort.h"

namespace {

int Fd(const SerialPort& p) { return static_cast<int>(p.sys); }

struct BaudRate {
  uint32_t baud;
  speed_t speed;
};

constexpr BaudRate kRates[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},       {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000}, {576000, B576000}, {921600, B921600}, {1000000, B1000000},
#endif
};

bool SpeedOf(uint32_t baud, speed_t& speed) {
  for (const auto& r : kRates)
    if (r.baud == baud) {
      speed = r.speed;
      return true;
    }
  return false;
}

uint32_t BaudOf(speed_t speed) {
  for (const auto& r : kRates)
    if (r.speed == speed) return r.baud;
  return 0;
}

tcflag_t SizeFlag(uint8_t dataBits) {
  switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

uint8_t DataBitsOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
  }
}

bool GetSettings(SerialPort& p, SerialSettings& s) {
  termios tio{};
  if (tcgetattr(Fd(p), &tio) != 0) return SerialFail(errno);
  s.baud = BaudOf(cfgetospeed(&tio));
  s.parity = (tio.c_cflag & PARENB) ? ((tio.c_cflag & PARODD) ? 'O' : 'E') : 'N';
  s.dataBits = DataBitsOf(tio.c_cflag);
  s.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
  s.flagsSet = (tio.c_iflag & (INPCK | IXON | IXOFF | PARMRK)) != 0 || (tio.c_cflag & CRTSCTS) != 0;
  return true;
}

bool SetSettings(SerialPort& p, const SerialSettings& s) {
  const int fd = Fd(p);
  speed_t speed;
  if (!SpeedOf(s.baud, speed) || s.dataBits < 5 || s.dataBits > 8) return SerialFail(EINVAL);
  termios old{};
  if (tcgetattr(fd, &old) != 0) return SerialFail(errno);

  termios tio = old;
  cfmakeraw(&tio);  // binary transfer: no echo, no line editing, no translation
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
  tio.c_cflag |= SizeFlag(s.dataBits) | CLOCAL | CREAD;
  const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(s.parity)));
  if (parity == 'E') tio.c_cflag |= PARENB;
  if (parity == 'O') tio.c_cflag |= PARENB | PARODD;
  if (s.stopBits == 2) tio.c_cflag |= CSTOPB;
  if (s.flagsSet) {
    // Keep whatever flow control the driver had, and check parity on input.
    tio.c_iflag |= old.c_iflag & (IXON | IXOFF);
    if (tio.c_cflag & PARENB) tio.c_iflag |= INPCK;
  } else {
    tio.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY | PARMRK);
    tio.c_cflag &= ~CRTSCTS;
  }
  // Reads never block in the driver; the time-outs are ours (SerialRead).
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  // The C library reports EINVAL when the driver changed part of what was
  // asked, which a pseudo-terminal always does: it keeps 8 data bits and no
  // parity whatever it is told. The check below decides instead.
  if (tcsetattr(fd, TCSANOW, &tio) != 0 && errno != EINVAL) return SerialFail(errno);

  // Everything a pseudo-terminal keeps must have taken: the rate, the stop
  // bits, the parity sense and raw reads.
  termios now{};
  if (tcgetattr(fd, &now) != 0) return SerialFail(errno);
  const tcflag_t kept = PARODD | CSTOPB | CLOCAL | CREAD;
  if (cfgetospeed(&now) != speed || cfgetispeed(&now) != speed ||
      (now.c_cflag & kept) != (tio.c_cflag & kept) || (now.c_lflag & (ICANON | ECHO)) != 0 ||
      now.c_cc[VMIN] != 0 || now.c_cc[VTIME] != 0) {
    tcsetattr(fd, TCSANOW, &old);
    return SerialFail(EINVAL);
  }
  if (!s.flagsSet) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);  // a pseudo-terminal has no modem lines
  }
  return true;
}

bool Purge(SerialPort& p) {
  if (tcflush(Fd(p), TCIOFLUSH) != 0) return SerialFail(errno);
  return true;
}

bool Waiting(SerialPort& p, uint32_t& bytesWaiting) {
  // The driver keeps no error state to clear: framing and parity errors
  // already dropped their bytes (no INPCK) or were passed through.
  int n = 0;
  if (ioctl(Fd(p), FIONREAD, &n) != 0) return SerialFail(errno);
  bytesWaiting = n > 0 ? static_cast<uint32_t>(n) : 0;
  return true;
}

long ReadSome(SerialPort& p, uint8_t* buffer, size_t count) {
  const ssize_t n = read(Fd(p), buffer, count);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  // 0: nothing there (VMIN = 0), or a hung-up line; the wait tells.
  return n < 0 ? -1 : static_cast<long>(n);
}

long WriteSome(SerialPort& p, const uint8_t* data, size_t count) {
  const ssize_t n = write(Fd(p), data, count);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;  // no room: the wait follows
  return n < 0 ? -1 : static_cast<long>(n);
}

intptr_t WaitObject(SerialPort& p) { return p.sys; }

void Close(SerialPort& p) {
  // The exclusive mode sticks to the device while anyone else still has it
  // open; drop it so the port can be opened again later.
  ioctl(Fd(p), TIOCNXCL);
  close(Fd(p));
}

constexpr SerialTransport kTty = {GetSettings, SetSettings, Purge,      Waiting, ReadSome,
                                  WriteSome,   nullptr,     WaitObject, Close};

}  // namespace

int SerialDeviceOpen(const RemoteAddress& /*address*/, SerialPort& port) {
  const int fd = open(port.setting.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  // Exclusive like a Windows COM port. TIOCEXCL alone does not stop root, so
  // an advisory lock guards against a second opener too (another program
  // instance, or this one opening the port twice).
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    close(fd);
    return EBUSY;
  }
  ioctl(fd, TIOCEXCL);  // fails harmlessly on what is not a terminal
  port.sys = fd;
  port.ops = &kTty;
  return 0;
}
