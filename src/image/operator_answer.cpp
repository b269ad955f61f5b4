#include <unistd.h>

#include "image/image_internal.h"
#include "platform/os.h"

// Read a key at a time, so that nothing typed after the line end is taken away from the menu that
// reads the console next.  The rest of a line too long to keep is read and dropped, so that it
// becomes neither the next answer nor menu keys.  Input that ends inside a line still gives that
// line; input that ends before it, or a read that fails or is interrupted, gives no answer.
bool read_answer(char (&answer)[ANSWER_SIZE])
{
    unsigned kept = 0;
    for (;;) {
        char key = 0;
        const ssize_t n = os::read(STDIN_FILENO, &key, 1);
        if (n < 0 || (n == 0 && kept == 0))
            return false;
        if (n == 0 || key == '\n')
            break;
        if (kept < ANSWER_SIZE - 1)
            answer[kept++] = key;
    }
    answer[kept] = '\0';
    return true;
}
