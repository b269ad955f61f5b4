#include "flash/mtd.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>  // the _IOR/_IOW behind the MTD request codes

#include "platform/os.h"

// -1 until mtd_open: a use before start-up fails plainly instead of reaching descriptor 0.
int flash_fd = -1;
FlashInfo theFlash{};

namespace {

// The sector layer masks with sector_size - 1, shifts by sector_shift and splits sectors into
// whole pieces: anything but a power of two of at least one piece would corrupt neighbouring data.
bool supported_erase_size(uint32_t erase_size)
{
    return std::has_single_bit(erase_size) && erase_size >= FLASH_WRITE_PIECE;
}

}  // namespace

int mtd_open()
{
    flash_fd = os::open("/dev/mtd0", O_RDWR | O_SYNC);
    // A flash the kernel offers only for reading (a read-only partition) still holds the images to
    // boot; what would write it then fails on its first erase.
    if (flash_fd < 0 && (errno == EACCES || errno == EROFS))
        flash_fd = os::open("/dev/mtd0", O_RDONLY);
    return flash_fd;
}

int mtd_type()
{
    mtd_info_user info{};
    if (os::ioctl(flash_fd, MEMGETINFO, &info) != 0) {
        puts("Could not get MTD device info ");
        return 0;
    }
    if (info.size == 0) {
        puts("NO FLASH !");
        return 0;
    }
    if (!supported_erase_size(info.erasesize)) {
        printf("Unsupported MTD erase size %u\n", info.erasesize);
        return 0;
    }
    theFlash.sector_size = info.erasesize;
    theFlash.sector_shift = static_cast<uint32_t>(std::countr_zero(info.erasesize));
    theFlash.total_size = info.size;
    return 1;
}

int mtd_erase(int fd, uint32_t start, uint32_t length)
{
    erase_info_user request{start, length};
    return os::ioctl(fd, MEMERASE, &request) >= 0 ? 1 : 0;
}

int mtd_read(int fd, uint32_t offset, uint32_t length, uint8_t* buffer)
{
    const ssize_t done = os::pread(fd, buffer, length, static_cast<off_t>(offset));
    return done >= 0 && static_cast<size_t>(done) == length ? 1 : 0;
}

int mtd_write(int fd, uint32_t offset, uint32_t length, const uint8_t* buffer)
{
    const ssize_t done = os::pwrite(fd, buffer, length, static_cast<off_t>(offset));
    return done >= 0 && static_cast<size_t>(done) == length ? 1 : 0;
}

int mtd_get_size(int fd, uint32_t* size)
{
    mtd_info_user info{};
    if (os::ioctl(fd, MEMGETINFO, &info) != 0)
        return 0;
    *size = info.size;
    return 1;
}
