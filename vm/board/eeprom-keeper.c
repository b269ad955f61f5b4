/* The VPD EEPROM's memory on the virtual board. The EEPROM is the kernel's i2c-stub at 0x54 on bus 0,
 * whose bytes live in kernel memory and vanish when the board loses power; a real EEPROM keeps
 * what was written to it. This program keeps the stub's 256 bytes in the first sector of the
 * state disk (a host file, which outlives QEMU however it ends):
 *
 *   eeprom-keeper restore   at boot: the saved bytes into the stub
 *   eeprom-keeper watch     polls the stub every POLL_US and stores its bytes as soon as they change
 *   eeprom-keeper save      stores the stub's bytes once (before an orderly reboot or power-off)
 *
 * A byte written to the stub is therefore stored within one poll and one disk write: a power cut
 * in that window loses it, as a cut inside a real EEPROM's write cycle may. The sector is written
 * with O_DIRECT, past the guest's page cache, so that it is in the host file when the write ends. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#define BUS "/dev/i2c-0"
#define ADDRESS 0x54
#define STATE_DISK "/dev/vda"
#define EEPROM_SIZE 256
#define SECTOR 512
#define CHUNK 32
#define POLL_US 2000

static int open_eeprom(void)
{
    int bus = open(BUS, O_RDWR);
    if (bus < 0 || ioctl(bus, I2C_SLAVE, ADDRESS) < 0) {
        perror("eeprom-keeper: " BUS);
        exit(1);
    }
    return bus;
}

static int transfer(int bus, char direction, unsigned char command, unsigned char *bytes)
{
    union i2c_smbus_data data;
    struct i2c_smbus_ioctl_data request = {direction, command, I2C_SMBUS_I2C_BLOCK_DATA, &data};
    data.block[0] = CHUNK;
    if (direction == I2C_SMBUS_WRITE)
        memcpy(data.block + 1, bytes, CHUNK);
    if (ioctl(bus, I2C_SMBUS, &request) < 0)
        return -1;
    if (direction == I2C_SMBUS_READ)
        memcpy(bytes, data.block + 1, CHUNK);
    return 0;
}

/* All 256 bytes, read from the stub or written to it, a block at a time. */
static int transfer_all(int bus, char direction, unsigned char *bytes)
{
    for (int offset = 0; offset < EEPROM_SIZE; offset += CHUNK)
        if (transfer(bus, direction, (unsigned char)offset, bytes + offset) < 0)
            return -1;
    return 0;
}

static int open_disk(int flags)
{
    int disk = open(STATE_DISK, flags);
    if (disk < 0) {
        perror("eeprom-keeper: " STATE_DISK);
        exit(1);
    }
    return disk;
}

static int restore(void)
{
    int bus = open_eeprom();
    int disk = open_disk(O_RDONLY);
    unsigned char bytes[EEPROM_SIZE];
    if (pread(disk, bytes, EEPROM_SIZE, 0) != EEPROM_SIZE) {
        perror("eeprom-keeper: " STATE_DISK);
        return 1;
    }
    if (transfer_all(bus, I2C_SMBUS_WRITE, bytes) < 0) {
        perror("eeprom-keeper: restoring the EEPROM");
        return 1;
    }
    return 0;
}

/* Stores the stub's bytes once, or (watching) whenever they change. The stored copy is the disk
 * sector itself, aligned for O_DIRECT. */
static int keep(int watching)
{
    int bus = open_eeprom();
    int disk = open_disk(O_WRONLY | O_DIRECT);
    void *sector;
    if (posix_memalign(&sector, SECTOR, SECTOR) != 0)
        return 1;
    memset(sector, 0, SECTOR);
    unsigned char *stored = sector, now[EEPROM_SIZE];
    if (transfer_all(bus, I2C_SMBUS_READ, stored) < 0) {
        perror("eeprom-keeper: reading the EEPROM");
        return 1;
    }
    const struct timespec poll = {0, POLL_US * 1000L};
    for (;;) {
        if (pwrite(disk, sector, SECTOR, 0) != SECTOR)
            perror("eeprom-keeper: " STATE_DISK);
        if (!watching)
            return 0;
        do
            nanosleep(&poll, NULL);
        while (transfer_all(bus, I2C_SMBUS_READ, now) < 0 || memcmp(now, stored, EEPROM_SIZE) == 0);
        memcpy(stored, now, EEPROM_SIZE);
    }
}

int main(int argc, char **argv)
{
    const char *what = argc == 2 ? argv[1] : "";
    if (strcmp(what, "restore") == 0)
        return restore();
    if (strcmp(what, "watch") == 0)
        return keep(1);
    if (strcmp(what, "save") == 0)
        return keep(0);
    fprintf(stderr, "usage: eeprom-keeper restore|watch|save\n");
    return 2;
}
