/* The demo application: says which image it was built into, then powers the board off, as the end
 * of a boot that reached the application. IMAGE_TEXT is given when the demo archive is made. */
#include <stdio.h>
#include <unistd.h>

#ifndef IMAGE_TEXT
#error "IMAGE_TEXT names the image this application is packed into"
#endif

int main(int argc, char **argv)
{
    (void)argc;
    printf("%s: %s\n", argv[0], IMAGE_TEXT);
    fflush(stdout);
    execl("/sbin/poweroff", "poweroff", (char *)NULL);
    perror("demo application: cannot power off");
    return 1;
}
