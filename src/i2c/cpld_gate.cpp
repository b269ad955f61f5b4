// The CPLD gate that gives this processor access to the VPD EEPROM.
#include <cstdio>
#include <fcntl.h>

#include "i2c/i2c_internal.h"
#include "platform/os.h"

namespace {

const char CPLD_DEVICE[] = "/dev/tavik/cpld_mmmap";

bool seek_gate_register(int fd)
{
    if (os::lseek(fd, CPLD_SMS_REG, SEEK_SET) >= 0)
        return true;
    puts("CPLD seek error");
    return false;
}

// The register is read, changed in its one bit and written back, so the other seven bits that
// the board keeps there survive.
int change_gate(int fd, int on)
{
    uint8_t reg;
    if (!seek_gate_register(fd))
        return -1;
    if (os::read(fd, &reg, 1) != 1) {
        puts("CPLD read error");
        return -1;
    }
    reg = on ? reg | CPLD_SMS_ACCESS : reg & static_cast<uint8_t>(~CPLD_SMS_ACCESS);
    if (!seek_gate_register(fd))
        return -1;
    if (os::write(fd, &reg, 1) != 1) {
        puts("CPLD write error");
        return -1;
    }
    // The EEPROM needs this long to appear on (or leave) the bus.
    os::usleep(100000);
    return 0;
}

}  // namespace

int set_sms_access(int on)
{
    int fd = os::open(CPLD_DEVICE, O_RDWR);
    if (fd < 0) {
        puts("CPLD driver could not be opened");
        return -1;
    }
    int result = change_gate(fd, on);
    os::close(fd);
    return result;
}
